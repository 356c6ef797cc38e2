#include <atomic>
#include <barrier>
#include <thread>

#include <QCheckBox>
#include <QHelpEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "LoopbackHelpers.h"
#include "frmMain.h"

using namespace testing_loopback;

namespace {

const QByteArray samplePattern = "sync,0,0,8,170\r\nlength,0,0,16,4660\r\n"
                                 "counter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n";
} // namespace

// The window's server behaviour, through real loopback clients on port 20319.
class tst_Server : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void acceptLineAfterConnection();
    void closeLineAndListenAgain_data();
    void closeLineAndListenAgain();
    void secondClientTurnedAway();
    void suppressedEventsKeepAcceptLines();
    void resetByPeerListensAgain();
    void sendingToggles();
    void sendingFollowsSlider();
    void sendingSurvivesReconnect();
    void receivedBytesLoggedAndDumped();
    void floodDoesNotStallTicks();
    void sendLinesAddUpToBytesSent_data();
    void sendLinesAddUpToBytesSent();
    void sendButtonTipCountsSinceSwitchedOn();
    void sendButtonTipGivesBlockSize_data();
    void sendButtonTipGivesBlockSize();
    void clientsConnectingTogetherAreEachAnswered();

  private:
    QTcpSocket *connectClient() { return clients.connect(frmMain::port); }

    QTemporaryDir dir;
    frmMain *w = nullptr;
    testing_loopback::ClientSet clients;
};

void tst_Server::initTestCase()
{
    QVERIFY(dir.isValid());
    QFile f(dir.filePath("test.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(samplePattern);
}

void tst_Server::init()
{
    w = new frmMain;
    w->load(dir.filePath("test.txt"));
    QVERIFY(w->askServer->isListening());
}

void tst_Server::cleanup()
{
    clients.clear();
    delete w;
    w = nullptr;
}

void tst_Server::acceptLineAfterConnection()
{
    QCOMPARE(w->pattern(), std::vector<std::uint8_t>(sampleBytes.begin(), sampleBytes.end()));
    QVERIFY(w->txtStat->toPlainText().isEmpty());
    QTcpSocket *c = connectClient();
    QTRY_COMPARE(countStarting(w->txtStat, "Accept requestID = "), 1);
    QVERIFY(w->askServer->isConnected());
    QVERIFY(!w->askServer->isListening());
    QVERIFY(c->waitForConnected(1000));
    static const QRegularExpression accept("^Accept requestID = [1-9][0-9]* -?[0-9]+$");
    QVERIFY2(accept.match(lines(w->txtStat).at(0)).hasMatch(), qPrintable(lines(w->txtStat).at(0)));
}

void tst_Server::closeLineAndListenAgain_data()
{
    QTest::addColumn<int>("rounds");
    QTest::newRow("once") << 1;
    QTest::newRow("five clients in a row") << 5;
}

void tst_Server::closeLineAndListenAgain()
{
    QFETCH(int, rounds);
    for (int i = 1; i <= rounds; ++i) {
        QTcpSocket *c = connectClient();
        QTRY_COMPARE(countStarting(w->txtStat, "Accept requestID = "), i);
        c->disconnectFromHost();
        QTRY_COMPARE(countStarting(w->txtStat, "Close "), i);
        QTRY_VERIFY(w->askServer->isListening());
    }
    // Request ids grow with every client.
    int last = 0;
    for (const QString &l : lines(w->txtStat)) {
        if (!l.startsWith("Accept"))
            continue;
        const int id = l.split(' ').at(3).toInt();
        QVERIFY(id > last);
        last = id;
    }
    static const QRegularExpression close("^Close -?[0-9]+$");
    QVERIFY(close.match(lines(w->txtStat).at(1)).hasMatch());
}

// Refused, or, right behind the first, held for the grace and then reset.
void tst_Server::secondClientTurnedAway()
{
    QTcpSocket *first = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());
    QVERIFY(first->waitForConnected(1000));
    QTcpSocket *second = connectClient();
    QSignalSpy errors(second, &QTcpSocket::errorOccurred);
    QTRY_VERIFY(errors.count() > 0);
    QVERIFY2(second->error() == QAbstractSocket::ConnectionRefusedError ||
                 second->error() == QAbstractSocket::RemoteHostClosedError,
             qPrintable(second->errorString()));
    QCOMPARE(countStarting(w->txtStat, "Accept requestID = "), 1);
    QCOMPARE(first->state(), QAbstractSocket::ConnectedState);
}

void tst_Server::suppressedEventsKeepAcceptLines()
{
    w->chkEvent->setChecked(true);
    w->cmdSend->click();
    w->sldPeriod->setValue(20);
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());
    c->write("hello");
    QTRY_VERIFY(c->bytesAvailable() >= sampleBytes.size() * 2);
    c->disconnectFromHost();
    QTRY_VERIFY(w->askServer->isListening());
    QTest::qWait(50);
    const QStringList got = lines(w->txtStat);
    QCOMPARE(got.size(), 1);
    QVERIFY(got.at(0).startsWith("Accept requestID = "));
}

void tst_Server::resetByPeerListensAgain()
{
    w->cmdSend->click();
    w->sldPeriod->setValue(10);
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());
    QTRY_VERIFY(c->bytesAvailable() > 0);
    resetConnection(c);
    QTRY_COMPARE(countStarting(w->txtStat, "Close "), 1);
    QTRY_VERIFY(w->askServer->isListening());
    // And the next client is served as usual.
    QTcpSocket *next = connectClient();
    QTRY_COMPARE(countStarting(w->txtStat, "Accept requestID = "), 2);
    QTRY_VERIFY(next->bytesAvailable() >= sampleBytes.size());
}

void tst_Server::sendingToggles()
{
    QCOMPARE(w->cmdSend->text(), QStringLiteral("送信"));
    QCOMPARE(w->tmr1->interval(), 1000);
    w->sldPeriod->setValue(20);
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());

    w->cmdSend->click();
    QCOMPARE(w->cmdSend->text(), QStringLiteral("停止"));
    QVERIFY(w->tmr1->enabled());
    QTRY_VERIFY(c->bytesAvailable() >= 3 * sampleBytes.size());
    QTRY_VERIFY(countStarting(w->txtStat, "Send ") > 0);

    w->cmdSend->click();
    QCOMPARE(w->cmdSend->text(), QStringLiteral("送信"));
    QVERIFY(!w->tmr1->enabled());
    QTest::qWait(60);
    const QByteArray got = c->readAll();
    QTest::qWait(100);
    QCOMPARE(c->bytesAvailable(), 0);
    // Whole copies of the pattern, one after the other.
    QCOMPARE(got.size() % sampleBytes.size(), 0);
    QCOMPARE(got, sampleBytes.repeated(got.size() / sampleBytes.size()));
}

void tst_Server::sendingFollowsSlider()
{
    w->cmdSend->click();
    testing_loopback::TickSpy ticks(w->tmr1);
    w->sldPeriod->setValue(10);
    QCOMPARE(w->tmr1->interval(), 10);
    QTRY_VERIFY(ticks.count() >= 3);
    w->sldPeriod->setValue(0);
    QCOMPARE(w->tmr1->interval(), 0);
    QVERIFY(w->tmr1->enabled());
    QCOMPARE(w->cmdSend->text(), QStringLiteral("停止"));
    ticks.clear();
    QTest::qWait(50);
    QCOMPARE(ticks.count(), 0);
    w->sldPeriod->setValue(10);
    QTRY_VERIFY(ticks.count() >= 3);
}

void tst_Server::sendingSurvivesReconnect()
{
    w->sldPeriod->setValue(10);
    w->cmdSend->click();
    QTcpSocket *first = connectClient();
    QTRY_VERIFY(first->bytesAvailable() >= sampleBytes.size());
    first->disconnectFromHost();
    QTRY_VERIFY(w->askServer->isListening());
    QTcpSocket *second = connectClient();
    QTRY_VERIFY(second->bytesAvailable() >= sampleBytes.size());
    QCOMPARE(second->read(sampleBytes.size()), sampleBytes);
    QVERIFY(w->tmr1->enabled());
}

void tst_Server::receivedBytesLoggedAndDumped()
{
    w->chkDump->setChecked(true);
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());
    c->write(QByteArray::fromHex("000F107F80A5FEFF4142434445464748"));
    QTRY_COMPARE(countStarting(w->txtStat, "Receive "), 1);
    static const QRegularExpression receive("^Receive 16 -?[0-9]+$");
    QVERIFY(receive.match(lines(w->txtStat).at(1)).hasMatch());
    QCOMPARE(w->txtDump->toPlainText(),
             QStringLiteral("0000 : 00 0F 10 7F\n0001 : 80 A5 FE FF\n\n"));

    // Unchecked: read and dropped, the log line only.
    w->chkDump->setChecked(false);
    c->write("xyzw");
    QTRY_COMPARE(countStarting(w->txtStat, "Receive "), 2);
    QCOMPARE(w->txtDump->toPlainText(),
             QStringLiteral("0000 : 00 0F 10 7F\n0001 : 80 A5 FE FF\n\n"));
}

void tst_Server::floodDoesNotStallTicks()
{
    w->chkEvent->setChecked(true);
    w->sldPeriod->setValue(10);
    w->cmdSend->click();
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());
    QVERIFY(c->waitForConnected(1000));
    const QByteArray chunk(64 * 1024, 'f');
    // Keep the server's input full for the whole check.
    connect(c, &QTcpSocket::bytesWritten, c, [c, &chunk] {
        if (c->bytesToWrite() < 4 * chunk.size())
            c->write(chunk);
    });
    c->write(chunk);
    testing_loopback::TickSpy ticks(w->tmr1);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 20, 10000);
    QTRY_VERIFY(c->bytesAvailable() >= 10 * sampleBytes.size());
    c->disconnect();
}

void tst_Server::sendLinesAddUpToBytesSent_data()
{
    QTest::addColumn<int>("records");
    QTest::newRow("sample pattern") << 0;
    QTest::newRow("1 MiB pattern") << 262144;
}

// Every byte of every tick reaches a plain client whole and in order, and the
// "Send " lines add up to those bytes, a line or two a tick however large the
// block.
void tst_Server::sendLinesAddUpToBytesSent()
{
    QFETCH(int, records);
    if (records > 0) {
        QFile f(dir.filePath("big.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < records; ++i)
            f.write(QByteArray("r,0,0,32,") + QByteArray::number(i * 2654435761u % 2147483647) +
                    "\r\n");
        f.close();
        delete w;
        w = new frmMain;
        w->load(f.fileName());
    }
    const QByteArray block(reinterpret_cast<const char *>(w->pattern().data()),
                           static_cast<qsizetype>(w->pattern().size()));
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());
    testing_loopback::TickSpy ticks(w->tmr1);
    w->sldPeriod->setValue(50);
    w->cmdSend->click();
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += c->readAll(), ticks.count() >= 4), 10000);
    w->cmdSend->click();
    const qint64 total = block.size() * ticks.count();
    QTRY_VERIFY_WITH_TIMEOUT((got += c->readAll()).size() >= total, 10000);
    QTRY_COMPARE(w->askServer->bytesQueued(), 0);
    QTest::qWait(20);
    QCOMPARE(got.size(), total);
    QCOMPARE(got, block.repeated(ticks.count()));
    qint64 logged = 0;
    int sendLines = 0;
    for (const QString &l : lines(w->txtStat)) {
        if (l.startsWith("Send ")) {
            logged += l.split(' ').at(1).toLongLong();
            ++sendLines;
        }
    }
    QCOMPARE(logged, total);
    QVERIFY2(sendLines <= 2 * ticks.count(), qPrintable(QString::number(sendLines)));
}

static QString sendButtonTip(frmMain *w)
{
    const QPoint at(5, 5);
    QHelpEvent help(QEvent::ToolTip, at, w->cmdSend->mapToGlobal(at));
    QCoreApplication::sendEvent(w->cmdSend, &help);
    return QToolTip::text();
}

void tst_Server::sendButtonTipCountsSinceSwitchedOn()
{
    const auto tip = [this] { return sendButtonTip(w); };
    QCOMPARE(tip(), QStringLiteral("ブロック 9 バイト\nまだ送信していません"));
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(w->askServer->isConnected());
    w->sldPeriod->setValue(10);
    w->cmdSend->click();
    QTRY_VERIFY(c->bytesAvailable() >= 5 * sampleBytes.size());
    w->cmdSend->click();
    QTRY_COMPARE(w->askServer->bytesQueued(), 0);
    const std::int64_t sent = w->askServer->sentCopies();
    QVERIFY(tip().contains(QStringLiteral("送信したブロック: %1\n").arg(sent)));
    // Switched on again, it counts from there.
    w->cmdSend->click();
    QVERIFY(tip().contains(QStringLiteral("送信したブロック: 0\n")));
    QVERIFY(tip().contains(QStringLiteral("飛ばしたブロック: 0\n")));
}

// A pattern without records starts the server as any other; the tip says
// why 送信 then sends nothing.
void tst_Server::sendButtonTipGivesBlockSize_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("one record") << QByteArray("x,0,0,16,1\r\n") << "ブロック 2 バイト";
    const QString nothing = QStringLiteral("ブロック 0 バイト: 送るものがありません");
    QTest::newRow("empty file") << QByteArray() << nothing;
    QTest::newRow("blank lines") << QByteArray("\r\n  \r\n\r\n") << nothing;
    QTest::newRow("bare byte order mark") << QByteArray("\xEF\xBB\xBF") << nothing;
}

void tst_Server::sendButtonTipGivesBlockSize()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QString, firstLine);
    QTemporaryDir other;
    QFile f(other.filePath("test.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(pattern);
    f.close();
    delete w;
    w = new frmMain;
    w->load(other.filePath("test.txt"));
    QVERIFY(w->askServer->isListening());
    QCOMPARE(sendButtonTip(w).section(QLatin1Char('\n'), 0, 0), firstLine);
    w->cmdSend->click();
    QCOMPARE(sendButtonTip(w).section(QLatin1Char('\n'), 0, 0), firstLine);
}

// Three clients connecting at the same moment, round after round: each one
// is served (the pattern reaches it), refused or reset, and none is left
// connected to nothing. With a listen backlog of 0, about one in ten was.
void tst_Server::clientsConnectingTogetherAreEachAnswered()
{
    enum Answer { served, refused, reset, silent };
    const auto client = [](std::barrier<> &start) {
        QTcpSocket s;
        start.arrive_and_wait();
        s.connectToHost(QHostAddress::LocalHost, frmMain::port);
        // Past the kernel's SYN retries at 1 and 3 s.
        if (!s.waitForConnected(10000))
            return s.error() == QAbstractSocket::ConnectionRefusedError ? refused : reset;
        if (s.waitForReadyRead(3000))
            return served;
        return s.state() == QAbstractSocket::ConnectedState ? silent : reset;
    };
    w->sldPeriod->setValue(10);
    w->cmdSend->click();
    int count[4] = {};
    for (int round = 0; round < 30; ++round) {
        std::barrier<> start(3);
        Answer answers[3];
        std::vector<std::thread> clients;
        for (Answer &a : answers)
            clients.emplace_back([&] { a = client(start); });
        // The server answers from this thread's event loop.
        std::atomic<bool> done = false;
        std::thread joiner([&] {
            for (std::thread &c : clients)
                c.join();
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        joiner.join();
        for (const Answer a : answers)
            ++count[a];
        QTRY_VERIFY(w->askServer->isListening());
    }
    QCOMPARE(count[silent], 0);
    QVERIFY(count[served] >= 30);
    QCOMPARE(countStarting(w->txtStat, "Accept requestID = "), count[served]);
}

QTEST_MAIN(tst_Server)
#include "tst_server.moc"

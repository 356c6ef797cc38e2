#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "LoopbackHelpers.h"
#include "frmMain.h"

using namespace testing_loopback;

// A client that vanishes without a word (its segments dropped by the
// firewall of a network namespace of the test's own) is let go and the
// server listens again; one that only stops reading is kept. Each case
// takes its half minute or more, so CMake runs them side by side.
class tst_Vanish : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void vanishedClientIsLetGo_data();
    void vanishedClientIsLetGo();
    void clientThatStopsReadingIsKept();

  private:
    bool start(const QByteArray &pattern, int receiveBuffer);
    // Where PATH leaves out the system directories, as it may for a user.
    static QString nft()
    {
        const QString name = QStringLiteral("nft");
        const QString found = QStandardPaths::findExecutable(name);
        return found.isEmpty() ? QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"})
                               : found;
    }
    static bool dropSegmentsOf(quint16 port);

    QTemporaryDir dir;
    frmMain *w = nullptr;
    int client = -1;
};

void tst_Vanish::init()
{
    if (qEnvironmentVariableIsEmpty("KESMAR_PRIVATE_NETNS"))
        QSKIP("drops packets with nft: needs a network namespace of its own (netns.sh)");
    if (nft().isEmpty())
        QSKIP("drops packets with nft, which is missing: scripts/deps.sh test installs it");
}

void tst_Vanish::cleanup()
{
    if (client >= 0)
        ::close(client);
    client = -1;
    delete w;
    w = nullptr;
}

// The window serving pattern to one connected client with the given
// receive buffer (0 leaves the system's).
bool tst_Vanish::start(const QByteArray &pattern, int receiveBuffer)
{
    QFile f(dir.filePath("test.txt"));
    if (!f.open(QIODevice::WriteOnly) || f.write(pattern) != pattern.size())
        return false;
    f.close();
    w = new frmMain;
    w->load(dir.filePath("test.txt"));
    client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(frmMain::port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0)
        return false;
    ::fcntl(client, F_SETFL, O_NONBLOCK);
    return QTest::qWaitFor([this] { return w->askServer->isConnected(); }, 5000);
}

// As if the client's cable were pulled: nothing to or from its port arrives.
bool tst_Vanish::dropSegmentsOf(quint16 port)
{
    const QString p = QString::number(port);
    const QList<QStringList> commands = {
        {"add", "table", "inet", "vanish"},
        {"add", "chain", "inet", "vanish", "in", "{ type filter hook input priority 0 ; }"},
        {"add", "rule", "inet", "vanish", "in", "tcp", "sport", p, "drop"},
        {"add", "rule", "inet", "vanish", "in", "tcp", "dport", p, "drop"}};
    for (const QStringList &args : commands)
        if (QProcess::execute(nft(), args) != 0)
            return false;
    return true;
}

void tst_Vanish::vanishedClientIsLetGo_data()
{
    QTest::addColumn<bool>("sending");
    QTest::newRow("sending off") << false;
    QTest::newRow("sending on") << true;
}

void tst_Vanish::vanishedClientIsLetGo()
{
    QFETCH(bool, sending);
    QVERIFY(start("x,0,0,8,1\r\n", 0));
    if (sending) {
        w->sldPeriod->setValue(100);
        w->cmdSend->click();
        QTest::qWait(500);
    }
    sockaddr_in own{};
    socklen_t length = sizeof own;
    QCOMPARE(::getsockname(client, reinterpret_cast<sockaddr *>(&own), &length), 0);
    QVERIFY(dropSegmentsOf(ntohs(own.sin_port)));
    // Gone 30 s after its last sign of life; before, it held the server for
    // about 15 minutes with sending on, and for good with sending off.
    QTRY_VERIFY_WITH_TIMEOUT(w->askServer->isListening(), 60000);
    QCOMPARE(countStarting(w->txtStat, "Close "), 1);
}

// Stopped in a debugger, or just not reading: its system keeps answering, and
// the server keeps it however long its window stays shut.
void tst_Vanish::clientThatStopsReadingIsKept()
{
    QByteArray pattern;
    for (int i = 0; i < 16384; ++i)
        pattern += "x,0,0,32,1\r\n";
    QVERIFY(start(pattern, 4096));
    w->sldPeriod->setValue(10);
    w->cmdSend->click();
    // Half again the time in which data that is never acknowledged is given up.
    QTest::qWait(45000);
    QVERIFY(w->askServer->isConnected());
    QVERIFY2(w->askServer->skippedSends() > 0, "the client's window never filled");
    QCOMPARE(countStarting(w->txtStat, "Close "), 0);
    qint64 got = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            char buffer[65536];
            for (ssize_t n; (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
                got += n;
            return got >= 4 * 65536;
        }(),
        10000);
    QVERIFY(w->askServer->isConnected());
}

QTEST_MAIN(tst_Vanish)
#include "tst_vanish.moc"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include "LoopbackHelpers.h"
#include "QtEventLoop.h"
#include "SockCtl.h"

using kesmar::SockCtl;
using kesmar::SockCtlError;

#ifndef _WIN32
#include <sys/socket.h>
#endif

// The socket control on its own, on an ephemeral loopback port.
class tst_SockCtl : public QObject
{
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void closeKeepsAnnouncedRequestAcceptable();
    void unacceptedRequestIsRefused();
    void sendWithoutConnectionDoesNothing();
    void optionsReachTheConnection();
    void backlogIsBoundedAndCopiesStayWhole_data();
    void backlogIsBoundedAndCopiesStayWhole();
    void blocksArriveWholeAndProgressAddsUp_data();
    void blocksArriveWholeAndProgressAddsUp();
    void getDataReadsAtMostMaxLen();

  private:
    QTcpSocket *connectClient() { return clients.connect(static_cast<quint16>(ctl->boundPort())); }

    QtEventLoop loop;
    SockCtlProbe *probe = nullptr;
    SockCtl *ctl = nullptr;
    testing_loopback::ClientSet clients;
};

void tst_SockCtl::init()
{
    probe = new SockCtlProbe;
    ctl = new SockCtl(loop, *probe);
    ctl->setLocalPort(0);
    ctl->Listen();
    QVERIFY(ctl->boundPort() > 0);
}

void tst_SockCtl::cleanup()
{
    clients.clear();
    delete ctl;
    ctl = nullptr;
    delete probe;
    probe = nullptr;
}

void tst_SockCtl::closeKeepsAnnouncedRequestAcceptable()
{
    std::int32_t seen = 0;
    connect(probe, &SockCtlProbe::ConnectionRequest, this, [&](std::int32_t id) {
        seen = id;
        ctl->Close();
        ctl->Accept(id);
    });
    QSignalSpy peerClose(probe, &SockCtlProbe::PeerClose);
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(ctl->isConnected());
    QVERIFY(seen > 0);
    QVERIFY(!ctl->isListening());
    QCOMPARE(c->state(), QAbstractSocket::ConnectedState);
    // Our own Close raises nothing.
    ctl->Close();
    QTest::qWait(50);
    QCOMPARE(peerClose.count(), 0);
    QTRY_COMPARE(c->state(), QAbstractSocket::UnconnectedState);
}

void tst_SockCtl::unacceptedRequestIsRefused()
{
    QSignalSpy requests(probe, &SockCtlProbe::ConnectionRequest);
    QTcpSocket *c = connectClient();
    QTRY_COMPARE(requests.count(), 1);
    QVERIFY(!ctl->isConnected());
    QTRY_COMPARE(c->state(), QAbstractSocket::UnconnectedState);
}

void tst_SockCtl::sendWithoutConnectionDoesNothing()
{
    QSignalSpy progress(probe, &SockCtlProbe::SendProgress);
    const std::vector<std::uint8_t> bytes(100, 1);
    ctl->SendData(bytes);
    ctl->SendData({});
    QTest::qWait(20);
    QCOMPARE(progress.count(), 0);
    QCOMPARE(ctl->skippedSends(), 0);
}

void tst_SockCtl::optionsReachTheConnection()
{
    ctl->setSocketFlag(true);
    ctl->setReceiveBufferSize(32768);
    ctl->setSendBufferSize(32768);
    connect(probe, &SockCtlProbe::ConnectionRequest, this,
            [&](std::int32_t id) { ctl->Accept(id); });
    connectClient();
    QTRY_VERIFY(ctl->isConnected());
    const kesmar::net::Socket s = ctl->connection();
    QVERIFY(kesmar::net::noDelay(s));
    // Linux reports twice the size asked for, for its bookkeeping.
    for (const int size : {kesmar::net::sendBufferSize(s), kesmar::net::receiveBufferSize(s)})
        QVERIFY2(size >= 32768 && size <= 2 * 32768, qPrintable(QString::number(size)));
}

namespace {

// A block whose bytes tell their offset, so a torn or reordered copy shows.
std::vector<std::uint8_t> markedBlock(std::size_t size)
{
    std::vector<std::uint8_t> block(size);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return block;
}

bool wholeCopies(const QByteArray &got, const std::vector<std::uint8_t> &block)
{
    const auto size = static_cast<qsizetype>(block.size());
    if (got.size() % size != 0)
        return false;
    for (qsizetype off = 0; off < got.size(); off += size)
        if (!std::equal(block.begin(), block.end(),
                        reinterpret_cast<const std::uint8_t *>(got.constData() + off)))
            return false;
    return true;
}

} // namespace

void tst_SockCtl::backlogIsBoundedAndCopiesStayWhole_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("one copy waits") << 1;
    QTest::newRow("three copies wait") << 3;
}

void tst_SockCtl::backlogIsBoundedAndCopiesStayWhole()
{
    QFETCH(int, limit);
    ctl->setBacklogLimit(limit);
    connect(probe, &SockCtlProbe::ConnectionRequest, this,
            [&](std::int32_t id) { ctl->Accept(id); });
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(ctl->isConnected());
    c->setReadBufferSize(64 * 1024);
    const std::vector<std::uint8_t> block = markedBlock(1024 * 1024);
    // The client does not read: far more than the backlog is offered.
    constexpr int offered = 64;
    for (int i = 0; i < offered; ++i) {
        ctl->SendData(block);
        QVERIFY(ctl->copiesWaiting() <= limit);
        QVERIFY(ctl->bytesQueued() <= (limit + 1) * static_cast<std::int64_t>(block.size()));
        QCoreApplication::processEvents();
    }
    QVERIFY(ctl->skippedSends() > 0);

    // Now drain everything and check only whole, ordered copies arrived.
    c->setReadBufferSize(0);
    QByteArray got;
    const auto drain = [&] {
        got += c->readAll();
        return ctl->bytesQueued() == 0 && c->bytesAvailable() == 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(drain(), 20000);
    QTest::qWait(50);
    got += c->readAll();
    QVERIFY(wholeCopies(got, block));
    QCOMPARE(got.size() / static_cast<qsizetype>(block.size()), offered - ctl->skippedSends());
    QCOMPARE(ctl->sentCopies(), offered - ctl->skippedSends());
}

void tst_SockCtl::blocksArriveWholeAndProgressAddsUp_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("sends");
    QTest::newRow("9 bytes") << 9 << 5;
    QTest::newRow("1 MiB") << 1024 * 1024 << 3;
    QTest::newRow("4 MiB and a byte") << 4 * 1024 * 1024 + 1 << 2;
}

// A plain client that reads as it can gets every copy whole and in order;
// the progress counts add up to what was sent, one report per send or per
// emptied queue, however many pieces the OS took.
void tst_SockCtl::blocksArriveWholeAndProgressAddsUp()
{
    QFETCH(int, size);
    QFETCH(int, sends);
    ctl->setSendBufferSize(32768);
    ctl->setReceiveBufferSize(32768);
    connect(probe, &SockCtlProbe::ConnectionRequest, this,
            [&](std::int32_t id) { ctl->Accept(id); });
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(ctl->isConnected());
    qint64 reported = 0;
    int reports = 0;
    connect(probe, &SockCtlProbe::SendProgress, this, [&](std::int32_t sent, std::int32_t) {
        reported += sent;
        ++reports;
    });
    const std::vector<std::uint8_t> block = markedBlock(static_cast<std::size_t>(size));
    QByteArray got;
    for (int i = 0; i < sends; ++i) {
        ctl->SendData(block);
        QTest::qWait(5);
        got += c->readAll();
    }
    const qint64 total = qint64{size} * sends;
    QTRY_VERIFY_WITH_TIMEOUT((got += c->readAll()).size() >= total && reported == total, 20000);
    QCOMPARE(got.size(), total);
    QVERIFY(wholeCopies(got, block));
    QCOMPARE(ctl->skippedSends(), 0);
    QVERIFY2(reports <= 2 * sends, qPrintable(QString::number(reports)));
}

void tst_SockCtl::getDataReadsAtMostMaxLen()
{
    connect(probe, &SockCtlProbe::ConnectionRequest, this,
            [&](std::int32_t id) { ctl->Accept(id); });
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(ctl->isConnected());
    QSignalSpy arrival(probe, &SockCtlProbe::DataArrival);
    c->write("0123456789");
    QTRY_VERIFY(arrival.count() > 0);
    std::vector<std::uint8_t> buf{9, 9, 9};
    ctl->GetData(buf, SockCtl::byteArrayType, 4);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buf.data()), qsizetype(buf.size())),
             QByteArray("0123"));
    ctl->GetData(buf, SockCtl::byteArrayType, 100);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buf.data()), qsizetype(buf.size())),
             QByteArray("456789"));
    QVERIFY_THROWS_EXCEPTION(SockCtlError, ctl->GetData(buf, 8, 4));
}

QTEST_GUILESS_MAIN(tst_SockCtl)
#include "tst_sockctl.moc"

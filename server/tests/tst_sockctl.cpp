#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include "LoopbackHelpers.h"
#include "SockCtl.h"

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
    void queueIsBoundedAndCopiesStayWhole();
    void getDataReadsAtMostMaxLen();

  private:
    QTcpSocket *connectClient()
    {
        return clients.connect(static_cast<quint16>(ctl->boundPort()));
    }

    SockCtl *ctl = nullptr;
    testing_loopback::ClientSet clients;
};

void tst_SockCtl::init()
{
    ctl = new SockCtl;
    ctl->setLocalPort(0);
    ctl->Listen();
    QVERIFY(ctl->boundPort() > 0);
}

void tst_SockCtl::cleanup()
{
    clients.clear();
    delete ctl;
    ctl = nullptr;
}

void tst_SockCtl::closeKeepsAnnouncedRequestAcceptable()
{
    std::int32_t seen = 0;
    connect(ctl, &SockCtl::ConnectionRequest, this, [&](std::int32_t id) {
        seen = id;
        ctl->Close();
        ctl->Accept(id);
    });
    QSignalSpy peerClose(ctl, &SockCtl::PeerClose);
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
    QSignalSpy requests(ctl, &SockCtl::ConnectionRequest);
    QTcpSocket *c = connectClient();
    QTRY_COMPARE(requests.count(), 1);
    QVERIFY(!ctl->isConnected());
    QTRY_COMPARE(c->state(), QAbstractSocket::UnconnectedState);
}

void tst_SockCtl::sendWithoutConnectionDoesNothing()
{
    QSignalSpy progress(ctl, &SockCtl::SendProgress);
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
    connect(ctl, &SockCtl::ConnectionRequest, this, [&](std::int32_t id) { ctl->Accept(id); });
    connectClient();
    QTRY_VERIFY(ctl->isConnected());
    QTcpSocket *s = ctl->connection();
    QCOMPARE(s->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
#ifndef _WIN32
    int sndbuf = 0;
    socklen_t len = sizeof sndbuf;
    ::getsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &sndbuf, &len);
    // Linux reports twice the size asked for, for its bookkeeping.
    QVERIFY2(sndbuf >= 32768 && sndbuf <= 2 * 32768, qPrintable(QString::number(sndbuf)));
#endif
}

void tst_SockCtl::queueIsBoundedAndCopiesStayWhole()
{
    connect(ctl, &SockCtl::ConnectionRequest, this, [&](std::int32_t id) { ctl->Accept(id); });
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(ctl->isConnected());
    c->setReadBufferSize(64 * 1024);
    // A block whose bytes tell their offset, so a torn copy would show.
    std::vector<std::uint8_t> block(1024 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const std::int64_t limit = ctl->sendQueueLimit(block.size());
    // The client does not read: far more than the limit is offered.
    for (int i = 0; i < 64; ++i) {
        ctl->SendData(block);
        QVERIFY(ctl->bytesQueued() <= limit);
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
    QVERIFY(got.size() > 0);
    QCOMPARE(got.size() % static_cast<qsizetype>(block.size()), 0);
    QCOMPARE(got.size() / static_cast<qsizetype>(block.size()), 64 - ctl->skippedSends());
    for (qsizetype off = 0; off < got.size(); off += static_cast<qsizetype>(block.size()))
        QVERIFY(std::equal(block.begin(), block.end(),
                           reinterpret_cast<const std::uint8_t *>(got.constData() + off)));
}

void tst_SockCtl::getDataReadsAtMostMaxLen()
{
    connect(ctl, &SockCtl::ConnectionRequest, this, [&](std::int32_t id) { ctl->Accept(id); });
    QTcpSocket *c = connectClient();
    QTRY_VERIFY(ctl->isConnected());
    QSignalSpy arrival(ctl, &SockCtl::DataArrival);
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

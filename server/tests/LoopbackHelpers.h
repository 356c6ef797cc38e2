#pragma once

// What the loopback tests share: the sample pattern and a look at the log.

#include <memory>
#include <vector>

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>
#include <QObject>
#include <QTcpSocket>

#include "Pane.h"
#include "SockCtl.h"

#ifndef _WIN32
#include <sys/socket.h>
#endif

// The socket control's notifications as Qt signals, for QSignalSpy.
class SockCtlProbe : public QObject, public kesmar::SockCtlEvents
{
    Q_OBJECT

  signals:
    void ConnectionRequest(std::int32_t requestID) override;
    void DataArrival(std::int32_t bytesTotal) override;
    void PeerClose() override;
    void SendComplete() override;
    void SendProgress(std::int32_t bytesSent, std::int32_t bytesRemaining) override;
};

namespace testing_loopback {

inline const QByteArray sampleBytes = QByteArray::fromHex("AA341204030201FEFF");

inline QStringList lines(const Pane *pane)
{
    return pane->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline int countStarting(const Pane *pane, const QString &label)
{
    int n = 0;
    for (const QString &l : lines(pane))
        n += l.startsWith(label);
    return n;
}

// The clients a test opens; clear() closes and frees them all.
class ClientSet
{
  public:
    QTcpSocket *connect(quint16 port)
    {
        auto &c = all_.emplace_back(std::make_unique<QTcpSocket>());
        c->connectToHost(QHostAddress::LocalHost, port);
        return c.get();
    }
    void clear() { all_.clear(); }

  private:
    std::vector<std::unique_ptr<QTcpSocket>> all_;
};

// Ends a connection with a reset instead of an orderly close.
inline void resetConnection(QTcpSocket *socket)
{
#ifndef _WIN32
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                 sizeof hard);
#endif
    socket->abort();
}

} // namespace testing_loopback

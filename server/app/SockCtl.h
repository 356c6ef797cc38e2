#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <stdexcept>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A failed socket operation; the message names what failed and why.
class SockCtlError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// The server's socket control: one TCP socket, either listening or carrying
// one connection, driven by notifications on the GUI thread.
//
// A connection request is announced with a requestID, a positive sequence
// number counted from 1 for each request since start (wrapping back to 1).
// The request can be accepted until the ConnectionRequest handler returns,
// even across Close(); one that is not accepted by then is refused.
class SockCtl : public QObject
{
    Q_OBJECT

  public:
    static constexpr std::int32_t byteArrayType = 8209;

    explicit SockCtl(QObject *parent = nullptr);
    ~SockCtl() override;

    void setLocalPort(std::int32_t port) { localPort_ = port; }
    std::int32_t LocalPort() const { return localPort_; }

    // Turns Nagle's algorithm off, so each block leaves when it is sent.
    void setSocketFlag(bool on);
    // OS buffer sizes of the listening socket and of every accepted connection.
    void setReceiveBufferSize(std::int32_t bytes);
    void setSendBufferSize(std::int32_t bytes);

    // Throws SockCtlError when the port cannot be bound.
    void Listen();
    // Ends listening and any connection; raises no notification.
    void Close();
    void Accept(std::int32_t &requestID);

    // Queues bytes for the connection. Without a connection, or with nothing
    // to send, it does nothing. A send that would push the queue past
    // sendQueueLimit() is skipped whole, so a client that stops reading
    // never sees a partial copy and memory stays bounded.
    void SendData(std::span<const std::uint8_t> bytes);
    // Replaces buffer with at most maxLen received bytes.
    void GetData(std::vector<std::uint8_t> &buffer, std::int32_t type, std::int32_t maxLen);

    bool isListening() const { return server_.isListening(); }
    // The port actually bound; differs from LocalPort() only when that is 0.
    std::int32_t boundPort() const { return server_.serverPort(); }
    bool isConnected() const { return conn_ != nullptr; }
    QTcpSocket *connection() const { return conn_; }
    std::int64_t bytesQueued() const;
    std::int64_t sendQueueLimit(std::size_t blockSize) const;
    std::int64_t skippedSends() const { return skipped_; }
    static constexpr std::int64_t minQueueLimit = 16 * 1024 * 1024;

  signals:
    void ConnectionRequest(std::int32_t requestID);
    void DataArrival(std::int32_t bytesTotal);
    void PeerClose();
    void SendComplete();
    void SendProgress(std::int32_t bytesSent, std::int32_t bytesRemaining);

  private:
    void takePending();
    void applyOptions(QTcpSocket *socket) const;
    void applyListenBuffers();
    void attach(QTcpSocket *socket);
    void drop(QTcpSocket *socket);
    void peerGone();
    void onBytesWritten(qint64 bytes);

    std::int32_t localPort_ = 0;
    bool noDelay_ = false;
    std::int32_t receiveBuffer_ = 0;
    std::int32_t sendBuffer_ = 0;
    std::int32_t lastRequestID_ = 0;
    std::int64_t skipped_ = 0;

    QTcpServer server_;
    std::map<std::int32_t, QTcpSocket *> pending_;
    QTcpSocket *conn_ = nullptr;
};

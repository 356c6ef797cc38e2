#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "SendQueue.h"

class QSocketNotifier;

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

    // Hands bytes to the OS, or queues what it cannot take yet. Without a
    // connection, or with nothing to send, it does nothing. A send that finds
    // backlogLimit() whole copies already waiting is skipped whole, so a
    // client that falls behind never sees a partial copy, receives at most
    // that backlog of old copies when it catches up, and memory stays bounded.
    void SendData(std::span<const std::uint8_t> bytes);
    // Copies that may wait beyond the one the OS is taking; at least 1.
    void setBacklogLimit(std::int64_t copies) { backlogLimit_ = std::max<std::int64_t>(copies, 1); }
    std::int64_t backlogLimit() const { return backlogLimit_; }
    // Replaces buffer with at most maxLen received bytes.
    void GetData(std::vector<std::uint8_t> &buffer, std::int32_t type, std::int32_t maxLen);

    bool isListening() const { return server_.isListening(); }
    // The port actually bound; differs from LocalPort() only when that is 0.
    std::int32_t boundPort() const { return server_.serverPort(); }
    bool isConnected() const { return conn_ != nullptr; }
    QTcpSocket *connection() const { return conn_; }
    // Bytes held by the program, not yet taken by the OS.
    std::int64_t bytesQueued() const { return queue_.bytesHeld(); }
    std::int64_t copiesWaiting() const { return queue_.copiesWaiting(); }
    // Since start, across connections: copies wholly taken by the OS, and
    // sends skipped because the backlog was full.
    std::int64_t sentCopies() const { return sentCopies_; }
    std::int64_t skippedSends() const { return skipped_; }

  signals:
    void ConnectionRequest(std::int32_t requestID);
    void DataArrival(std::int32_t bytesTotal);
    void PeerClose();
    void SendComplete();
    // bytesSent: bytes the OS has taken since the last SendProgress;
    // bytesRemaining: bytes the program still holds for it. Raised from the
    // event loop at most once per SendData call and once when the queue
    // runs dry, never once per piece handed to the OS.
    void SendProgress(std::int32_t bytesSent, std::int32_t bytesRemaining);

  private:
    void takePending();
    void applyOptions(QTcpSocket *socket) const;
    void applyListenBuffers();
    void attach(QTcpSocket *socket);
    void drop(QTcpSocket *socket);
    void peerGone();
    void flushQueue();
    void progressDue();
    void reportProgress();

    std::int32_t localPort_ = 0;
    bool noDelay_ = false;
    std::int32_t receiveBuffer_ = 0;
    std::int32_t sendBuffer_ = 0;
    std::int32_t lastRequestID_ = 0;
    std::int64_t skipped_ = 0;
    std::int64_t sentCopies_ = 0;
    std::int64_t backlogLimit_ = 100; // a second at 10 ms, until the window sets it
    qint64 taken_ = 0;                // bytes taken by the OS and not yet reported
    bool reportPosted_ = false;
    SendQueue queue_;
    std::unique_ptr<QSocketNotifier> writable_;
    QTimer peerWindow_; // while connected: see kesmar::followPeerWindow

    QTcpServer server_;
    std::map<std::int32_t, QTcpSocket *> pending_;
    QTcpSocket *conn_ = nullptr;
};

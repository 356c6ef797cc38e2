#include "SockCtl.h"

#include <algorithm>
#include <limits>

#include <QSocketNotifier>

#include "SocketOptions.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace {

std::int32_t clampToInt32(qint64 v)
{
    return static_cast<std::int32_t>(
        std::clamp<qint64>(v, 0, std::numeric_limits<std::int32_t>::max()));
}

void setBufferOption(qintptr fd, int option, std::int32_t bytes)
{
    if (fd < 0 || bytes <= 0)
        return;
    const int value = bytes;
#ifdef _WIN32
    ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, option,
                 reinterpret_cast<const char *>(&value), sizeof value);
#else
    ::setsockopt(static_cast<int>(fd), SOL_SOCKET, option, &value, sizeof value);
#endif
}

} // namespace

SockCtl::SockCtl(QObject *parent) : QObject(parent)
{
    connect(&server_, &QTcpServer::newConnection, this, &SockCtl::takePending);
    peerWindow_.setInterval(kesmar::peerWindowCheckMs);
    connect(&peerWindow_, &QTimer::timeout, this, [this] {
        if (conn_)
            kesmar::followPeerWindow(conn_->socketDescriptor());
        else
            peerWindow_.stop();
    });
}

SockCtl::~SockCtl()
{
    Close();
}

void SockCtl::setSocketFlag(bool on)
{
    noDelay_ = on;
    if (conn_)
        applyOptions(conn_);
}

void SockCtl::setReceiveBufferSize(std::int32_t bytes)
{
    receiveBuffer_ = bytes;
    applyListenBuffers();
    if (conn_)
        applyOptions(conn_);
}

void SockCtl::setSendBufferSize(std::int32_t bytes)
{
    sendBuffer_ = bytes;
    applyListenBuffers();
    if (conn_)
        applyOptions(conn_);
}

// Accepted sockets inherit these, which matters for the receive window that
// is agreed during the handshake.
void SockCtl::applyListenBuffers()
{
    if (!server_.isListening())
        return;
    setBufferOption(server_.socketDescriptor(), SO_RCVBUF, receiveBuffer_);
    setBufferOption(server_.socketDescriptor(), SO_SNDBUF, sendBuffer_);
}

void SockCtl::applyOptions(QTcpSocket *socket) const
{
    socket->setSocketOption(QAbstractSocket::LowDelayOption, noDelay_ ? 1 : 0);
    if (receiveBuffer_ > 0)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer_);
    if (sendBuffer_ > 0)
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, sendBuffer_);
}

void SockCtl::Listen()
{
    if (server_.isListening())
        return;
    // One client at a time; what the OS may queue meanwhile is weighed at
    // listenBacklog. Qt's default is 50.
    server_.setMaxPendingConnections(1);
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    server_.setListenBacklogSize(kesmar::listenBacklog);
#endif
    if (!server_.listen(QHostAddress::Any, static_cast<quint16>(localPort_)))
        throw SockCtlError("cannot listen on TCP port " + std::to_string(localPort_) + ": " +
                           server_.errorString().toStdString());
    applyListenBuffers();
}

void SockCtl::Close()
{
    server_.close();
    if (conn_) {
        QTcpSocket *old = conn_;
        conn_ = nullptr;
        drop(old);
    }
}

void SockCtl::takePending()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        lastRequestID_ =
            lastRequestID_ == std::numeric_limits<std::int32_t>::max() ? 1 : lastRequestID_ + 1;
        const std::int32_t id = lastRequestID_;
        pending_[id] = socket;
        emit ConnectionRequest(id);
        // Not accepted by its handler: refuse it.
        if (auto it = pending_.find(id); it != pending_.end()) {
            QTcpSocket *refused = it->second;
            pending_.erase(it);
            drop(refused);
        }
    }
}

void SockCtl::Accept(std::int32_t &requestID)
{
    const auto it = pending_.find(requestID);
    if (it == pending_.end())
        throw SockCtlError("no pending connection request " + std::to_string(requestID));
    QTcpSocket *socket = it->second;
    pending_.erase(it);
    server_.close();
    if (conn_)
        drop(conn_);
    conn_ = socket;
    attach(socket);
}

void SockCtl::attach(QTcpSocket *socket)
{
    applyOptions(socket);
    // A client that vanishes without a word is noticed and let go.
    kesmar::keepConnectionAlive(socket->socketDescriptor());
    peerWindow_.start();
    // Bounds what Qt reads ahead of us; the rest waits in the OS buffer.
    socket->setReadBufferSize(std::max<qint64>(receiveBuffer_, 4096));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket == conn_ && socket->bytesAvailable() > 0)
            emit DataArrival(clampToInt32(socket->bytesAvailable()));
    });
    // Writes bypass QTcpSocket, which would hand each queued chunk to the OS
    // in one call (see SendQueue); reads stay with it.
    writable_ =
        std::make_unique<QSocketNotifier>(socket->socketDescriptor(), QSocketNotifier::Write);
    writable_->setEnabled(false);
    connect(writable_.get(), &QSocketNotifier::activated, this, &SockCtl::flushQueue);
#if !defined(_WIN32) && !defined(MSG_NOSIGNAL) && defined(SO_NOSIGPIPE)
    const int one = 1;
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_NOSIGPIPE, &one,
                 sizeof one);
#endif
    // A reset or network error ends the connection as surely as a clean close.
    connect(socket, &QTcpSocket::disconnected, this, &SockCtl::peerGone);
    connect(socket, &QTcpSocket::errorOccurred, this, &SockCtl::peerGone);
    if (socket->bytesAvailable() > 0) {
        // Data that came with the connection would otherwise wait for more.
        QMetaObject::invokeMethod(
            this,
            [this, socket] {
                if (socket == conn_ && socket->bytesAvailable() > 0)
                    emit DataArrival(clampToInt32(socket->bytesAvailable()));
            },
            Qt::QueuedConnection);
    }
}

void SockCtl::drop(QTcpSocket *socket)
{
    if (writable_ && writable_->socket() == socket->socketDescriptor()) {
        // The notifier watches this descriptor: gone before it closes.
        writable_.reset();
        queue_.clear();
        taken_ = 0;
    }
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void SockCtl::peerGone()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != conn_)
        return;
    // Bytes that arrived just before the close are still reported and read.
    if (socket->bytesAvailable() > 0)
        emit DataArrival(clampToInt32(socket->bytesAvailable()));
    if (socket != conn_)
        return;
    conn_ = nullptr;
    drop(socket);
    emit PeerClose();
}

void SockCtl::SendData(std::span<const std::uint8_t> bytes)
{
    if (!conn_ || bytes.empty())
        return;
    // What the OS took since the last tick is reported once, not per piece.
    if (taken_ > 0)
        progressDue();
    if (!queue_.push(bytes, backlogLimit_)) {
        ++skipped_;
        return;
    }
    // While the notifier waits for room, it is the one to send.
    if (!writable_->isEnabled())
        flushQueue();
}

void SockCtl::flushQueue()
{
    if (!conn_ || !writable_)
        return;
    const SendQueue::Fed fed = queue_.feed(conn_->socketDescriptor());
    taken_ += fed.bytes;
    sentCopies_ += fed.copies;
    if (fed.failed) {
        // The reset or close also reaches the read side, which reports it.
        queue_.clear();
        writable_->setEnabled(false);
        return;
    }
    writable_->setEnabled(fed.blocked && !queue_.empty());
    if (queue_.empty() && taken_ > 0)
        progressDue();
}

void SockCtl::progressDue()
{
    if (reportPosted_)
        return;
    reportPosted_ = true;
    QMetaObject::invokeMethod(this, &SockCtl::reportProgress, Qt::QueuedConnection);
}

void SockCtl::reportProgress()
{
    reportPosted_ = false;
    if (!conn_ || taken_ == 0)
        return;
    const qint64 sent = taken_;
    taken_ = 0;
    emit SendProgress(clampToInt32(sent), clampToInt32(queue_.bytesHeld()));
    if (queue_.empty())
        emit SendComplete();
}

void SockCtl::GetData(std::vector<std::uint8_t> &buffer, std::int32_t type, std::int32_t maxLen)
{
    if (type != byteArrayType)
        throw SockCtlError("GetData supports only byte arrays (type 8209), not type " +
                           std::to_string(type));
    buffer.clear();
    if (!conn_ || maxLen <= 0)
        return;
    const qint64 n = std::min<qint64>(maxLen, conn_->bytesAvailable());
    buffer.resize(static_cast<std::size_t>(n));
    const qint64 got = conn_->read(reinterpret_cast<char *>(buffer.data()), n);
    buffer.resize(static_cast<std::size_t>(std::max<qint64>(got, 0)));
}

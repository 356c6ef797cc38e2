#include "SockCtl.h"

#include <algorithm>
#include <limits>

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
    // One client at a time: nothing waits in the backlog behind it. The OS
    // completes handshakes for as many clients as the listen backlog holds,
    // and those still queued when Accept closes the listener are reset
    // unserved after their connect succeeded; the smallest backlog keeps
    // that to the odd one (Qt's default is 50).
    server_.setMaxPendingConnections(1);
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    server_.setListenBacklogSize(0);
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
    // Bounds what Qt reads ahead of us; the rest waits in the OS buffer.
    socket->setReadBufferSize(std::max<qint64>(receiveBuffer_, 4096));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (socket == conn_ && socket->bytesAvailable() > 0)
            emit DataArrival(clampToInt32(socket->bytesAvailable()));
    });
    connect(socket, &QTcpSocket::bytesWritten, this, &SockCtl::onBytesWritten);
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

void SockCtl::onBytesWritten(qint64 bytes)
{
    if (!conn_ || sender() != conn_)
        return;
    const qint64 remaining = conn_->bytesToWrite();
    emit SendProgress(clampToInt32(bytes), clampToInt32(remaining));
    if (remaining == 0)
        emit SendComplete();
}

std::int64_t SockCtl::bytesQueued() const
{
    return conn_ ? conn_->bytesToWrite() : 0;
}

std::int64_t SockCtl::sendQueueLimit(std::size_t blockSize) const
{
    return std::max<std::int64_t>(minQueueLimit, 2 * static_cast<std::int64_t>(blockSize));
}

void SockCtl::SendData(std::span<const std::uint8_t> bytes)
{
    if (!conn_ || bytes.empty())
        return;
    if (bytesQueued() + static_cast<std::int64_t>(bytes.size()) > sendQueueLimit(bytes.size())) {
        ++skipped_;
        return;
    }
    conn_->write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size()));
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

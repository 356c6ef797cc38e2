#include "SendQueue.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace {

bool sameBytes(const QByteArray &a, std::span<const std::uint8_t> b)
{
    return a.size() == static_cast<qsizetype>(b.size()) &&
           std::memcmp(a.constData(), b.data(), b.size()) == 0;
}

// Bytes the OS took, 0 when its buffer is full, -1 when the connection failed.
qint64 sendPiece(qintptr socket, const char *data, qint64 len)
{
#ifdef _WIN32
    const int n = ::send(static_cast<SOCKET>(socket), data, static_cast<int>(len), 0);
    if (n == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return n;
#else
#ifdef MSG_NOSIGNAL
    constexpr int flags = MSG_NOSIGNAL; // a reset peer must not end the program
#else
    constexpr int flags = 0; // where there is none, SO_NOSIGPIPE is set on the socket
#endif
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(socket), data, static_cast<size_t>(len), flags);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
#endif
}

} // namespace

bool SendQueue::push(std::span<const std::uint8_t> bytes, std::int64_t maxWaiting)
{
    if (copiesWaiting() >= std::max<std::int64_t>(maxWaiting, 1))
        return false;
    // The newest run, if any, shares last_'s bytes: one comparison serves both.
    const bool same = sameBytes(last_, bytes);
    if (!same)
        last_ = QByteArray(reinterpret_cast<const char *>(bytes.data()),
                           static_cast<qsizetype>(bytes.size()));
    if (same && !runs_.empty())
        ++runs_.back().copies;
    else
        runs_.push_back({last_, 1});
    ++copies_;
    held_ += static_cast<qint64>(bytes.size());
    return true;
}

SendQueue::Fed SendQueue::feed(qintptr socket)
{
    Fed fed;
    while (!runs_.empty()) {
        Run &head = runs_.front();
        const qint64 size = head.bytes.size();
        const qint64 piece = std::min(pieceBytes, size - offset_);
        const qint64 n = sendPiece(socket, head.bytes.constData() + offset_, piece);
        if (n < 0) {
            fed.failed = true;
            return fed;
        }
        offset_ += n;
        held_ -= n;
        fed.bytes += n;
        if (offset_ == size) {
            offset_ = 0;
            --copies_;
            ++fed.copies;
            if (--head.copies == 0)
                runs_.pop_front();
        }
        if (n == 0) {
            // Refused: wait for room. A short send is tried once more, as
            // Windows signals room again only after a send it refused.
            fed.blocked = true;
            return fed;
        }
    }
    return fed;
}

void SendQueue::clear()
{
    runs_.clear();
    offset_ = 0;
    held_ = 0;
    copies_ = 0;
}

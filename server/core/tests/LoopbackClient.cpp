#include "LoopbackClient.h"

#include <cerrno>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "Net.h"

namespace testing_loopback {

namespace {

#if defined(MSG_NOSIGNAL)
constexpr int noSignal = MSG_NOSIGNAL; // a server gone must not end the tests
#else
constexpr int noSignal = 0;
#endif

#ifdef _WIN32
using Native = SOCKET;
SOCKET native(std::intptr_t s)
{
    return static_cast<SOCKET>(s);
}
constexpr int connectionRefused = WSAECONNREFUSED;
int lastError()
{
    return WSAGetLastError();
}
bool wouldBlock()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
bool connecting()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
std::string errorText(int error)
{
    WSASetLastError(error);
    return kesmar::net::lastErrorText();
}
void closeNative(std::intptr_t s)
{
    ::closesocket(native(s));
}
#else
using Native = int;
int native(std::intptr_t s)
{
    return static_cast<int>(s);
}
constexpr int connectionRefused = ECONNREFUSED;
int lastError()
{
    return errno;
}
bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
bool connecting()
{
    return errno == EINPROGRESS;
}
std::string errorText(int error)
{
    return std::strerror(error);
}
void closeNative(std::intptr_t s)
{
    ::close(native(s));
}
#endif

} // namespace

LoopbackClient::~LoopbackClient()
{
    close();
}

bool LoopbackClient::connect(std::uint16_t port, Family family, int receiveBuffer,
                             std::chrono::milliseconds limit)
{
    close();
    received_.clear();
    ended_ = false;
    refused_ = false;
    kesmar::net::startup();
    const int af = family == Family::v6 ? AF_INET6 : AF_INET;
    const Native s = ::socket(af, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
    if (s == INVALID_SOCKET) {
#else
    if (s < 0) {
#endif
        why_ = "no socket: " + kesmar::net::lastErrorText();
        return false;
    }
    if (receiveBuffer > 0)
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&receiveBuffer),
                     sizeof receiveBuffer);
        // Non-blocking from the start, so that a connect nobody answers (a SYN
        // dropped from a full backlog, retried for minutes) is bounded.
#ifdef _WIN32
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
#else
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
#endif
    int done = -1;
    if (family == Family::v6) {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        to.sin6_addr = in6addr_loopback;
        to.sin6_port = htons(port);
        done = ::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    } else {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        done = ::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    int error = 0;
    if (done != 0 && !connecting()) {
        error = lastError();
    } else if (done != 0) {
        // Winsock reports a failed attempt in the error set, POSIX in the
        // write set; SO_ERROR says which it was on both.
        fd_set writeSet, errorSet;
        FD_ZERO(&writeSet);
        FD_ZERO(&errorSet);
        FD_SET(s, &writeSet);
        FD_SET(s, &errorSet);
        timeval tv{};
        tv.tv_sec = static_cast<long>(limit.count() / 1000);
        tv.tv_usec = static_cast<long>(limit.count() % 1000 * 1000);
        if (::select(static_cast<int>(s) + 1, nullptr, &writeSet, &errorSet, &tv) <= 0) {
            why_ = "no answer within " + std::to_string(limit.count()) + " ms";
            closeNative(static_cast<std::intptr_t>(s));
            return false;
        }
        socklen_t size = sizeof error;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size);
    }
    if (error != 0) {
        refused_ = error == connectionRefused;
        why_ = "cannot connect: " + errorText(error);
        closeNative(static_cast<std::intptr_t>(s));
        return false;
    }
    s_ = static_cast<std::intptr_t>(s);
    return true;
}

void LoopbackClient::send(const std::vector<std::uint8_t> &bytes)
{
    std::size_t at = 0;
    while (s_ >= 0 && at < bytes.size()) {
        const auto n = ::send(native(s_), reinterpret_cast<const char *>(bytes.data() + at),
                              static_cast<int>(bytes.size() - at), noSignal);
        if (n > 0)
            at += static_cast<std::size_t>(n);
        else if (!wouldBlock())
            return;
    }
}

std::size_t LoopbackClient::offer(const std::vector<std::uint8_t> &bytes)
{
    std::size_t at = 0;
    while (s_ >= 0 && at < bytes.size()) {
        const auto n = ::send(native(s_), reinterpret_cast<const char *>(bytes.data() + at),
                              static_cast<int>(bytes.size() - at), noSignal);
        if (n <= 0)
            break;
        at += static_cast<std::size_t>(n);
    }
    return at;
}

bool LoopbackClient::pump()
{
    char chunk[64 * 1024];
    while (s_ >= 0 && !ended_) {
        const auto n = ::recv(native(s_), chunk, sizeof chunk, 0);
        if (n > 0) {
            received_.insert(received_.end(), chunk, chunk + n);
            continue;
        }
        if (n < 0 && wouldBlock())
            break;
        ended_ = true;
    }
    return s_ >= 0 && !ended_;
}

void LoopbackClient::shutdownSend()
{
#ifdef _WIN32
    ::shutdown(native(s_), SD_SEND);
#else
    ::shutdown(native(s_), SHUT_WR);
#endif
}

void LoopbackClient::close()
{
    if (s_ >= 0)
        closeNative(s_);
    s_ = -1;
}

void LoopbackClient::reset()
{
    if (s_ < 0)
        return;
    linger hard{};
    hard.l_onoff = 1;
    hard.l_linger = 0;
    ::setsockopt(native(s_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard),
                 sizeof hard);
    close();
}

} // namespace testing_loopback

#include "Net.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "SocketOptions.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kesmar::net {

namespace {

#ifdef _WIN32
using Native = SOCKET;
using OptionLength = int;
constexpr Native badSocket = INVALID_SOCKET;
int lastError()
{
    return WSAGetLastError();
}
bool wouldBlock(int e)
{
    return e == WSAEWOULDBLOCK;
}
bool interrupted(int e)
{
    return e == WSAEINTR;
}
#else
using Native = int;
using OptionLength = socklen_t;
constexpr Native badSocket = -1;
int lastError()
{
    return errno;
}
bool wouldBlock(int e)
{
    return e == EAGAIN || e == EWOULDBLOCK;
}
bool interrupted(int e)
{
    return e == EINTR;
}
#endif

Native native(Socket s)
{
    return static_cast<Native>(s);
}

std::string errorText(int e)
{
#ifdef _WIN32
    // The bound address is the one error whose words the program shows
    // every user who starts a second copy: the same on every platform.
    if (e == WSAEADDRINUSE)
        return "The bound address is already in use";
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(e), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string out;
    if (n > 0) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                              nullptr, nullptr);
        out.resize(static_cast<std::size_t>(bytes));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), bytes, nullptr,
                            nullptr);
        while (!out.empty() &&
               (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
            out.pop_back();
    }
    LocalFree(text);
    return out.empty() ? "socket error " + std::to_string(e) : out;
#else
    if (e == EADDRINUSE)
        return "The bound address is already in use";
    return std::strerror(e);
#endif
}

[[noreturn]] void fail(const std::string &what)
{
    throw Error(what + ": " + errorText(lastError()));
}

void setInt(Native s, int level, int option, int value)
{
    ::setsockopt(s, level, option, reinterpret_cast<const char *>(&value), sizeof value);
}

int getInt(Native s, int level, int option)
{
    int value = 0;
    OptionLength len = sizeof value;
    ::getsockopt(s, level, option, reinterpret_cast<char *>(&value), &len);
    return value;
}

void makeNonBlocking(Native s)
{
#ifdef _WIN32
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
#else
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
}

// SO_LINGER on with no time: a close discards what is unsent and resets.
void abortOnClose(Native s)
{
    linger hard{};
    hard.l_onoff = 1;
    hard.l_linger = 0;
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
}

void closeNative(Native s)
{
#ifdef _WIN32
    ::closesocket(s);
#else
    ::close(s);
#endif
}

} // namespace

void startup()
{
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw Error("cannot start Windows Sockets");
#endif
}

Socket listenTcp(std::uint16_t port, int backlog, int receiveBuffer, int sendBuffer)
{
    startup();
    // Both families on one socket where the system has IPv6, as a client
    // may name the host either way; IPv4 alone where it has not.
    Native s = ::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    const bool v6 = s != badSocket;
    if (!v6)
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == badSocket)
        fail("cannot make a socket");
#ifdef _WIN32
    // Windows lets a program of the same user bind 127.0.0.1 or a LAN
    // address beside a wildcard listener, and the more specific bind takes
    // the connections; this keeps the port ours alone while we listen.
    setInt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
#else
    // Spares listening again the wait for connections closed before.
    setInt(s, SOL_SOCKET, SO_REUSEADDR, 1);
#endif
    if (receiveBuffer > 0)
        setInt(s, SOL_SOCKET, SO_RCVBUF, receiveBuffer);
    if (sendBuffer > 0)
        setInt(s, SOL_SOCKET, SO_SNDBUF, sendBufferAsked(sendBuffer));
    int bound = -1;
    if (v6) {
        setInt(s, IPPROTO_IPV6, IPV6_V6ONLY, 0);
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        any.sin6_port = htons(port);
        bound = ::bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any);
    } else {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        any.sin_port = htons(port);
        bound = ::bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any);
    }
    if (bound != 0 || ::listen(s, backlog) != 0) {
        const int e = lastError();
        closeNative(s);
        throw Error(listenErrorText(e, port));
    }
    makeNonBlocking(s);
    return static_cast<Socket>(s);
}

std::uint16_t localPort(Socket s)
{
    sockaddr_storage addr{};
    OptionLength len = sizeof addr;
    if (::getsockname(native(s), reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 0;
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in *>(&addr)->sin_port);
}

Socket acceptOne(Socket listener)
{
    for (;;) {
        const Native s = ::accept(native(listener), nullptr, nullptr);
        if (s != badSocket) {
            makeNonBlocking(s);
#ifdef _WIN32
            // Whatever closes it (closesocket, or the system at the end of
            // the process, however it ends) closes it with a reset, so that
            // nothing of it keeps the exclusive port from the next listen.
            abortOnClose(s);
#endif
            return static_cast<Socket>(s);
        }
        const int e = lastError();
        if (interrupted(e))
            continue;
        // Would block, or the client gave up before we got to it: either
        // way nobody waits.
        return invalidSocket;
    }
}

std::string listenErrorText(int error, std::uint16_t port)
{
#ifdef _WIN32
    // The system's own words only speak of access. Two causes are common:
    // Hyper-V, WSL 2 and Docker Desktop reserve blocks of ports, which
    // netstat does not show; and our exclusive bind on every address is
    // refused while another socket holds the port on one of them (an ssh -L
    // forward, a port proxy, a tool bound to 127.0.0.1), of another user
    // even. The socket is dual-stack, so both families' reservations count.
    if (error == WSAEACCES) {
        const std::string p = std::to_string(port);
        return "Windows refuses the port: port " + p +
               " may lie in a range of ports that Windows has reserved (Hyper-V, WSL 2 and "
               "Docker Desktop reserve such ranges), which the commands \"netsh interface ipv4 "
               "show excludedportrange protocol=tcp\" and \"netsh interface ipv6 show "
               "excludedportrange protocol=tcp\" list; or another program may hold port " +
               p +
               " on one address, such as 127.0.0.1, which the command \"netstat -ano | "
               "findstr :" +
               p + "\" shows with the number of its process";
    }
#else
    (void)port;
#endif
    return errorText(error);
}

void close(Socket s)
{
    if (s != invalidSocket)
        closeNative(native(s));
}

void closeConnection(Socket s)
{
#ifdef _WIN32
    reset(s);
#else
    close(s);
#endif
}

void reset(Socket s)
{
    if (s == invalidSocket)
        return;
    abortOnClose(native(s));
    closeNative(native(s));
}

void setNoDelay(Socket s, bool on)
{
    setInt(native(s), IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0);
}

void setBufferSizes(Socket s, int receiveBuffer, int sendBuffer)
{
    if (receiveBuffer > 0)
        setInt(native(s), SOL_SOCKET, SO_RCVBUF, receiveBuffer);
    if (sendBuffer > 0)
        setInt(native(s), SOL_SOCKET, SO_SNDBUF, sendBufferAsked(sendBuffer));
}

int receiveBufferSize(Socket s)
{
    return getInt(native(s), SOL_SOCKET, SO_RCVBUF);
}

int sendBufferSize(Socket s)
{
    return getInt(native(s), SOL_SOCKET, SO_SNDBUF);
}

bool noDelay(Socket s)
{
    return getInt(native(s), IPPROTO_TCP, TCP_NODELAY) != 0;
}

std::int64_t bytesReadable(Socket s)
{
#ifdef _WIN32
    u_long n = 0;
    if (::ioctlsocket(native(s), FIONREAD, &n) != 0)
        return 0;
#else
    int n = 0;
    if (::ioctl(native(s), FIONREAD, &n) != 0)
        return 0;
#endif
    return static_cast<std::int64_t>(n);
}

PeerState peerState(Socket s)
{
    char byte = 0;
    for (;;) {
        const auto n = ::recv(native(s), &byte, 1, MSG_PEEK);
        if (n > 0)
            return PeerState::Open;
        if (n == 0)
            return PeerState::Closed;
        const int e = lastError();
        if (interrupted(e))
            continue;
        return wouldBlock(e) ? PeerState::Open : PeerState::Closed;
    }
}

std::int64_t receive(Socket s, void *data, std::int64_t len)
{
    for (;;) {
        const auto n = ::recv(native(s), static_cast<char *>(data), static_cast<int>(len), 0);
        if (n >= 0)
            return static_cast<std::int64_t>(n);
        const int e = lastError();
        if (interrupted(e))
            continue;
        if (wouldBlock(e))
            return 0;
        throw Error("cannot receive: " + errorText(e));
    }
}

std::int64_t sendSome(Socket s, const void *data, std::int64_t len)
{
#ifdef _WIN32
    const int n = ::send(native(s), static_cast<const char *>(data), static_cast<int>(len), 0);
    if (n == SOCKET_ERROR)
        return wouldBlock(lastError()) ? 0 : -1;
    return n;
#else
#ifdef MSG_NOSIGNAL
    constexpr int flags = MSG_NOSIGNAL; // a reset peer must not end the program
#else
    constexpr int flags = 0; // there, SIGPIPE is ignored process-wide
#endif
    for (;;) {
        const ssize_t n = ::send(native(s), data, static_cast<size_t>(len), flags);
        if (n >= 0)
            return n;
        if (interrupted(errno))
            continue;
        return wouldBlock(errno) ? 0 : -1;
    }
#endif
}

std::string lastErrorText()
{
    return errorText(lastError());
}

} // namespace kesmar::net

#include "SocketOptions.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#elif defined(__linux__)
// Linux's own header: glibc's struct tcp_info lacks tcpi_snd_wnd.
#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace kesmar {

#ifdef _WIN32
static_assert(listenBacklog == SOMAXCONN);
#endif

namespace {

#ifdef _WIN32
// Winsock's values, missing from some SDKs' headers.
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#endif

// Best effort: a system without an option keeps its own default for it.
void setOption(std::intptr_t socket, int level, int name, int value)
{
#ifdef _WIN32
    const DWORD v = static_cast<DWORD>(value);
    ::setsockopt(static_cast<SOCKET>(socket), level, name, reinterpret_cast<const char *>(&v),
                 sizeof v);
#else
    ::setsockopt(static_cast<int>(socket), level, name, &value, sizeof value);
#endif
}

} // namespace

int sendBufferAsked(int bytes)
{
#ifdef KESMAR_SNDBUF_AS_WINDOWS
    return bytes / 2;
#else
    return bytes;
#endif
}

void keepConnectionAlive(std::intptr_t nativeSocket)
{
    setOption(nativeSocket, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef _WIN32
    tcp_keepalive times{};
    times.onoff = 1;
    times.keepalivetime = static_cast<ULONG>(keepAliveIdleSeconds) * 1000;
    times.keepaliveinterval = static_cast<ULONG>(keepAliveIntervalSeconds) * 1000;
    DWORD returned = 0;
    ::WSAIoctl(static_cast<SOCKET>(nativeSocket), SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr,
               0, &returned, nullptr, nullptr);
    // From Windows 10 1703; before it the count is fixed at 10 probes (60 s).
    setOption(nativeSocket, IPPROTO_TCP, TCP_KEEPCNT, keepAliveProbes);
    setOption(nativeSocket, IPPROTO_TCP, TCP_MAXRT, unacknowledgedDataSeconds);
#else
#if defined(TCP_KEEPIDLE)
    setOption(nativeSocket, IPPROTO_TCP, TCP_KEEPIDLE, keepAliveIdleSeconds);
#elif defined(TCP_KEEPALIVE)
    setOption(nativeSocket, IPPROTO_TCP, TCP_KEEPALIVE, keepAliveIdleSeconds);
#endif
#ifdef TCP_KEEPINTVL
    setOption(nativeSocket, IPPROTO_TCP, TCP_KEEPINTVL, keepAliveIntervalSeconds);
#endif
#ifdef TCP_KEEPCNT
    setOption(nativeSocket, IPPROTO_TCP, TCP_KEEPCNT, keepAliveProbes);
#endif
#ifdef TCP_USER_TIMEOUT
    setOption(nativeSocket, IPPROTO_TCP, TCP_USER_TIMEOUT, unacknowledgedDataSeconds * 1000);
#endif
#endif
}

void followPeerWindow(std::intptr_t nativeSocket)
{
#ifdef __linux__
    tcp_info info{};
    socklen_t length = sizeof info;
    const int fd = static_cast<int>(nativeSocket);
    // Kernels before 5.4 do not report the window: the bound stays as it is.
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd)
        return;
    setOption(nativeSocket, IPPROTO_TCP, TCP_USER_TIMEOUT,
              info.tcpi_snd_wnd == 0 ? 0 : unacknowledgedDataSeconds * 1000);
#else
    // Linux documents that cut-off; elsewhere the bound stays as set.
    (void)nativeSocket;
#endif
}

} // namespace kesmar

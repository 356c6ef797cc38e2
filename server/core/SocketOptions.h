#pragma once

#include <cstdint>

namespace kesmar {

// The listening socket's backlog. The socket control takes every completed
// connection off the queue as soon as it looks, so the queue only holds the
// handshakes that complete between two looks.
#ifdef _WIN32
// Windows refuses a client outright when the queue is full (WSAECONNREFUSED),
// where Linux drops its SYN and lets it try again: a small queue would turn
// away the third of three clients that connect together, or any that comes
// while this thread is busy. SOMAXCONN lets the system pick the longest
// reasonable queue, which holds at least the clients the socket control
// holds; a plain number may be adjusted, and its outcome cannot be read.
inline constexpr int listenBacklog = 0x7fffffff; // SOMAXCONN
#else
// A backlog of 0 is too small: the kernel then queues one connection and
// answers every other SYN with a cookie, and a handshake that completes
// while that one waits is dropped without a trace, its client connected to
// nothing and never told. With 2 (room for 3), three clients that connect at
// the same moment are all heard, and a fourth tries again.
inline constexpr int listenBacklog = 2;
#endif

// When a connection's peer counts as gone. The peer's system answers
// keepalive probes and acknowledges data whatever its program does (stopped
// in a debugger, not reading for minutes, reading a byte at a time), so
// these only end a connection whose other end has gone without a word: a
// board switched off, a cable pulled, a virtual machine killed. After 10 s
// without a sign of life, 4 probes 5 s apart: gone 30 s after the last one,
// whether sending is on or off. Data that stays unacknowledged is given up
// on after the same 30 s.
inline constexpr int keepAliveIdleSeconds = 10;
inline constexpr int keepAliveIntervalSeconds = 5;
inline constexpr int keepAliveProbes = 4;
inline constexpr int unacknowledgedDataSeconds = 30;
// How often followPeerWindow is due while a client is connected.
inline constexpr int peerWindowCheckMs = 1000;

// What to ask SO_SNDBUF for, to hold a send buffer of that many bytes.
// Linux doubles what it is asked for, for its bookkeeping, and so under Wine
// too, where Windows holds what it is asked: a build for the benchmark under
// Wine (KESMAR_SNDBUF_AS_WINDOWS) asks for half.
int sendBufferAsked(int bytes);

// For every accepted connection, before anything is sent.
void keepConnectionAlive(std::intptr_t nativeSocket);

// Every peerWindowCheckMs while connected. Linux also ends a connection whose
// peer has kept its receive window shut for the unacknowledged-data time,
// even though the peer answers every window probe: that is a live client
// that is not reading. While the window is shut the bound is lifted (the
// kernel then gives up only on probes that go unanswered), and it is set
// again once the window opens.
void followPeerWindow(std::intptr_t nativeSocket);

} // namespace kesmar

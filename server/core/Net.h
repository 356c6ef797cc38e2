#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Plain BSD sockets, as POSIX and Winsock both offer them, behind the few
// calls the socket control makes. Every socket here is non-blocking; a call
// that would wait says so instead. Failures that end an operation throw
// kesmar::net::Error with the operation and the system's own words.
namespace kesmar::net {

// A SOCKET on Windows, a file descriptor elsewhere.
using Socket = std::intptr_t;
inline constexpr Socket invalidSocket = -1;

class Error : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// Once per process, before the first socket (WSAStartup on Windows).
void startup();

// A socket listening on every address, IPv6 and IPv4 alike where the system
// allows, with the given buffer sizes (0: the system's own) set before
// listen() so that accepted connections inherit them. On Windows no other
// socket may bind the port while it listens.
Socket listenTcp(std::uint16_t port, int backlog, int receiveBuffer, int sendBuffer);
// The words for a bind or listen of that port that failed with that error.
std::string listenErrorText(int error, std::uint16_t port);
std::uint16_t localPort(Socket s);

// The next completed connection, or invalidSocket when none waits. On
// Windows it is made to end with a reset however it is closed (see
// closeConnection), the process ending included.
Socket acceptOne(Socket listener);

void close(Socket s);
// Closes with a reset rather than an orderly end, so the peer learns at
// once that nobody will serve it.
void reset(Socket s);
// Closes an accepted connection that is over for us. On Windows with a
// reset: a port listened on exclusively cannot be listened on again while a
// connection accepted on it is still active, and an orderly close keeps it
// active until the peer has acknowledged all that was sent and closed its
// own side, which a peer that stopped reading, or vanished, never does.
// A reset leaves nothing behind (not even TIME_WAIT). Elsewhere the listener
// shares the port with such connections, and the close stays orderly.
void closeConnection(Socket s);

void setNoDelay(Socket s, bool on);
void setBufferSizes(Socket s, int receiveBuffer, int sendBuffer);
int receiveBufferSize(Socket s);
int sendBufferSize(Socket s);
bool noDelay(Socket s);

// Bytes that a receive would return now.
std::int64_t bytesReadable(Socket s);

enum class PeerState { Open, Closed };
// For a socket that was reported readable with nothing to read: has the
// peer ended the connection (an orderly close, a reset, or an error)?
PeerState peerState(Socket s);

// At most len bytes into data: the count, 0 when nothing waits.
// Throws Error when the connection is broken.
std::int64_t receive(Socket s, void *data, std::int64_t len);

// Bytes the OS took, 0 when its buffer is full, -1 when the connection
// failed. Never raises SIGPIPE.
std::int64_t sendSome(Socket s, const void *data, std::int64_t len);

// The system's words for the last socket error of this thread.
std::string lastErrorText();

} // namespace kesmar::net

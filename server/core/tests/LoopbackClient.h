#pragma once

// A TCP client on the loopback interface for the tests, with plain sockets
// as on both platforms. It never blocks once connected: pump() takes what
// has arrived, so a test polls it from the condition it runs its loop on.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_loopback {

enum class Family { v4, v6 };

class LoopbackClient
{
  public:
    LoopbackClient() = default;
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient &) = delete;
    LoopbackClient &operator=(const LoopbackClient &) = delete;

    // Connects to 127.0.0.1 or ::1; false, with why(), when it cannot, or
    // when nothing answers within the limit. A receive buffer size above 0
    // is set before connecting, where it bounds the window the server may
    // fill while the client does not read.
    bool connect(std::uint16_t port, Family family = Family::v4, int receiveBuffer = 0,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));
    const std::string &why() const { return why_; }
    // The last connect was refused: nothing listened, or the server said no.
    bool refused() const { return refused_; }

    // All of bytes, waiting for room: only while the server reads on
    // another thread or the bytes fit the buffers.
    void send(const std::vector<std::uint8_t> &bytes);
    // What the OS takes of bytes now, without waiting.
    std::size_t offer(const std::vector<std::uint8_t> &bytes);
    // Reads what has arrived; true while the connection is open.
    bool pump();
    const std::vector<std::uint8_t> &received() const { return received_; }
    // The server ended the connection (end of stream or reset).
    bool ended() const { return ended_; }
    // Conditions for a loop to run until: each reads what has arrived first.
    bool hasReceived(std::size_t bytes)
    {
        pump();
        return received_.size() >= bytes;
    }
    bool hasEnded()
    {
        pump();
        return ended_;
    }

    void shutdownSend();
    void close();
    // Closes with a reset instead of an orderly end.
    void reset();

  private:
    std::intptr_t s_ = -1;
    std::vector<std::uint8_t> received_;
    bool ended_ = false;
    bool refused_ = false;
    std::string why_;
};

} // namespace testing_loopback

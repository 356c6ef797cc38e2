#pragma once

// A TCP client on the loopback interface for the tests, with plain sockets
// as on both platforms. It never blocks once connected: pump() takes what
// has arrived, so a test polls it from the condition it runs its loop on.

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

    // Connects to 127.0.0.1 or ::1; false, with why(), when it cannot. A
    // receive buffer size above 0 is set before connecting, where it bounds
    // the window the server may fill while the client does not read.
    bool connect(std::uint16_t port, Family family = Family::v4, int receiveBuffer = 0);
    const std::string &why() const { return why_; }

    void send(const std::vector<std::uint8_t> &bytes);
    // Reads what has arrived; true while the connection is open.
    bool pump();
    const std::vector<std::uint8_t> &received() const { return received_; }
    // The server ended the connection (end of stream or reset).
    bool ended() const { return ended_; }

    void shutdownSend();
    void close();
    // Closes with a reset instead of an orderly end.
    void reset();

  private:
    std::intptr_t s_ = -1;
    std::vector<std::uint8_t> received_;
    bool ended_ = false;
    std::string why_;
};

} // namespace testing_loopback

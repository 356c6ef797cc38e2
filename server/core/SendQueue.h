#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "Net.h"

namespace kesmar {

// What the program holds for a connection beyond the OS buffers: runs of
// identical copies that share one byte array, and how far the OS has taken
// the copy at the head. A block sent every tick costs its bytes once however
// many copies wait, and a copy leaves only whole, in the order it came.
class SendQueue
{
  public:
    // At most this many bytes go to the OS in one call. On loopback a
    // 32 KiB send buffer (64 KiB once Linux doubles it) holds one 64 KiB
    // segment when it is handed that much at once; the receiver then has a
    // single segment to acknowledge, delays its ACK by 40 ms, and the sender
    // stalls behind it. Smaller pieces leave several segments in flight, which
    // the receiver acks at once. At 10 ms with a plain client, pieces of
    // 8, 16 and 32 KiB all kept 1 MiB and 4 MiB blocks at 100 a second and
    // 64 KiB fell to 1.6 MB/s; 8 KiB cost the most CPU. 16 KiB is half the
    // buffer asked for, so two pieces fit even where the OS does not double it.
    static constexpr std::int64_t pieceBytes = 16 * 1024;

    // Adds one copy of bytes, unless maxWaiting whole copies (never begun)
    // already wait; then it returns false and holds nothing more.
    bool push(std::span<const std::uint8_t> bytes, std::int64_t maxWaiting);

    struct Fed
    {
        std::int64_t bytes = 0;  // taken by the OS in this call
        std::int64_t copies = 0; // copies finished in this call
        bool blocked = false;    // the OS buffer is full: wait until it is writable
        bool failed = false;     // the connection is broken
    };
    // Hands the OS pieces until it takes no more or nothing is left.
    Fed feed(net::Socket socket);
    // push() then feed() on an empty queue, with the pieces taken straight
    // from bytes: only a copy the OS leaves unfinished is held. A block that
    // leaves whole, as nearly every tick's does, is neither compared with
    // the last one nor queued.
    Fed send(net::Socket socket, std::span<const std::uint8_t> bytes);

    bool empty() const { return runs_.empty(); }
    std::int64_t bytesHeld() const { return held_; }
    std::int64_t copiesWaiting() const { return copies_ - (offset_ > 0 ? 1 : 0); }
    void clear();

  private:
    using Bytes = std::shared_ptr<const std::vector<std::uint8_t>>;
    struct Run
    {
        Bytes bytes;
        std::int64_t copies;
    };

    std::deque<Run> runs_;
    std::int64_t offset_ = 0; // into the head copy
    std::int64_t held_ = 0;
    std::int64_t copies_ = 0;
    // The newest bytes queued, kept after they are sent so that the next
    // tick's identical block needs neither an allocation nor a copy.
    Bytes last_;
};

} // namespace kesmar

#pragma once

#include <cstdint>
#include <functional>

#include "Net.h"

namespace kesmar {

// What the toolkit-free code needs of a front end's event loop, and all it
// needs: word that a socket can be read or written, a call to run later, and
// a wake-up at a due time. Every call and every callback is on the GUI
// thread; a callback runs to completion before the next one starts.
class EventLoop
{
  public:
    class SocketSink
    {
      public:
        // Something to read, a connection to accept, or the peer has closed
        // or reset the connection: the sink looks which. Called again while
        // the condition lasts (or, where the platform reports edges, after
        // the next receive or accept leaves more behind).
        virtual void readable() = 0;
        // Room to send, reported only while wantWrite(s, true) is in force
        // and after a send was refused.
        virtual void writable() = 0;

      protected:
        ~SocketSink() = default;
    };

    virtual ~EventLoop() = default;

    // Starts reporting s to sink; unwatch() before the socket is closed.
    virtual void watch(net::Socket s, SocketSink &sink) = 0;
    virtual void wantWrite(net::Socket s, bool on) = 0;
    virtual void unwatch(net::Socket s) = 0;

    // Runs call once the current notification has returned, in the order
    // posted.
    virtual void post(std::function<void()> call) = 0;

    // A monotonic clock in nanoseconds, and one wake-up at a time: a later
    // wakeAt() replaces an earlier one. A due time already past wakes at
    // once. The wake runs like any other notification.
    virtual std::int64_t nowNs() const = 0;
    virtual void wakeAt(std::int64_t dueNs, std::function<void()> wake) = 0;
    virtual void cancelWake() = 0;
};

} // namespace kesmar

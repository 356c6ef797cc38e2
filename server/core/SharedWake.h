#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "EventLoop.h"

namespace kesmar {

// A front end's loop keeps one wake-up at a time; the send clock and the
// socket control each need their own. Each view is the whole loop to its
// user, with a wake-up of its own: the loop is set for the earliest.
class SharedWake
{
  public:
    static constexpr std::size_t viewCount = 2;

    explicit SharedWake(EventLoop &loop);
    ~SharedWake();
    SharedWake(const SharedWake &) = delete;
    SharedWake &operator=(const SharedWake &) = delete;

    EventLoop &view(std::size_t i) { return views_.at(i); }

  private:
    class View final : public EventLoop
    {
      public:
        void watch(net::Socket s, SocketSink &sink) override { owner->loop_.watch(s, sink); }
        void wantWrite(net::Socket s, bool on) override { owner->loop_.wantWrite(s, on); }
        void unwatch(net::Socket s) override { owner->loop_.unwatch(s); }
        void post(std::function<void()> call) override { owner->loop_.post(std::move(call)); }
        std::int64_t nowNs() const override { return owner->loop_.nowNs(); }
        void wakeAt(std::int64_t dueNs, std::function<void()> wake) override;
        void cancelWake() override;

        SharedWake *owner = nullptr;
        std::function<void()> wake;
        std::int64_t dueNs = 0;
    };

    void rearm();
    void fire();

    EventLoop &loop_;
    std::array<View, viewCount> views_;
    std::int64_t armedNs_ = 0;
    bool firing_ = false;
};

} // namespace kesmar

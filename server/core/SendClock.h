#pragma once

#include <cstdint>
#include <functional>

#include "EventLoop.h"

namespace kesmar {

// The send clock tmr1: an enabled flag and a period in milliseconds. It
// ticks only while enabled with a period above 0, and keeps to a fixed
// schedule (anchor + k * period), so a late tick does not push the later
// ones back; ticks that fell due while the thread was held up by more than
// a period are dropped and counted rather than fired in a burst.
class SendClock
{
  public:
    SendClock(EventLoop &loop, std::function<void()> tick);
    ~SendClock();
    SendClock(const SendClock &) = delete;
    SendClock &operator=(const SendClock &) = delete;

    bool enabled() const { return enabled_; }
    void setEnabled(bool on);

    std::int32_t interval() const { return interval_; }
    void setInterval(std::int32_t milliseconds);

    // Since start: ticks fired, and ticks dropped.
    std::int64_t ticks() const { return ticks_; }
    std::int64_t missedTicks() const { return missed_; }
    // When the armed tick is due, in the loop's clock; for traces.
    std::int64_t dueNs() const { return dueNs_; }

  private:
    void arm(std::int64_t dueNs);
    void disarm();
    void restart();
    void scheduleNext();
    void fire();

    EventLoop &loop_;
    std::function<void()> tick_;
    bool enabled_ = false;
    bool armed_ = false;
    std::int32_t interval_ = 0;
    std::int64_t anchorNs_ = 0; // time of tick 0
    std::int64_t nextIndex_ = 0;
    std::int64_t ticks_ = 0;
    std::int64_t missed_ = 0;
    std::int64_t dueNs_ = 0; // of the armed tick
};

} // namespace kesmar

#include "SendClock.h"

#include <algorithm>
#include <utility>

namespace kesmar {

SendClock::SendClock(EventLoop &loop, std::function<void()> tick)
    : loop_(loop), tick_(std::move(tick))
{}

SendClock::~SendClock()
{
    if (armed_)
        loop_.cancelWake();
}

void SendClock::arm(std::int64_t dueNs)
{
    armed_ = true;
    dueNs_ = dueNs;
    loop_.wakeAt(dueNs, [this] { fire(); });
}

void SendClock::disarm()
{
    if (!armed_)
        return;
    armed_ = false;
    loop_.cancelWake();
}

void SendClock::setEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    restart();
}

void SendClock::setInterval(std::int32_t milliseconds)
{
    if (milliseconds == interval_)
        return;
    const bool ticking = armed_;
    const std::int64_t lastDue = anchorNs_ + (nextIndex_ - 1) * std::int64_t{interval_} * 1000000;
    interval_ = milliseconds;
    if (!ticking || interval_ <= 0) {
        restart();
        return;
    }
    // Keep the rhythm: the next tick is one new period after the last one
    // (or after switching on), not after the moment the slider moved. A
    // shorter period starts no earlier than one new period ago, so slots
    // that fell before it existed are not counted as missed.
    anchorNs_ = std::max(lastDue, loop_.nowNs() - std::int64_t{interval_} * 1000000);
    nextIndex_ = 1;
    scheduleNext();
}

void SendClock::restart()
{
    disarm();
    if (!enabled_ || interval_ <= 0)
        return;
    anchorNs_ = loop_.nowNs();
    nextIndex_ = 1;
    scheduleNext();
}

void SendClock::scheduleNext()
{
    const std::int64_t periodNs = std::int64_t{interval_} * 1000000;
    const std::int64_t now = loop_.nowNs();
    if (now - (anchorNs_ + nextIndex_ * periodNs) >= periodNs) {
        // More than a whole period behind: drop what was missed and fire now.
        const std::int64_t behind = (now - anchorNs_) / periodNs;
        missed_ += behind - nextIndex_;
        nextIndex_ = behind;
    }
    arm(anchorNs_ + nextIndex_ * periodNs);
}

void SendClock::fire()
{
    armed_ = false;
    if (!enabled_ || interval_ <= 0)
        return;
    ++nextIndex_;
    ++ticks_;
    scheduleNext();
    tick_();
}

} // namespace kesmar

#include "SendTimer.h"

#include <chrono>

SendTimer::SendTimer(QObject *parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SendTimer::fire);
    clock_.start();
}

void SendTimer::setEnabled(bool on)
{
    if (on == enabled_)
        return;
    enabled_ = on;
    restart();
}

void SendTimer::setInterval(std::int32_t milliseconds)
{
    if (milliseconds == interval_)
        return;
    const bool ticking = timer_.isActive();
    const std::int64_t lastDue = anchorNs_ + (nextIndex_ - 1) * std::int64_t{interval_} * 1000000;
    interval_ = milliseconds;
    if (!ticking || interval_ <= 0) {
        restart();
        return;
    }
    // Keep the rhythm: the next tick is one new period after the last one
    // (or after switching on), not after the moment the slider moved.
    anchorNs_ = lastDue;
    nextIndex_ = 1;
    scheduleNext();
}

void SendTimer::restart()
{
    timer_.stop();
    if (!enabled_ || interval_ <= 0)
        return;
    anchorNs_ = clock_.nsecsElapsed();
    nextIndex_ = 1;
    scheduleNext();
}

void SendTimer::scheduleNext()
{
    const std::int64_t periodNs = std::int64_t{interval_} * 1000000;
    const std::int64_t now = clock_.nsecsElapsed();
    std::int64_t due = anchorNs_ + nextIndex_ * periodNs;
    if (now - due >= periodNs) {
        // More than a whole period behind: drop what was missed and fire now.
        const std::int64_t behind = (now - anchorNs_) / periodNs;
        missed_ += behind - nextIndex_;
        nextIndex_ = behind;
        due = anchorNs_ + nextIndex_ * periodNs;
    }
    // Round to the nearest millisecond, the resolution of the timer.
    const std::int64_t waitMs = due > now ? (due - now + 500000) / 1000000 : 0;
    timer_.start(std::chrono::milliseconds(waitMs));
}

void SendTimer::fire()
{
    if (!enabled_ || interval_ <= 0)
        return;
    ++nextIndex_;
    scheduleNext();
    emit timeout();
}

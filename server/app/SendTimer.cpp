#include "SendTimer.h"

#include <chrono>

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#endif

SendTimer::SendTimer(QObject *parent) : QObject(parent)
{
    clock_.start();
#ifdef Q_OS_LINUX
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ >= 0) {
        notifier_ = new QSocketNotifier(timerFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            if (::read(timerFd_, &expirations, sizeof expirations) > 0)
                fire();
        });
        return;
    }
#endif
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SendTimer::fire);
}

SendTimer::~SendTimer()
{
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        delete notifier_;
        ::close(timerFd_);
    }
#endif
}

std::int64_t SendTimer::nowNs() const
{
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
    }
#endif
    return clock_.nsecsElapsed();
}

void SendTimer::arm(std::int64_t dueNs)
{
    armed_ = true;
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        itimerspec due{};
        due.it_value.tv_sec = static_cast<time_t>(dueNs / 1000000000);
        due.it_value.tv_nsec = static_cast<long>(dueNs % 1000000000);
        timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr);
        return;
    }
#endif
    const std::int64_t now = nowNs();
    // Round to the nearest millisecond, the resolution of the timer.
    const std::int64_t waitMs = dueNs > now ? (dueNs - now + 500000) / 1000000 : 0;
    timer_.start(std::chrono::milliseconds(waitMs));
}

void SendTimer::disarm()
{
    armed_ = false;
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        const itimerspec off{};
        timerfd_settime(timerFd_, 0, &off, nullptr);
        return;
    }
#endif
    timer_.stop();
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
    const bool ticking = armed_;
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
    disarm();
    if (!enabled_ || interval_ <= 0)
        return;
    anchorNs_ = nowNs();
    nextIndex_ = 1;
    scheduleNext();
}

void SendTimer::scheduleNext()
{
    const std::int64_t periodNs = std::int64_t{interval_} * 1000000;
    const std::int64_t now = nowNs();
    if (now - (anchorNs_ + nextIndex_ * periodNs) >= periodNs) {
        // More than a whole period behind: drop what was missed and fire now.
        const std::int64_t behind = (now - anchorNs_) / periodNs;
        missed_ += behind - nextIndex_;
        nextIndex_ = behind;
    }
    arm(anchorNs_ + nextIndex_ * periodNs);
}

void SendTimer::fire()
{
    if (!enabled_ || interval_ <= 0)
        return;
    ++nextIndex_;
    scheduleNext();
    emit timeout();
}

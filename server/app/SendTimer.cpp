#include "SendTimer.h"

#include <chrono>
#ifdef KESMAR_TICK_TRACE
#include <cstdio>
#include <fstream>
#endif

#include <QSocketNotifier>
#ifdef KESMAR_TICK_TRACE
#include <QAbstractEventDispatcher>
#endif

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#endif

SendTimer::SendTimer(QObject *parent) : QObject(parent)
{
    clock_.start();
#ifdef KESMAR_TICK_TRACE
    if (auto *loop = QAbstractEventDispatcher::instance())
        connect(loop, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            blockedAtNs_ = nowNs();
            cpuAtBlockNs_ = threadCpuNs();
        });
#endif
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
    dueNs_ = dueNs;
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
    if (on)
        emit switchedOn();
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
#ifdef KESMAR_TICK_TRACE
    traceTick();
#endif
    ++nextIndex_;
    scheduleNext();
    emit timeout();
}

#ifdef KESMAR_TICK_TRACE
// Benchmark builds only: one line per tick on stderr, "tick DUE LATE WAIT
// BUSY" in ns, for telling a late tick that is the program's from one that
// is the machine's. LATE runs from the due time to this call, which comes
// just before SendData. WAIT is how long this thread sat runnable but not
// running since the previous tick: the scheduler's share. BUSY is the event
// loop's own work after the tick came due: the wall time it went on working
// past the due time before it next waited, plus the CPU time it spent in the
// pass that brought the tick before reaching it. What is left is the wake-up
// itself: the loop was waiting and the OS woke it late.
std::int64_t SendTimer::threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void SendTimer::traceTick()
{
    const std::int64_t now = nowNs();
    std::ifstream stat("/proc/thread-self/schedstat");
    std::int64_t cpu = 0, wait = 0;
    stat >> cpu >> wait;
    const std::int64_t waited = runWaitNs_ > 0 ? wait - runWaitNs_ : 0;
    runWaitNs_ = wait;
    const std::int64_t busy =
        (blockedAtNs_ > dueNs_ ? blockedAtNs_ - dueNs_ : 0) + (threadCpuNs() - cpuAtBlockNs_);
    std::fprintf(stderr, "tick %lld %lld %lld %lld\n", static_cast<long long>(dueNs_),
                 static_cast<long long>(now - dueNs_), static_cast<long long>(waited),
                 static_cast<long long>(busy));
}
#endif

#include "QtEventLoop.h"

#include <chrono>
#include <utility>
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

namespace {

// A notifier may go while its own signal is being delivered (a handler
// closes the socket that woke it), so it is switched off now and freed later.
void retire(std::unique_ptr<QSocketNotifier> &notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->disconnect();
    notifier.release()->deleteLater();
}

} // namespace

QtEventLoop::QtEventLoop(QObject *parent) : QObject(parent)
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
        timerNotifier_ = new QSocketNotifier(timerFd_, QSocketNotifier::Read, this);
        connect(timerNotifier_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            if (::read(timerFd_, &expirations, sizeof expirations) > 0)
                fire();
        });
        return;
    }
#endif
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &QtEventLoop::fire);
}

QtEventLoop::~QtEventLoop()
{
    for (auto &[s, w] : sockets_) {
        retire(w.read);
        retire(w.write);
    }
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        delete timerNotifier_;
        ::close(timerFd_);
    }
#endif
}

void QtEventLoop::watch(kesmar::net::Socket s, SocketSink &sink)
{
    Watched &w = sockets_[s];
    retire(w.read);
    retire(w.write);
    w.read = std::make_unique<QSocketNotifier>(static_cast<qintptr>(s), QSocketNotifier::Read);
    connect(w.read.get(), &QSocketNotifier::activated, this, [&sink] { sink.readable(); });
    w.write = std::make_unique<QSocketNotifier>(static_cast<qintptr>(s), QSocketNotifier::Write);
    w.write->setEnabled(false);
    connect(w.write.get(), &QSocketNotifier::activated, this, [&sink] { sink.writable(); });
}

void QtEventLoop::wantWrite(kesmar::net::Socket s, bool on)
{
    if (const auto it = sockets_.find(s); it != sockets_.end() && it->second.write)
        it->second.write->setEnabled(on);
}

void QtEventLoop::unwatch(kesmar::net::Socket s)
{
    const auto it = sockets_.find(s);
    if (it == sockets_.end())
        return;
    retire(it->second.read);
    retire(it->second.write);
    sockets_.erase(it);
}

void QtEventLoop::post(std::function<void()> call)
{
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

std::int64_t QtEventLoop::nowNs() const
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

void QtEventLoop::wakeAt(std::int64_t dueNs, std::function<void()> wake)
{
    wake_ = std::move(wake);
    dueNs_ = dueNs;
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        itimerspec due{};
        // A due time of 0 would disarm the timerfd; the past wakes at once.
        const std::int64_t at = dueNs > 0 ? dueNs : 1;
        due.it_value.tv_sec = static_cast<time_t>(at / 1000000000);
        due.it_value.tv_nsec = static_cast<long>(at % 1000000000);
        timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr);
        return;
    }
#endif
    const std::int64_t now = nowNs();
    // Round to the nearest millisecond, the resolution of the timer.
    const std::int64_t waitMs = dueNs > now ? (dueNs - now + 500000) / 1000000 : 0;
    timer_.start(std::chrono::milliseconds(waitMs));
}

void QtEventLoop::cancelWake()
{
    wake_ = nullptr;
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        const itimerspec off{};
        timerfd_settime(timerFd_, 0, &off, nullptr);
        return;
    }
#endif
    timer_.stop();
}

void QtEventLoop::fire()
{
    if (!wake_)
        return;
#ifdef KESMAR_TICK_TRACE
    traceTick();
#endif
    // The wake may ask for the next one, which replaces wake_.
    const std::function<void()> wake = std::exchange(wake_, nullptr);
    wake();
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
std::int64_t QtEventLoop::threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void QtEventLoop::traceTick()
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

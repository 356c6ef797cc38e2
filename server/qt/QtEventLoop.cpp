#include "QtEventLoop.h"

#include <chrono>
#include <utility>
#ifdef KESMAR_TICK_TRACE
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#endif

#include <QSocketNotifier>
#ifdef KESMAR_TICK_TRACE
#include <QAbstractEventDispatcher>
#endif

#ifdef Q_OS_LINUX
#include "GlibWake.h"

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
        auto readable = [this] {
            // Setting the timerfd clears its expiry as a read does, and the
            // wake nearly always sets the next one: the read is left for
            // when it does not, or when this word is older than a setting
            // made since in the same pass.
            const std::uint64_t sets = timerSets_;
            if (wake_ && nowNs() >= dueNs_)
                dispatch([this] { fire(); });
            if (timerSets_ == sets) {
                std::uint64_t expirations = 0;
                [[maybe_unused]] const auto n = ::read(timerFd_, &expirations, sizeof expirations);
            }
#ifdef KESMAR_TICK_TRACE
            // GlibWake may go back to waiting without Qt's aboutToBlock.
            blockedAtNs_ = nowNs();
            cpuAtBlockNs_ = threadCpuNs();
#endif
        };
        timerWake_ = GlibWake::attach(timerFd_, readable);
        if (!timerWake_) {
            timerNotifier_ = new QSocketNotifier(timerFd_, QSocketNotifier::Read, this);
            connect(timerNotifier_, &QSocketNotifier::activated, this, readable);
        }
        return;
    }
#endif
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { dispatch([this] { fire(); }); });
}

QtEventLoop::~QtEventLoop()
{
    for (auto &[s, w] : sockets_) {
        retire(w.read);
        retire(w.write);
    }
#ifdef Q_OS_LINUX
    if (timerFd_ >= 0) {
        timerWake_.reset();
        delete timerNotifier_;
        ::close(timerFd_);
    }
#endif
#ifdef KESMAR_TICK_TRACE
    flushTrace();
    if (schedstat_ >= 0)
        ::close(schedstat_);
#endif
}

template <class F> void QtEventLoop::dispatch(F &&callback)
{
    {
        ++depth_;
        // Handlers end the program rather than throw; this is for a test's.
        struct Leave
        {
            int &depth;
            ~Leave() { --depth; }
        } leave{depth_};
        callback();
    }
    runPosted();
}

void QtEventLoop::runPosted()
{
    // Those posted by these calls wait for the next pass, so that a call
    // that posts itself cannot hold the loop.
    std::size_t n = posted_.size();
    ++depth_;
    while (n-- > 0 && !posted_.empty()) {
        const std::function<void()> call = std::move(posted_.front());
        posted_.pop_front();
        call();
    }
    --depth_;
    if (depth_ == 0 && !posted_.empty())
        queuePosted();
}

void QtEventLoop::queuePosted()
{
    if (queued_)
        return;
    queued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            queued_ = false;
            dispatch([] {});
        },
        Qt::QueuedConnection);
}

void QtEventLoop::watch(kesmar::net::Socket s, SocketSink &sink)
{
    Watched &w = sockets_[s];
    retire(w.read);
    retire(w.write);
    w.read = std::make_unique<QSocketNotifier>(static_cast<qintptr>(s), QSocketNotifier::Read);
    connect(w.read.get(), &QSocketNotifier::activated, this,
            [this, &sink] { dispatch([&sink] { sink.readable(); }); });
    w.write = std::make_unique<QSocketNotifier>(static_cast<qintptr>(s), QSocketNotifier::Write);
    w.write->setEnabled(false);
    connect(w.write.get(), &QSocketNotifier::activated, this,
            [this, &sink] { dispatch([&sink] { sink.writable(); }); });
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
    posted_.push_back(std::move(call));
    // From inside a callback, they run when it returns.
    if (depth_ == 0)
        queuePosted();
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
        ++timerSets_;
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
        ++timerSets_;
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
    // Opened once: opening it each tick cost more than the tick's own work.
    if (schedstat_ < 0)
        schedstat_ = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    char text[96] = {};
    std::int64_t wait = 0;
    if (schedstat_ >= 0 && ::pread(schedstat_, text, sizeof text - 1, 0) > 0) {
        char *end = nullptr;
        std::strtoll(text, &end, 10); // run time; the wait follows
        wait = std::strtoll(end, nullptr, 10);
    }
    const std::int64_t waited = runWaitNs_ > 0 ? wait - runWaitNs_ : 0;
    runWaitNs_ = wait;
    const std::int64_t busy =
        (blockedAtNs_ > dueNs_ ? blockedAtNs_ - dueNs_ : 0) + (threadCpuNs() - cpuAtBlockNs_);
    trace_ += "tick";
    for (const std::int64_t v : {dueNs_, now - dueNs_, waited, busy}) {
        char digits[24];
        trace_ += ' ';
        trace_.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
    }
    trace_ += '\n';
    // A write a tick cost more than the tick; a second's lines at a time.
    if (now - traceFlushedNs_ >= 1000000000)
        flushTrace();
}

void QtEventLoop::flushTrace()
{
    traceFlushedNs_ = nowNs();
    std::fwrite(trace_.data(), 1, trace_.size(), stderr);
    trace_.clear();
}
#endif

#include "TestLoops.h"

#include <algorithm>
#include <map>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>

#include "WinEventLoop.h"
#else
#include <sys/select.h>
#endif

#ifdef KESMAR_TEST_QT_LOOP
#include <QCoreApplication>
#include <QTimer>

#include "QtEventLoop.h"
#endif

#include <thread>

namespace testing_loops {

using kesmar::EventLoop;
using kesmar::net::Socket;

void FakeLoop::wakeAt(std::int64_t dueNs, std::function<void()> wake)
{
    wake_ = std::move(wake);
    due_ = dueNs;
    wakeSet_ = true;
}

void FakeLoop::cancelWake()
{
    wake_ = nullptr;
    wakeSet_ = false;
}

void FakeLoop::runPosted()
{
    while (!posted_.empty()) {
        auto call = std::move(posted_.front());
        posted_.pop_front();
        call();
    }
}

void FakeLoop::advanceTo(std::int64_t t)
{
    runPosted();
    while (wakeSet_ && due_ <= t) {
        now_ = std::max(now_, due_);
        wakeSet_ = false;
        std::function<void()> wake = std::move(wake_);
        wake();
        runPosted();
    }
    now_ = std::max(now_, t);
}

void FakeLoop::stallUntil(std::int64_t t)
{
    now_ = std::max(now_, t);
    advanceTo(t);
}

namespace {

#ifdef _WIN32
SOCKET native(Socket s)
{
    return static_cast<SOCKET>(s);
}
#else
int native(Socket s)
{
    return static_cast<int>(s);
}
#endif

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits in select(), a few milliseconds at a time, so that a condition that
// changes without a notification (bytes reaching a test's own client) is seen.
class SelectLoop final : public EventLoop, public TestLoop
{
  public:
    EventLoop &loop() override { return *this; }

    void watch(Socket s, SocketSink &sink) override { watched_[s] = {&sink, false}; }
    void wantWrite(Socket s, bool on) override
    {
        if (auto it = watched_.find(s); it != watched_.end())
            it->second.writeWanted = on;
    }
    void unwatch(Socket s) override { watched_.erase(s); }
    void post(std::function<void()> call) override { posted_.push_back(std::move(call)); }
    std::int64_t nowNs() const override { return steadyNs(); }
    void wakeAt(std::int64_t dueNs, std::function<void()> wake) override
    {
        wake_ = std::move(wake);
        due_ = dueNs;
        wakeSet_ = true;
    }
    void cancelWake() override
    {
        wake_ = nullptr;
        wakeSet_ = false;
    }

  protected:
    bool run(const std::function<bool()> &done, std::chrono::milliseconds limit) override
    {
        const std::int64_t end = steadyNs() + std::chrono::nanoseconds(limit).count();
        for (;;) {
            runPosted();
            if (done())
                return true;
            if (steadyNs() >= end)
                return false;
            if (wakeSet_ && steadyNs() >= due_) {
                wakeSet_ = false;
                std::function<void()> wake = std::move(wake_);
                wake();
                continue;
            }
            waitOnce(end);
        }
    }

  private:
    struct Watch
    {
        SocketSink *sink;
        bool writeWanted;
    };

    void runPosted()
    {
        while (!posted_.empty()) {
            auto call = std::move(posted_.front());
            posted_.pop_front();
            call();
        }
    }

    void waitOnce(std::int64_t end)
    {
        std::int64_t until = std::min(end, steadyNs() + 2'000'000);
        if (wakeSet_)
            until = std::min(until, due_);
        const std::int64_t waitUs = std::max<std::int64_t>((until - steadyNs()) / 1000, 0);
        if (watched_.empty()) {
            // Winsock's select() refuses empty sets at once.
            std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
            return;
        }
        fd_set readSet, writeSet;
        FD_ZERO(&readSet);
        FD_ZERO(&writeSet);
        int highest = -1;
        for (const auto &[s, w] : watched_) {
            FD_SET(native(s), &readSet);
            if (w.writeWanted)
                FD_SET(native(s), &writeSet);
            highest = std::max(highest, static_cast<int>(s));
        }
        timeval tv{};
        tv.tv_sec = static_cast<long>(waitUs / 1000000);
        tv.tv_usec = static_cast<long>(waitUs % 1000000);
        if (::select(highest + 1, &readSet, &writeSet, nullptr, &tv) <= 0)
            return;
        // A callback may unwatch or replace any socket: look each up anew.
        std::vector<std::pair<Socket, bool>> ready;
        for (const auto &[s, w] : watched_) {
            if (FD_ISSET(native(s), &readSet))
                ready.emplace_back(s, false);
            if (FD_ISSET(native(s), &writeSet))
                ready.emplace_back(s, true);
        }
        for (const auto &[s, write] : ready) {
            const auto it = watched_.find(s);
            if (it == watched_.end())
                continue;
            if (write && it->second.writeWanted)
                it->second.sink->writable();
            else if (!write)
                it->second.sink->readable();
        }
    }

    std::map<Socket, Watch> watched_;
    std::deque<std::function<void()>> posted_;
    std::function<void()> wake_;
    std::int64_t due_ = 0;
    bool wakeSet_ = false;
};

#ifdef _WIN32
// The program's own loop, run until a check on a thread timer ends it.
class Win32Loop final : public TestLoop
{
  public:
    EventLoop &loop() override { return loop_; }

  protected:
    bool run(const std::function<bool()> &done, std::chrono::milliseconds limit) override
    {
        if (done())
            return true;
        check_ = {&done, steadyNs() + std::chrono::nanoseconds(limit).count(), false};
        active_ = this;
        // Looked at on every message too: a timer alone, at the system's
        // tick, would leave the program's own timers to run on meanwhile.
        loop_.preTranslate = [](MSG &) {
            onTimer(nullptr, 0, 0, 0);
            return false;
        };
        const UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &Win32Loop::onTimer);
        loop_.run();
        KillTimer(nullptr, timer);
        loop_.preTranslate = nullptr;
        active_ = nullptr;
        return done();
    }

  private:
    static void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        Win32Loop *self = active_;
        if (!self || self->check_.over)
            return;
        if ((*self->check_.done)() || steadyNs() >= self->check_.end) {
            self->check_.over = true;
            PostQuitMessage(0);
        }
    }

    struct Check
    {
        const std::function<bool()> *done = nullptr;
        std::int64_t end = 0;
        bool over = false;
    };

    static inline Win32Loop *active_ = nullptr;
    kesmar::win32::WinEventLoop loop_;
    Check check_;
};
#endif

#ifdef KESMAR_TEST_QT_LOOP
// The Qt front end's loop, pumped here as the application's own loop would
// run it: each pass handles what is ready, waiting a few milliseconds at
// most. Needs the QCoreApplication that the test main makes.
class QtLoop final : public TestLoop
{
  public:
    QtLoop()
    {
        nudge_.setSingleShot(true);
        nudge_.setTimerType(Qt::PreciseTimer);
    }
    ~QtLoop() override
    {
        loop_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    EventLoop &loop() override { return *loop_; }

  protected:
    bool run(const std::function<bool()> &done, std::chrono::milliseconds limit) override
    {
        const std::int64_t end = steadyNs() + std::chrono::nanoseconds(limit).count();
        for (;;) {
            if (done())
                return true;
            const std::int64_t left = end - steadyNs();
            if (left <= 0)
                return false;
            nudge_.start(std::chrono::milliseconds(std::min<std::int64_t>(left / 1'000'000, 2)));
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            // The notifiers that unwatch() retires go here, as at the end of
            // each pass of the program's loop; processEvents() leaves them.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

  private:
    std::unique_ptr<QtEventLoop> loop_ = std::make_unique<QtEventLoop>();
    QTimer nudge_;
};
#endif

} // namespace

std::vector<std::string> loopKinds()
{
#ifdef _WIN32
    return {"select", "win32"};
#elif defined(KESMAR_TEST_QT_LOOP)
    return {"select", "qt"};
#else
    return {"select"};
#endif
}

std::unique_ptr<TestLoop> makeLoop(const std::string &kind)
{
#ifdef _WIN32
    if (kind == "win32")
        return std::make_unique<Win32Loop>();
#endif
#ifdef KESMAR_TEST_QT_LOOP
    if (kind == "qt")
        return std::make_unique<QtLoop>();
#endif
    (void)kind;
    return std::make_unique<SelectLoop>();
}

} // namespace testing_loops

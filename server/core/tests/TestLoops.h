#pragma once

// Event loops for the tests: a fake one whose clock only moves when told,
// and real ones that wait on sockets and time, with a bound on every wait.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EventLoop.h"

namespace testing_loops {

// How long a test waits for what should come at once, before it fails.
inline constexpr std::chrono::seconds patience{10};

// No sockets; posted calls and the wake run only from advanceTo().
class FakeLoop final : public kesmar::EventLoop
{
  public:
    void watch(kesmar::net::Socket, SocketSink &) override {}
    void wantWrite(kesmar::net::Socket, bool) override {}
    void unwatch(kesmar::net::Socket) override {}
    void post(std::function<void()> call) override { posted_.push_back(std::move(call)); }
    std::int64_t nowNs() const override { return now_; }
    void wakeAt(std::int64_t dueNs, std::function<void()> wake) override;
    void cancelWake() override;

    // Runs free until t: each wake at its due time, as an idle thread would.
    void advanceTo(std::int64_t t);
    // The thread is held up until t; what fell due meanwhile runs late, at t.
    void stallUntil(std::int64_t t);

    bool wakeSet() const { return wakeSet_; }

  private:
    void runPosted();

    std::int64_t now_ = 0;
    std::deque<std::function<void()>> posted_;
    std::function<void()> wake_;
    std::int64_t due_ = 0;
    bool wakeSet_ = false;
};

// A real loop as a test drives it, whatever the loop underneath.
class TestLoop
{
  public:
    virtual ~TestLoop() = default;
    virtual kesmar::EventLoop &loop() = 0;

    // Handles notifications until done() holds, and says whether it did
    // within the limit. done() is asked again after each notification and
    // every few milliseconds, so it may also watch a test's own client.
    bool runUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = patience)
    {
        return run(done, limit);
    }
    // Handles notifications for t, for word that must not come.
    void runFor(std::chrono::milliseconds t)
    {
        run([] { return false; }, t);
    }

  protected:
    virtual bool run(const std::function<bool()> &done, std::chrono::milliseconds limit) = 0;
};

// "select" everywhere (select() is the one wait that POSIX and Winsock share);
// "win32", the program's own loop, on Windows; and "qt", the Qt front end's,
// where the tests are built with Qt.
std::vector<std::string> loopKinds();
std::unique_ptr<TestLoop> makeLoop(const std::string &kind);

} // namespace testing_loops

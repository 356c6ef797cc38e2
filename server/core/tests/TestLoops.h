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

// A real loop as a test drives it: runUntil() handles notifications until
// done() holds or the time is up, and says which.
class TestLoop
{
  public:
    virtual ~TestLoop() = default;
    virtual kesmar::EventLoop &loop() = 0;
    virtual bool runUntil(const std::function<bool()> &done, std::chrono::milliseconds limit) = 0;
};

// "select" everywhere (select() is the one wait that POSIX and Winsock share),
// and "win32", the program's own loop, on Windows.
std::vector<std::string> loopKinds();
std::unique_ptr<TestLoop> makeLoop(const std::string &kind);

} // namespace testing_loops

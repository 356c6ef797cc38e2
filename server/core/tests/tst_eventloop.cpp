// What the toolkit-free code relies on in an event loop, checked on each
// loop the platform has (the Qt front end's among them, on Linux); and on
// Windows, how the program's own loop copes with message loops that are not
// its own.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackClient.h"
#include "Net.h"
#include "TestLoops.h"

#ifdef _WIN32
#include <windows.h>

#include "WinEventLoop.h"
#endif
#ifdef KESMAR_TEST_QT_LOOP
#include <QTimer>
#endif

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t ms = 1'000'000;

class EventLoopContract : public testing::TestWithParam<std::string>
{
  protected:
    bool runUntil(const std::function<bool()> &done) { return test->runUntil(done, 5s); }
    void runFor(std::chrono::milliseconds t) { test->runFor(t); }

    std::unique_ptr<testing_loops::TestLoop> test = testing_loops::makeLoop(GetParam());
    kesmar::EventLoop &loop = test->loop();
};

TEST_P(EventLoopContract, PostedCallsRunInOrderAfterTheCurrentOne)
{
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(4); });
        order.push_back(2);
    });
    loop.post([&] { order.push_back(3); });
    ASSERT_TRUE(runUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_P(EventLoopContract, WakeComesOnceAndNotBeforeItIsDue)
{
    for (const std::int64_t inMs : {-5, 0, 1, 15}) {
        SCOPED_TRACE("due in " + std::to_string(inMs) + " ms");
        const std::int64_t due = loop.nowNs() + inMs * ms;
        int wakes = 0;
        std::int64_t wokeAt = 0;
        loop.wakeAt(due, [&] {
            ++wakes;
            wokeAt = loop.nowNs();
        });
        ASSERT_TRUE(runUntil([&] { return wakes > 0; }));
        EXPECT_GE(wokeAt, due);
        runFor(30ms);
        EXPECT_EQ(wakes, 1);
    }
}

TEST_P(EventLoopContract, LaterWakeReplacesTheEarlierAndCancelEndsIt)
{
    std::vector<char> woke;
    loop.wakeAt(loop.nowNs() + 5 * ms, [&] { woke.push_back('a'); });
    loop.wakeAt(loop.nowNs() + 10 * ms, [&] { woke.push_back('b'); });
    ASSERT_TRUE(runUntil([&] { return !woke.empty(); }));
    runFor(30ms);
    EXPECT_EQ(woke, std::vector<char>{'b'});

    loop.wakeAt(loop.nowNs() + 5 * ms, [&] { woke.push_back('c'); });
    loop.cancelWake();
    runFor(40ms);
    EXPECT_EQ(woke, std::vector<char>{'b'});
}

TEST_P(EventLoopContract, WakeSetFromAWakeKeepsTheChainGoing)
{
    std::vector<std::int64_t> dues, woke;
    std::function<void()> next = [&] {
        woke.push_back(loop.nowNs());
        if (dues.size() < 5) {
            dues.push_back(dues.back() + 2 * ms);
            loop.wakeAt(dues.back(), next);
        }
    };
    dues.push_back(loop.nowNs() + 2 * ms);
    loop.wakeAt(dues.back(), next);
    ASSERT_TRUE(runUntil([&] { return woke.size() == 5; }));
    for (std::size_t i = 0; i < woke.size(); ++i)
        EXPECT_GE(woke[i], dues[i]) << "wake " << i;
}

struct CountingSink final : kesmar::EventLoop::SocketSink
{
    int reads = 0;
    void readable() override { ++reads; }
    void writable() override {}
};

// A connection with 16 bytes waiting, taken from the listener by hand.
kesmar::net::Socket connectionWithData(kesmar::net::Socket listener,
                                       testing_loopback::LoopbackClient &client)
{
    if (!client.connect(kesmar::net::localPort(listener)))
        return kesmar::net::invalidSocket;
    client.send(std::vector<std::uint8_t>(16, 7));
    kesmar::net::Socket s = kesmar::net::invalidSocket;
    for (int i = 0; i < 500 && s == kesmar::net::invalidSocket; ++i) {
        s = kesmar::net::acceptOne(listener);
        std::this_thread::sleep_for(2ms);
    }
    for (int i = 0; i < 500 && s != kesmar::net::invalidSocket; ++i) {
        if (kesmar::net::bytesReadable(s) >= 16)
            break;
        std::this_thread::sleep_for(2ms);
    }
    return s;
}

// Word already on its way about a socket that is then unwatched and closed
// reaches nobody; a socket watched anew is reported again.
TEST_P(EventLoopContract, WordForASocketNoLongerWatchedIsDropped)
{
    const kesmar::net::Socket listener = kesmar::net::listenTcp(0, 4, 0, 0);
    testing_loopback::LoopbackClient first, second;
    CountingSink gone, kept;

    const kesmar::net::Socket a = connectionWithData(listener, first);
    ASSERT_NE(a, kesmar::net::invalidSocket);
    loop.watch(a, gone);
    loop.unwatch(a);
    kesmar::net::close(a);
    runFor(50ms);
    EXPECT_EQ(gone.reads, 0);

    const kesmar::net::Socket b = connectionWithData(listener, second);
    ASSERT_NE(b, kesmar::net::invalidSocket);
    loop.watch(b, kept);
    EXPECT_TRUE(runUntil([&] { return kept.reads > 0; }));
    loop.unwatch(b);
    kesmar::net::close(b);
    kesmar::net::close(listener);
}

INSTANTIATE_TEST_SUITE_P(Loops, EventLoopContract, testing::ValuesIn(testing_loops::loopKinds()),
                         [](const auto &info) { return info.param; });

#ifdef KESMAR_TEST_QT_LOOP
// The Qt loop runs a call posted from inside one of its callbacks as soon as
// that callback returns; one that keeps posting itself from there must still
// leave the clock its turn.
TEST(QtEventLoop, SelfPostingCallLeavesTheWakeItsTurn)
{
    auto test = testing_loops::makeLoop("qt");
    kesmar::EventLoop &loop = test->loop();
    bool flooding = true;
    int calls = 0;
    int wakes = 0;
    std::function<void()> again = [&] {
        ++calls;
        if (flooding)
            loop.post(again);
    };
    loop.wakeAt(loop.nowNs(), [&] {
        loop.post(again);
        loop.wakeAt(loop.nowNs() + 5 * ms, [&] { ++wakes; });
    });
    EXPECT_TRUE(test->runUntil([&] { return wakes > 0; }, 5s));
    flooding = false;
    EXPECT_GT(calls, 1);
}

// Ticks that come faster than Qt's next timer is due are run without going
// back to Qt's loop; its timers must still fire.
TEST(QtEventLoop, SteadyTicksLeaveQtTimersTheirTurn)
{
    auto test = testing_loops::makeLoop("qt");
    kesmar::EventLoop &loop = test->loop();
    int ticksLeft = 3000;
    std::function<void()> tick = [&] {
        if (--ticksLeft > 0)
            loop.wakeAt(loop.nowNs() + ms, tick);
    };
    loop.wakeAt(loop.nowNs(), tick);
    int ticksLeftWhenFired = 0;
    QTimer::singleShot(30, [&] { ticksLeftWhenFired = ticksLeft; });
    EXPECT_TRUE(test->runUntil([&] { return ticksLeftWhenFired > 0 || ticksLeft == 0; }, 10s));
    EXPECT_GT(ticksLeftWhenFired, 0);
    loop.cancelWake();
}
#endif

#ifdef _WIN32
// What a modal loop does: dispatch messages until told to stop, passing a
// quit on to the loop outside, as MessageBox and a menu do. "Flooded": a
// message is always waiting, as while a client floods the server.
void pumpLike(std::chrono::milliseconds t, bool flooded = false)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(t.count());
    MSG m;
    while (GetTickCount64() < end) {
        if (flooded)
            PostThreadMessageW(GetCurrentThreadId(), WM_APP + 78, 0, 0);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (flooded && m.message == WM_APP + 78)
                break;
            if (m.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(m.wParam));
                return;
            }
            DispatchMessageW(&m);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
}

TEST(WinEventLoop, NoCallbackRunsInsideAnotherOnesMessageBox)
{
    auto test = testing_loops::makeLoop("win32");
    kesmar::EventLoop &loop = test->loop();
    bool inside = false;
    bool ranInside = false;
    int ran = 0;
    loop.post([&] {
        inside = true;
        loop.post([&] {
            ranInside = ranInside || inside;
            ++ran;
        });
        loop.wakeAt(loop.nowNs(), [&] {
            ranInside = ranInside || inside;
            ++ran;
        });
        pumpLike(60ms);
        inside = false;
    });
    ASSERT_TRUE(test->runUntil([&] { return ran == 2; }, 5s));
    EXPECT_FALSE(ranInside);
}

// A menu held open or a window being dragged pumps in its own loop; the
// clock must reach it even when the queue is never empty (a WM_TIMER would
// not: the system makes one only when no other message waits).
class ModalLoop : public testing::TestWithParam<bool>
{
};

TEST_P(ModalLoop, WakeComesWhileItPumpsInsteadOfRun)
{
    kesmar::win32::WinEventLoop loop;
    int wakes = 0;
    const std::int64_t due = loop.nowNs() + 5 * ms;
    loop.wakeAt(due, [&] { ++wakes; });
    pumpLike(200ms, GetParam());
    EXPECT_EQ(wakes, 1);
}

INSTANTIATE_TEST_SUITE_P(WinEventLoop, ModalLoop, testing::Bool(),
                         [](const auto &info) { return info.param ? "Flooded" : "Quiet"; });

// A client that floods the server keeps a socket message always posted;
// the system would hand out a timer's message (the panes', the tips') only
// once none is.
TEST(WinEventLoop, TimersGetATurnWhilePostedMessagesNeverRunOut)
{
    kesmar::win32::WinEventLoop loop;
    const ULONGLONG floodEnds = GetTickCount64() + 5000;
    static bool flooding = true;
    flooding = true;
    std::function<void()> again = [&] {
        flooding = GetTickCount64() < floodEnds;
        if (flooding)
            loop.post(again);
    };
    loop.post(again);
    static bool timerCameWhileFlooding = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
        timerCameWhileFlooding = flooding;
        PostQuitMessage(0);
    });
    EXPECT_EQ(loop.run(), 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(timerCameWhileFlooding);
}

TEST(WinEventLoop, RunReturnsTheQuitCodeAndShowsMessagesFirst)
{
    kesmar::win32::WinEventLoop loop;
    int seen = 0;
    loop.preTranslate = [&](MSG &m) {
        if (m.message != WM_APP + 77)
            return false;
        ++seen;
        return true;
    };
    PostThreadMessageW(GetCurrentThreadId(), WM_APP + 77, 0, 0);
    loop.post([] { PostQuitMessage(7); });
    EXPECT_EQ(loop.run(), 7);
    EXPECT_EQ(seen, 1);
}
#endif

} // namespace

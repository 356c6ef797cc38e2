#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

#include <windows.h>

#include "EventLoop.h"
#include "UniqueHandle.h"

namespace kesmar::win32 {

// The event loop of the Windows build, and the program's message loop.
//
// Every handler runs on the GUI thread, as the handlers expect: Winsock
// reports each socket with WSAAsyncSelect as a message to a message-only
// window of our own, posted calls arrive as one message per batch, and the
// send clock's wake-up comes as a message too, posted at its due time by a
// thread that does nothing but wait on a high-resolution waitable timer.
// That thread is the one way to keep the period while a loop that is not
// ours pumps messages (a menu held open, the title bar being dragged, a
// scroll bar or a message box): such a loop only wakes for a message, and
// WM_TIMER keeps to the system tick (15.6 ms: a 10 ms period would lose a
// third of its blocks), is coalesced, and is made only when no other message
// waits, so a client that floods the queue holds it back. The thread runs no
// handler and touches nothing but the timer, an event and PostMessage.
class WinEventLoop final : public EventLoop
{
  public:
    // Throws std::runtime_error when the window, the timer or its thread
    // cannot be made.
    WinEventLoop();
    ~WinEventLoop() override;
    WinEventLoop(const WinEventLoop &) = delete;
    WinEventLoop &operator=(const WinEventLoop &) = delete;

    void watch(net::Socket s, SocketSink &sink) override;
    void wantWrite(net::Socket s, bool on) override;
    void unwatch(net::Socket s) override;
    void post(std::function<void()> call) override;
    std::int64_t nowNs() const override;
    void wakeAt(std::int64_t dueNs, std::function<void()> wake) override;
    void cancelWake() override;

    // Pumps messages until WM_QUIT and returns its exit code.
    int run();

    // Shown each message before it is dispatched; returns true when it has
    // dealt with it (IsDialogMessage, TranslateAccelerator).
    std::function<bool(MSG &)> preTranslate;

  private:
    struct Watch
    {
        SocketSink *sink = nullptr;
        bool writeWanted = false;
    };

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI clockThread(void *self);
    bool holdIfNested(UINT message, WPARAM wParam, LPARAM lParam);
    void OnSocket(net::Socket s, WORD event);
    void OnPosted();
    void wakeIfDue(bool timerSignalled);
    bool takeStarved(MSG &msg);
    void setTimer(std::int64_t dueNs);
    template <typename F> void deliver(F &&callback);

    static constexpr std::int64_t starvedTurnEveryNs = 5'000'000;
    std::int64_t starvedTurnNs_ = 0;
    std::int64_t frequency_ = 1;
    bool coarseTimer_ = false; // no high-resolution timer: the system tick is raised instead
    UniqueHandle timer_;
    UniqueWindow window_;
    UniqueHandle stopClock_; // set: the clock thread ends
    UniqueHandle clock_;

    std::unordered_map<net::Socket, Watch> watched_;
    std::deque<std::function<void()>> posted_;
    bool postPending_ = false;

    std::function<void()> wake_;
    std::int64_t wakeDueNs_ = 0;
    bool wakeSet_ = false;

    // Messages for us that a modal loop pumped while one of our callbacks
    // was running: they wait for it to end.
    int depth_ = 0;
    std::vector<MSG> held_;
};

} // namespace kesmar::win32

#include <winsock2.h>

#include "WinEventLoop.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include <timeapi.h>

#include "Fatal.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace kesmar::win32 {

namespace {

constexpr UINT socketMessage = WM_APP + 1;
constexpr UINT postedMessage = WM_APP + 2;
constexpr UINT clockMessage = WM_APP + 3;
constexpr long socketEvents = FD_ACCEPT | FD_READ | FD_WRITE | FD_CLOSE;
constexpr wchar_t className[] = L"kesmar.EventLoop";

std::string systemText(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring wide = n > 0 ? std::wstring(text, n) : L"error " + std::to_wstring(code);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.'))
        wide.pop_back();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

[[noreturn]] void fail(const char *what, DWORD code)
{
    throw std::runtime_error(std::string(what) + ": " + systemText(code));
}

void registerClass(WNDPROC proc)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        fail("cannot register the event loop's window class", GetLastError());
}

} // namespace

WinEventLoop::WinEventLoop()
{
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    frequency_ = f.QuadPart;

    // A high-resolution timer wakes within a fraction of a millisecond. Where
    // the system has none (before Windows 10 1803), a plain one keeps to the
    // system tick, which is raised to 1 ms while we live.
    timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS));
    if (!timer_) {
        timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
        if (!timer_)
            fail("cannot create the send clock's timer", GetLastError());
        coarseTimer_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    }

    registerClass(&windowProc);
    window_.reset(CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    if (!window_)
        fail("cannot create the event loop's window", GetLastError());
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    stopClock_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopClock_)
        fail("cannot create the send clock's thread", GetLastError());
    clock_.reset(CreateThread(nullptr, 64 * 1024, clockThread, this,
                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!clock_)
        fail("cannot create the send clock's thread", GetLastError());
    // Woken late, it would make every tick late.
    SetThreadPriority(clock_.get(), THREAD_PRIORITY_TIME_CRITICAL);
}

WinEventLoop::~WinEventLoop()
{
    SetEvent(stopClock_.get());
    WaitForSingleObject(clock_.get(), INFINITE);
    for (const auto &[s, w] : watched_)
        WSAAsyncSelect(static_cast<SOCKET>(s), window_.get(), 0, 0);
    // Messages still queued for the window must not find us.
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    if (coarseTimer_)
        timeEndPeriod(1);
}

// Turns each expiry of the timer into a message. It reads only what the
// constructor set before it started and the destructor waits for it to end.
DWORD WINAPI WinEventLoop::clockThread(void *self)
{
    const auto *loop = static_cast<WinEventLoop *>(self);
    const HANDLE waits[] = {loop->stopClock_.get(), loop->timer_.get()};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        PostMessageW(loop->window_.get(), clockMessage, 0, 0);
    return 0;
}

LRESULT CALLBACK WinEventLoop::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *self = reinterpret_cast<WinEventLoop *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || (message != socketMessage && message != postedMessage && message != clockMessage))
        return DefWindowProcW(window, message, wParam, lParam);
    if (self->holdIfNested(message, wParam, lParam))
        return 0;
    switch (message) {
    case socketMessage:
        self->OnSocket(static_cast<net::Socket>(wParam), WSAGETSELECTEVENT(lParam));
        break;
    case postedMessage:
        self->OnPosted();
        break;
    case clockMessage:
        runHandler([self] { self->wakeIfDue(true); });
        break;
    }
    return 0;
}

// A callback of ours that pumps messages (only the fatal error's message box
// does) must not have other callbacks run inside it: each handler runs to
// completion before the next starts.
bool WinEventLoop::holdIfNested(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (depth_ == 0)
        return false;
    MSG m{};
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    held_.push_back(m);
    return true;
}

template <typename F> void WinEventLoop::deliver(F &&callback)
{
    ++depth_;
    runHandler(std::forward<F>(callback));
    if (--depth_ > 0 || held_.empty())
        return;
    for (const MSG &m : std::exchange(held_, {}))
        PostMessageW(window_.get(), m.message, m.wParam, m.lParam);
}

void WinEventLoop::watch(net::Socket s, SocketSink &sink)
{
    watched_[s] = Watch{&sink};
    // Also posts at once what is already there: data, a connection, room.
    if (WSAAsyncSelect(static_cast<SOCKET>(s), window_.get(), socketMessage, socketEvents) != 0) {
        watched_.erase(s);
        fail("cannot watch a socket", static_cast<DWORD>(WSAGetLastError()));
    }
}

void WinEventLoop::wantWrite(net::Socket s, bool on)
{
    if (auto it = watched_.find(s); it != watched_.end())
        it->second.writeWanted = on;
}

void WinEventLoop::unwatch(net::Socket s)
{
    if (watched_.erase(s) > 0)
        WSAAsyncSelect(static_cast<SOCKET>(s), window_.get(), 0, 0);
}

// wParam names the socket by its number alone, which the system gives the
// next socket once this one is closed. Word about a socket we no longer
// watch is dropped; word that outlived its socket and reaches a successor
// with the same number is a spurious readable() or writable(), which the
// sinks tolerate: they look what is there and find nothing.
void WinEventLoop::OnSocket(net::Socket s, WORD event)
{
    const auto it = watched_.find(s);
    if (it == watched_.end())
        return;
    SocketSink *sink = it->second.sink;
    if (event != FD_WRITE) {
        // FD_ACCEPT, FD_READ or FD_CLOSE: the sink looks which. FD_CLOSE
        // comes once, after the data before it has been read.
        deliver([sink] { sink->readable(); });
        return;
    }
    // An edge: it comes once a refused send has room again, which is when
    // the sink asks for it.
    if (it->second.writeWanted)
        deliver([sink] { sink->writable(); });
}

void WinEventLoop::post(std::function<void()> call)
{
    posted_.push_back(std::move(call));
    if (postPending_)
        return;
    if (!PostMessageW(window_.get(), postedMessage, 0, 0))
        fail("cannot post to the event loop", GetLastError());
    postPending_ = true;
}

void WinEventLoop::OnPosted()
{
    postPending_ = false;
    // Calls posted by this batch run in the next one, behind what is
    // already queued.
    std::deque<std::function<void()>> batch;
    batch.swap(posted_);
    for (auto &call : batch)
        deliver(call);
}

std::int64_t WinEventLoop::nowNs() const
{
    LARGE_INTEGER c{};
    QueryPerformanceCounter(&c);
    const std::int64_t whole = c.QuadPart / frequency_;
    const std::int64_t part = c.QuadPart % frequency_;
    return whole * 1000000000 + part * 1000000000 / frequency_;
}

void WinEventLoop::wakeAt(std::int64_t dueNs, std::function<void()> wake)
{
    wake_ = std::move(wake);
    wakeDueNs_ = dueNs;
    wakeSet_ = true;
    setTimer(dueNs);
}

void WinEventLoop::cancelWake()
{
    wakeSet_ = false;
    wake_ = nullptr;
    CancelWaitableTimer(timer_.get());
}

void WinEventLoop::setTimer(std::int64_t dueNs)
{
    const std::int64_t left = std::max<std::int64_t>(dueNs - nowNs(), 0);
    // Negative: relative, in 100 ns. The timer counts interrupt time, not the
    // performance counter, so the two may differ by a little: wakeIfDue()
    // sets it again for what is left should it come early.
    LARGE_INTEGER due{};
    due.QuadPart = -std::max<std::int64_t>((left + 99) / 100, 1);
    if (!SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE))
        fail("cannot set the send clock's timer", GetLastError());
}

// Called for the clock thread's message and, in run(), after every message,
// so that a steady stream of messages cannot hold a tick back. A message
// with nothing due is not an error: it may have waited behind a message
// after which the tick already ran, and under Wine setting the timer anew
// leaves an earlier expiry signalled.
void WinEventLoop::wakeIfDue(bool timerSignalled)
{
    if (!wakeSet_)
        return;
    if (nowNs() < wakeDueNs_) {
        if (timerSignalled)
            setTimer(wakeDueNs_);
        return;
    }
    wakeSet_ = false;
    std::function<void()> wake = std::move(wake_);
    wake_ = nullptr;
    deliver(wake);
}

// The system hands out posted messages before input, paint and timer
// messages, and while a client floods the server a socket message is always
// posted: the window would take no clicks, never repaint, and its panes'
// and tips' timers would never come. So those get a turn of their own at
// least every few milliseconds (looking costs a call, under Wine one to the
// wineserver, so not after every message).
bool WinEventLoop::takeStarved(MSG &msg)
{
    const std::int64_t now = nowNs();
    if (now < starvedTurnNs_)
        return false;
    starvedTurnNs_ = now + starvedTurnEveryNs;
    return PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT) ||
           PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE);
}

int WinEventLoop::run()
{
    for (;;) {
        MSG msg;
        if (!takeStarved(msg)) {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got < 0)
                fatalError("waiting for messages failed: " + systemText(GetLastError()));
        }
        if (msg.message == WM_QUIT)
            return static_cast<int>(msg.wParam);
        if (!preTranslate || !preTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        runHandler([this] { wakeIfDue(false); });
    }
}

} // namespace kesmar::win32

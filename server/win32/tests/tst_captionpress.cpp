// A press on the title bar or a caption button, as the system posts it, with
// the program's event loop waking every few milliseconds: the wakes go on
// while the mouse is held down, and a caption button gives its command only
// when it is let go over that same button.
//
// Under Wine the caption's own wait cannot be shown (its move loop starts at
// once, and ends as soon as it sees no button really down); the caption
// buttons' loop takes mouse messages only, as Windows' does, and without
// CaptionPress no wake comes while a button is held.

#include "CaptionPress.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>
#include <windowsx.h>

#include "TestLoops.h"

using namespace std::chrono_literals;

namespace {

// The program's frame: caption, system menu and minimise button, its
// maximise button drawn but disabled.
class CaptionWindow
{
  public:
    CaptionWindow()
    {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"kesmar.test.CaptionWindow";
        RegisterClassExW(&wc);
        hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"caption",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 40, 40,
                                400, 300, nullptr, nullptr, wc.hInstance, this);
        ShowWindow(hwnd_, SW_SHOWNORMAL);
    }
    ~CaptionWindow() { DestroyWindow(hwnd_); }
    CaptionWindow(const CaptionWindow &) = delete;
    CaptionWindow &operator=(const CaptionWindow &) = delete;

    HWND hwnd() const { return hwnd_; }
    std::vector<WPARAM> commands; // the system commands given, not carried out

    // A point of the screen where the window's hit test gives hit: on the
    // middle of the title bar, going left from its right end.
    POINT pointOf(LRESULT hit) const
    {
        RECT r{};
        GetWindowRect(hwnd_, &r);
        const LONG middle = (r.left + r.right) / 2;
        LONG top = r.top;
        while (top < r.bottom && hitAt(middle, top) != HTCAPTION)
            ++top;
        LONG bottom = top;
        while (bottom < r.bottom && hitAt(middle, bottom) == HTCAPTION)
            ++bottom;
        const LONG y = (top + bottom) / 2;
        if (hit == HTCAPTION)
            return POINT{middle, y};
        LONG right = r.right - 1;
        while (right > r.left && hitAt(right, y) != hit)
            --right;
        LONG left = right;
        while (left > r.left && hitAt(left - 1, y) == hit)
            --left;
        if (hitAt(right, y) != hit)
            ADD_FAILURE() << "no point of hit test " << hit;
        return POINT{(left + right) / 2, y};
    }

  private:
    LRESULT hitAt(LONG x, LONG y) const
    {
        return SendMessageW(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(x, y));
    }

    // Routed as MainWindow routes them.
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams));
        auto *self = reinterpret_cast<CaptionWindow *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self)
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        switch (msg) {
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
            if (self->press_.down(hwnd, msg == WM_NCLBUTTONDBLCLK, GET_X_LPARAM(lParam),
                                  GET_Y_LPARAM(lParam), static_cast<UINT>(wParam)))
                return 0;
            break;
        case WM_LBUTTONUP:
            self->press_.up(hwnd, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            return 0;
        case WM_CAPTURECHANGED:
            self->press_.captureLost();
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MOVE)
                break;
            self->commands.push_back(wParam & 0xFFF0);
            return 0;
        default:
            break;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    HWND hwnd_ = nullptr;
    kesmar::win32::CaptionPress press_;
};

struct Press
{
    const char *name;
    LRESULT on;      // where the button goes down
    LRESULT letGoOn; // where it comes up
    WPARAM command;  // 0: none
};

// One window for all: under Wine without a window manager, taking a shown
// window down waits two seconds for a manager to answer.
class CaptionPressTest : public testing::TestWithParam<Press>
{
  protected:
    static void SetUpTestSuite() { window_ = new CaptionWindow; }
    static void TearDownTestSuite()
    {
        delete window_;
        window_ = nullptr;
    }
    void SetUp() override { window_->commands.clear(); }

    static inline CaptionWindow *window_ = nullptr;
};

constexpr int wakesWhileHeld = 10;

TEST_P(CaptionPressTest, WakesGoOnWhileTheMouseIsDownAndTheCommandComesOnRelease)
{
    const Press &p = GetParam();
    auto test = testing_loops::makeLoop("win32");
    kesmar::EventLoop &loop = test->loop();
    CaptionWindow &window = *window_;
    std::atomic<int> wakes{0};
    std::function<void()> wake = [&] {
        ++wakes;
        loop.wakeAt(loop.nowNs() + 5'000'000, wake);
    };
    loop.wakeAt(loop.nowNs(), wake);
    ASSERT_TRUE(test->runUntil([&] { return wakes >= 3; }));

    RECT frame{};
    GetWindowRect(window.hwnd(), &frame);
    const POINT down = window.pointOf(p.on);
    POINT up = window.pointOf(p.letGoOn);
    ScreenToClient(window.hwnd(), &up);
    const int before = wakes;
    int whileHeld = 0;
    std::atomic<bool> released{false};
    PostMessageW(window.hwnd(), WM_NCLBUTTONDOWN, static_cast<WPARAM>(p.on),
                 MAKELPARAM(down.x, down.y));
    // Let go once the wakes have gone on a while, or give up waiting for them.
    std::thread hand([&] {
        const auto end = std::chrono::steady_clock::now() + 3s;
        while (wakes - before < wakesWhileHeld && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        whileHeld = wakes - before;
        PostMessageW(window.hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(up.x, up.y));
        released = true;
    });
    const bool letGo = test->runUntil([&] { return released.load(); });
    hand.join();
    test->runFor(100ms);
    loop.cancelWake();

    ASSERT_TRUE(letGo);
    EXPECT_GE(whileHeld, wakesWhileHeld) << "the loop stood still while the mouse was down";
    const std::vector<WPARAM> expected =
        p.command ? std::vector<WPARAM>{p.command} : std::vector<WPARAM>{};
    EXPECT_EQ(window.commands, expected);
    EXPECT_NE(GetCapture(), window.hwnd());
    RECT after{};
    GetWindowRect(window.hwnd(), &after);
    EXPECT_TRUE(EqualRect(&frame, &after)) << "the window moved without the mouse moving";
}

INSTANTIATE_TEST_SUITE_P(
    Frame, CaptionPressTest,
    testing::Values(Press{"CloseLetGoOnClose", HTCLOSE, HTCLOSE, SC_CLOSE},
                    Press{"MinimiseLetGoOnMinimise", HTMINBUTTON, HTMINBUTTON, SC_MINIMIZE},
                    Press{"CloseLetGoOnTheCaption", HTCLOSE, HTCAPTION, 0},
                    Press{"CloseLetGoOnMinimise", HTCLOSE, HTMINBUTTON, 0},
                    Press{"DisabledMaximise", HTMAXBUTTON, HTMAXBUTTON, 0},
                    Press{"Caption", HTCAPTION, HTCAPTION, 0}),
    [](const testing::TestParamInfo<Press> &info) { return std::string(info.param.name); });

} // namespace

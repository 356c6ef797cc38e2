// frmMain's messages on Win32, one function each, and the handler each runs.

#include "MainWindow.h"

#include <chrono>

#include <windowsx.h>

#include "Fatal.h"
#include "Text.h"
#include "frmMainHandlers.h"

namespace kesmar::win32 {

FormControls MainWindow::controls()
{
    return FormControls{chkEvent_, chkDump_, txtStat_, txtDump_, cmdSend_, sldPeriod_};
}

void MainWindow::attach(frmMainHandlers &handlers, const EventLoop &loop)
{
    handlers_ = &handlers;
    loop_ = &loop;
    sldPeriod_.onValueChanged([this] { runHandler([this] { handlers_->applyPeriod(); }); });
    // A write into a pane holds the thread: not while a block is still going
    // out (the rest would wait behind it), nor into a tick. The panes write
    // once the block is wholly with the OS.
    for (Pane *pane : {&txtStat_, &txtDump_})
        pane->holdWritesWhile([this](Pane::Clock::duration cost) -> Pane::Clock::duration {
            if (handlers_->askServer.bytesQueued() > 0)
                return std::chrono::milliseconds(Pane::maxHoldMs);
            return untilTickPassed(cost);
        });
    tips_.holdRefreshWhile([this](std::chrono::milliseconds cost) {
        return std::chrono::ceil<std::chrono::milliseconds>(untilTickPassed(cost));
    });
    handlers.onSendComplete = [this] {
        txtStat_.writeIfDue();
        txtDump_.writeIfDue();
    };
}

// Zero when work of this cost would end before the next tick falls due;
// otherwise how long to wait for it to be past.
Pane::Clock::duration MainWindow::untilTickPassed(Pane::Clock::duration cost) const
{
    const SendClock &clock = handlers_->tmr1;
    if (!clock.enabled() || clock.interval() <= 0)
        return {};
    const std::chrono::nanoseconds untilTick(clock.dueNs() - loop_->nowNs());
    constexpr auto margin = std::chrono::milliseconds(1);
    if (untilTick >= cost + margin)
        return {};
    // Just after it; or after a tick overdue, which runs first.
    return std::max(untilTick, std::chrono::nanoseconds{}) + margin;
}

void MainWindow::show(int showCommand)
{
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
}

bool MainWindow::preTranslate(MSG &msg)
{
    return hwnd_ && IsDialogMessageW(hwnd_, &msg);
}

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        auto *self =
            static_cast<MainWindow *>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto *self = reinterpret_cast<MainWindow *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->handle(hwnd, msg, wParam, lParam);
}

LRESULT MainWindow::handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
        HANDLE_MSG(hwnd, WM_CREATE, OnCreate);
        HANDLE_MSG(hwnd, WM_COMMAND, OnCommand);
        HANDLE_MSG(hwnd, WM_HSCROLL, OnHScroll);
        HANDLE_MSG(hwnd, WM_NOTIFY, OnNotify);
        HANDLE_MSG(hwnd, WM_TIMER, OnTimer);
        HANDLE_MSG(hwnd, WM_ACTIVATE, OnActivate);
        HANDLE_MSG(hwnd, WM_CLOSE, OnClose);
        HANDLE_MSG(hwnd, WM_DESTROY, OnDestroy);
        HANDLE_MSG(hwnd, WM_NCLBUTTONDOWN, OnNCLButtonDown);
        HANDLE_MSG(hwnd, WM_NCLBUTTONDBLCLK, OnNCLButtonDown);
        HANDLE_MSG(hwnd, WM_LBUTTONUP, OnLButtonUp);
    case WM_CAPTURECHANGED:
        return OnCaptureChanged();
    case DM_GETDEFID:
        return OnGetDefId();
    case WM_SYSCOLORCHANGE:
        // Common controls keep the colours they were made with until told
        // (a High Contrast theme switched on, say); only top-level windows hear.
        for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            SendMessageW(c, msg, wParam, lParam);
        tips_.forward(msg, wParam, lParam);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void MainWindow::OnCommand(HWND, int id, HWND control, UINT code)
{
    if (id == idMnuExit && !control) {
        // The same unload as the frame's close button.
        DestroyWindow(hwnd_);
        return;
    }
    if (id != idCmdSend && id != idCmdMonitorInit)
        return; // IDOK and IDCANCEL from the dialog keys have nothing to do
    switch (code) {
    case BN_CLICKED:
        if (id == idCmdSend)
            runHandler([this] { handlers_->toggleSending(); });
        else
            runHandler([this] { handlers_->clearPanes(); });
        break;
    case BN_SETFOCUS:
        buttonFocus(control, true);
        break;
    case BN_KILLFOCUS:
        buttonFocus(control, false);
        break;
    default:
        break;
    }
}

// The focused button is the default one, drawn so and pressed by Enter, as
// in a dialog.
void MainWindow::buttonFocus(HWND button, bool focused)
{
    SendMessageW(button, BM_SETSTYLE, focused ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

LRESULT MainWindow::OnGetDefId()
{
    HWND focus = GetFocus();
    if (focus && (focus == cmdSend_.hwnd() || focus == cmdMonitorInit_.hwnd()))
        return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
    return 0;
}

void MainWindow::OnHScroll(HWND, HWND control, UINT code, int)
{
    // Without a control it is the slider all the same: the window has no
    // scroll bar of its own, and UI Automation sets a trackbar's value with
    // TBM_SETPOS and then tells the parent so, with no handle.
    if ((control && control != sldPeriod_.hwnd()) || !handlers_)
        return;
    sldPeriod_.moved();
    // The value tip follows the user's own moves.
    if (control && code != TB_ENDTRACK)
        tips_.sliderMoved();
}

LRESULT MainWindow::OnNotify(HWND, int, NMHDR *header)
{
    tips_.onNotify(*header);
    return 0;
}

void MainWindow::OnTimer(HWND, UINT id)
{
    tips_.onTimer(id);
}

std::wstring MainWindow::tipText(HWND tool) const
{
    std::wstring text;
    if (!handlers_)
        return text;
    runHandler([&] {
        if (tool == cmdSend_.hwnd())
            text = widen(handlers_->sendTip());
        else if (tool == sldPeriod_.hwnd())
            text = widen(periodTip(sldPeriod_.value()));
    });
    return text;
}

void MainWindow::OnActivate(HWND, UINT state, HWND, BOOL minimized)
{
    // A window that is no dialog keeps its focus across activation only
    // when it gives it back itself.
    if (state == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus))
            lastFocus_ = focus;
    } else if (!minimized && lastFocus_) {
        SetFocus(lastFocus_);
    }
}

void MainWindow::OnClose(HWND)
{
    DestroyWindow(hwnd_);
}

void MainWindow::OnDestroy(HWND)
{
    for (HWND control : {chkEvent_.hwnd(), cmdMonitorInit_.hwnd(), chkDump_.hwnd(),
                         sldPeriod_.hwnd(), txtStat_.hwnd(), cmdSend_.hwnd(), txtDump_.hwnd()})
        accessible_.clear(control);
    if (handlers_)
        runHandler([this] { handlers_->unload(); });
    PostQuitMessage(0);
}

// A press on the title bar or its buttons must not stop the clock or the
// sockets while the mouse is down (CaptionPress.h).
void MainWindow::OnNCLButtonDown(HWND hwnd, BOOL doubleClick, int x, int y, UINT hitTest)
{
    if (!caption_.down(hwnd, doubleClick, x, y, hitTest))
        FORWARD_WM_NCLBUTTONDOWN(hwnd, doubleClick, x, y, hitTest, DefWindowProcW);
}

void MainWindow::OnLButtonUp(HWND hwnd, int x, int y, UINT)
{
    caption_.up(hwnd, x, y);
}

LRESULT MainWindow::OnCaptureChanged()
{
    caption_.captureLost();
    return 0;
}

} // namespace kesmar::win32

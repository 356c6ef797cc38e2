#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include <windows.h>

#include "Controls.h"

namespace kesmar::win32 {

// A log or dump pane: a read-only plain-text RichEdit. Text only ever goes
// in at the end, so a user who is selecting or reading older lines is not
// disturbed, and the oldest lines are dropped past a bound so that a long
// run cannot exhaust memory: the pane shows at least the newest maxLines,
// at most twice that many (see takeSuccessor in Pane.cpp).
//
// Each write into the control, with its repaint, costs the thread
// milliseconds, and the send clock shares the thread, so appended text is
// held and written at most once per writeIntervalMs. When a write falls
// due, the window is asked whether it should wait (a tick due before it
// would end, a block still going out), and it waits, for writeIfDue() or at
// most until maxHoldMs since the last write. The repaint is made at once,
// in the same turn.
//
// RichEdit rather than EDIT: under Wine an EDIT with scroll bars spent
// 47-91 ms on one append and its repaint, RichEdit 15 (a loaded machine;
// the EDIT without scroll bars 4), since every change of the EDIT's text
// redraws its scroll bars at once.
class Pane final : public TextPane
{
  public:
    static constexpr int maxLines = 30000;
    // Ten writes a second at most: each repaints, and under Wine a repaint
    // costs some 150 calls to the wineserver (a system setting is looked up
    // for each run of text drawn); at 50 ms, kesmar.exe took a third more CPU.
    static constexpr int writeIntervalMs = 100;
    static constexpr int maxHoldMs = 200;

    using Clock = std::chrono::steady_clock;
    // Given what a write has been costing, how long the one due should wait
    // (zero or less: none).
    using Hold = std::function<Clock::duration(Clock::duration writeCost)>;

    // The window class to make it with (MSFTEDIT_CLASS); loads its DLL.
    static const wchar_t *windowClass();

    // Takes over a control of windowClass() made with ES_MULTILINE |
    // ES_READONLY, and gives it the font.
    void attach(HWND edit, HFONT font);
    HWND hwnd() const { return edit_; }

    // Lines end in CR LF.
    void appendText(std::string_view text) override;
    void clearText() override;

    void holdWritesWhile(Hold hold) { hold_ = std::move(hold); }
    // Told when another control takes the pane's place (see takeSuccessor),
    // just before the old one goes.
    void onReplaced(std::function<void(HWND old, HWND now)> replaced)
    {
        replaced_ = std::move(replaced);
    }
    // Now is a good moment (a block just went out): writes what is held, or
    // lets a successor take over, if the interval is over.
    void writeIfDue();

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static void configure(HWND edit);
    void hook(HWND edit);
    LRESULT handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void startSuccessor();
    void takeSuccessor(bool keepView);
    bool holding() const { return !held_.empty() || replaceAll_; }
    void writeWhenDue();
    void writeOrSwap();
    void armTimer(Clock::duration wait);
    void write();
    void dropHeldBeyondBound();

    HWND edit_ = nullptr;
    HWND next_ = nullptr; // the successor, hidden, once edit_ holds maxLines
    HFONT font_ = nullptr;
    WNDPROC base_ = nullptr; // the control's own window procedure
    std::wstring held_;
    std::size_t heldLines_ = 0;
    // The held text alone is what the pane is to show: it has more lines
    // than the bound, so nothing in the control survives the write.
    bool replaceAll_ = false;
    // Whole lines in the control, counted here: asking the control walks
    // all of them under Wine.
    std::size_t lines_ = 0;
    std::size_t nextLines_ = 0;
    bool swapDue_ = false; // the successor holds maxLines: its turn comes next
    Clock::time_point lastWrite_{};
    Clock::duration cost_{};
    bool timerArmed_ = false;
    Clock::time_point timerDue_{};
    Hold hold_;
    std::function<void(HWND, HWND)> replaced_;
};

} // namespace kesmar::win32

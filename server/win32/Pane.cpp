#include "Pane.h"

#include <algorithm>

#include <commctrl.h>
#include <richedit.h>

#include "Fatal.h"
#include "Text.h"

namespace kesmar::win32 {

namespace {

constexpr UINT_PTR subclassId = 1;
// Clear of the control's own timers.
constexpr UINT_PTR writeTimerId = 0x6B50;
constexpr std::chrono::milliseconds interval(Pane::writeIntervalMs);

std::size_t countLines(std::wstring_view text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), L'\n'));
}

LRESULT send(HWND edit, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendMessageW(edit, msg, wParam, lParam);
}

// Characters as selections count them: a line ends in one CR in the control.
LONG textLength(HWND edit)
{
    GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE, 1200};
    return static_cast<LONG>(send(edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how)));
}

void select(HWND edit, LONG start, LONG end)
{
    CHARRANGE range{start, end};
    send(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

// From the system's folder only: by its bare name it would be looked for
// beside the program (and in the current folder) first, where anyone who
// can put a file would have it run.
HMODULE loadRichEdit()
{
    // Windows 8, or 7 with KB2533623; without it the flag is refused
    // (ERROR_INVALID_PARAMETER), and the full path does the same.
    if (HMODULE m = LoadLibraryExW(L"msftedit.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return m;
    if (GetLastError() != ERROR_INVALID_PARAMETER)
        return nullptr;
    wchar_t dir[MAX_PATH];
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    const std::wstring path = std::wstring(dir, n) + L"\\msftedit.dll";
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

const wchar_t *Pane::windowClass()
{
    if (!GetModuleHandleW(L"msftedit.dll") && !loadRichEdit())
        failedLastError("cannot load the text panes' control (msftedit.dll)");
    return MSFTEDIT_CLASS;
}

void Pane::attach(HWND edit)
{
    edit_ = edit;
    send(edit_, EM_SETTEXTMODE, TM_PLAINTEXT);
    send(edit_, EM_SETUNDOLIMIT, 0);
    // Past the default 32,767 characters: the bound that matters is lines.
    send(edit_, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
    // No wrapping: one line of the log is one line of the pane.
    send(edit_, EM_SETTARGETDEVICE, 0, 1);
    // The system's window background, read-only or not.
    send(edit_, EM_SETBKGNDCOLOR, TRUE, 0);
    SetWindowSubclass(edit_, subclassProc, subclassId, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK Pane::subclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR self)
{
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, subclassProc, subclassId);
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    }
    return reinterpret_cast<Pane *>(self)->handle(msg, wParam, lParam);
}

LRESULT Pane::handle(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_GETDLGCODE:
        // Tab and Enter belong to the window (focus order, the focused
        // button), and Tab must not select the whole pane on the way in.
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
        // Ctrl+A selects all on every version of the control.
        if (wParam == 'A' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0) {
            send(edit_, EM_SETSEL, 0, -1);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == 1) // the Ctrl+A character: nothing to type into a read-only pane
            return 0;
        break;
    case WM_TIMER:
        if (wParam == writeTimerId) {
            KillTimer(edit_, writeTimerId);
            timerArmed_ = false;
            runHandler([this] { writeWhenDue(); });
            return 0;
        }
        break;
    default:
        break;
    }
    return DefSubclassProc(edit_, msg, wParam, lParam);
}

void Pane::appendText(std::string_view text)
{
    const std::wstring wide = widen(text);
    held_ += wide;
    heldLines_ += countLines(wide);
    dropHeldBeyondBound();
    // One timer for the lot: setting it again for every line would cost a
    // call to the system each (under Wine one to the wineserver).
    if (!timerArmed_ || Clock::now() >= timerDue_)
        writeWhenDue();
}

void Pane::clearText()
{
    held_.clear();
    heldLines_ = 0;
    replaceAll_ = false;
    lines_ = 0;
    SetWindowTextW(edit_, L"");
    write(); // the user asked for it: show the empty pane now, and start the interval anew
}

void Pane::writeWhenDue()
{
    if (!holding())
        return;
    const Clock::duration since = Clock::now() - lastWrite_;
    if (since < interval) {
        // Text appended inside the interval goes in with the write at its end.
        armTimer(interval - since);
        return;
    }
    const Clock::duration holdLeft = std::chrono::milliseconds(maxHoldMs) - since;
    if (hold_ && holdLeft > Clock::duration::zero()) {
        if (const Clock::duration wait = std::min(hold_(cost_), holdLeft);
            wait > Clock::duration::zero()) {
            armTimer(wait);
            return;
        }
    }
    write();
}

void Pane::writeIfDue()
{
    if (holding() && Clock::now() - lastWrite_ >= interval)
        write();
}

void Pane::armTimer(Clock::duration wait)
{
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    SetTimer(edit_, writeTimerId, static_cast<UINT>(std::clamp<long long>(ms, 1, maxHoldMs)),
             nullptr);
    timerArmed_ = true;
    timerDue_ = Clock::now() + wait;
}

void Pane::dropHeldBeyondBound()
{
    if (heldLines_ <= maxLines)
        return;
    std::size_t cut = 0;
    for (std::size_t n = heldLines_ - maxLines; n > 0; --n)
        cut = held_.find(L'\n', cut) + 1;
    held_.erase(0, cut);
    heldLines_ = maxLines;
    replaceAll_ = true;
}

// Drops the oldest lines past the bound; returns how many characters went.
LONG Pane::trimControl()
{
    if (lines_ <= maxLines)
        return 0;
    const std::size_t excess = lines_ - maxLines;
    const auto cut = static_cast<LONG>(send(edit_, EM_LINEINDEX, excess));
    select(edit_, 0, cut);
    send(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    lines_ = maxLines;
    return cut;
}

void Pane::write()
{
    const Clock::time_point started = Clock::now();
    if (timerArmed_) {
        KillTimer(edit_, writeTimerId);
        timerArmed_ = false;
    }
    lastWrite_ = started;
    if (!holding())
        return;

    CHARRANGE selection{};
    send(edit_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const LONG length = textLength(edit_);
    // Follow the end only if the user was already there.
    const bool follow =
        replaceAll_ || (selection.cpMin == selection.cpMax && selection.cpMax == length);
    const auto firstVisible = follow ? 0 : static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));
    const std::size_t linesWritten = lines_ + heldLines_;

    // One repaint for the lot, once the text is in and the view restored.
    send(edit_, WM_SETREDRAW, FALSE);
    if (replaceAll_) {
        SetWindowTextW(edit_, held_.c_str());
        lines_ = heldLines_;
    } else {
        select(edit_, length, length);
        send(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(held_.c_str()));
        lines_ += heldLines_;
    }
    held_.clear();
    heldLines_ = 0;
    replaceAll_ = false;
    const LONG removed = trimControl();

    if (follow) {
        const LONG end = textLength(edit_);
        select(edit_, end, end);
        send(edit_, EM_SCROLLCARET);
    } else {
        // The user's selection and view, on the same text as before.
        const auto shift = [removed](LONG at) { return std::max(0L, at - removed); };
        select(edit_, shift(selection.cpMin), shift(selection.cpMax));
        const auto removedLines = static_cast<int>(linesWritten - lines_);
        const int target = std::max(0, firstVisible - removedLines);
        const auto shown = static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));
        send(edit_, EM_LINESCROLL, 0, target - shown);
    }
    send(edit_, WM_SETREDRAW, TRUE);
    // The scroll bars are in the frame. Painted now, in the turn the window
    // gave the write, rather than whenever the system gets round to it.
    RedrawWindow(edit_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    const Clock::duration took = Clock::now() - started;
    cost_ = std::max(took, cost_ - cost_ / 8);
}

} // namespace kesmar::win32

#include "Pane.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <richedit.h>

#include "Fatal.h"
#include "Text.h"

namespace kesmar::win32 {

namespace {

// The panes' controls, and the pane each belongs to.
std::vector<std::pair<HWND, Pane *>> hooked;
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

// Characters as selections count them (a line ends in one CR in the
// control), or with GTL_USECRLF as the text is read.
LONG textLength(HWND edit, DWORD flags = 0)
{
    GETTEXTLENGTHEX how{GTL_NUMCHARS | GTL_PRECISE | flags, 1200};
    return static_cast<LONG>(send(edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how)));
}

void select(HWND edit, LONG start, LONG end)
{
    CHARRANGE range{start, end};
    send(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

// Setting a selection walks the lines up to it under Wine; asking where it
// is and how long the text is does not.
void caretToEnd(HWND edit)
{
    CHARRANGE selection{};
    send(edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const LONG end = textLength(edit);
    if (selection.cpMin != end || selection.cpMax != end)
        select(edit, end, end);
}

void appendTo(HWND edit, const std::wstring &text)
{
    caretToEnd(edit);
    send(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
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

void Pane::attach(HWND edit, HFONT font)
{
    font_ = font;
    send(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    configure(edit);
    edit_ = edit;
    hook(edit_);
}

// Messages reach the pane through a window procedure of its own in front of
// the control's. comctl32's subclassing would look its data up in a window
// property for every message, which under Wine is a call to the wineserver:
// some thousands a second while lines arrive.
void Pane::hook(HWND edit)
{
    hooked.emplace_back(edit, this);
    base_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProc)));
}

void Pane::configure(HWND edit)
{
    send(edit, EM_SETTEXTMODE, TM_PLAINTEXT);
    send(edit, EM_SETUNDOLIMIT, 0);
    // Past the default 32,767 characters: the bound that matters is lines.
    send(edit, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
    // No wrapping: one line of the log is one line of the pane.
    send(edit, EM_SETTARGETDEVICE, 0, 1);
    // The system's window background, read-only or not.
    send(edit, EM_SETBKGNDCOLOR, TRUE, 0);
}

// A control like the pane's, hidden, just after it in the tab order.
void Pane::startSuccessor()
{
    if (next_)
        DestroyWindow(next_);
    HWND parent = GetParent(edit_);
    RECT r{};
    GetWindowRect(edit_, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&r), 2);
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(edit_, GWL_STYLE)) & ~WS_VISIBLE;
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(edit_, GWL_EXSTYLE));
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(edit_, GWLP_HINSTANCE));
    HWND next = CreateWindowExW(exStyle, windowClass(), L"", style, r.left, r.top, r.right - r.left,
                                r.bottom - r.top, parent, nullptr, instance, nullptr);
    if (!next)
        failedLastError("cannot create a text pane");
    send(next, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    configure(next);
    SetWindowPos(next, edit_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    next_ = next;
    nextLines_ = 0;
}

LRESULT CALLBACK Pane::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const auto it = std::find_if(hooked.begin(), hooked.end(),
                                 [hwnd](const auto &h) { return h.first == hwnd; });
    Pane *self = it->second;
    if (msg == WM_NCDESTROY)
        hooked.erase(it);
    return self->handle(hwnd, msg, wParam, lParam);
}

LRESULT Pane::handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_GETDLGCODE:
        // Tab and Enter belong to the window (focus order, the focused
        // button), and Tab must not select the whole pane on the way in.
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
        // Ctrl+A selects all on every version of the control.
        if (wParam == 'A' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0) {
            send(hwnd, EM_SETSEL, 0, -1);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == 1) // the Ctrl+A character: nothing to type into a read-only pane
            return 0;
        break;
    // How other programs read the pane (kesmarctl, automation): all of it, in
    // CR LF lines; the control's own answer stops at 64K characters.
    case WM_GETTEXTLENGTH:
        return textLength(hwnd, GTL_USECRLF);
    case WM_GETTEXT: {
        GETTEXTEX how{static_cast<DWORD>(std::min<WPARAM>(wParam, 0x3FFFFFFF) * 2), GT_USECRLF};
        how.codepage = 1200; // UTF-16: wParam counts its units, cb the bytes
        return send(hwnd, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), lParam);
    }
    case WM_TIMER:
        if (wParam == writeTimerId) {
            KillTimer(hwnd, writeTimerId);
            timerArmed_ = false;
            runHandler([this] { writeWhenDue(); });
            return 0;
        }
        break;
    default:
        break;
    }
    return CallWindowProcW(base_, hwnd, msg, wParam, lParam);
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
    // An empty control in its place: emptying this one would drop its
    // lines one by one (see takeSuccessor).
    startSuccessor();
    takeSuccessor(false);
    write(); // start the interval anew
}

void Pane::writeWhenDue()
{
    if (!holding() && !swapDue_)
        return;
    const Clock::duration since = Clock::now() - lastWrite_;
    if (since < interval) {
        // Text appended inside the interval goes in with the write at its end.
        armTimer(interval - since);
        return;
    }
    // A successor takes over in a turn of its own, the old control going
    // whole (tens of milliseconds under Wine): best just after a block went
    // out (writeIfDue), otherwise when no tick comes or after a second.
    const Clock::duration cost = swapDue_ ? std::chrono::seconds(1) : cost_;
    const Clock::duration holdLeft =
        (swapDue_ ? std::chrono::seconds(1) : std::chrono::milliseconds(maxHoldMs)) - since;
    if (hold_ && holdLeft > Clock::duration::zero()) {
        if (const Clock::duration wait = std::min(hold_(cost), holdLeft);
            wait > Clock::duration::zero()) {
            armTimer(wait);
            return;
        }
    }
    writeOrSwap();
}

void Pane::writeIfDue()
{
    if ((holding() || swapDue_) && Clock::now() - lastWrite_ >= interval)
        writeOrSwap();
}

void Pane::writeOrSwap()
{
    if (!swapDue_) {
        write();
        return;
    }
    if (timerArmed_) {
        KillTimer(edit_, writeTimerId);
        timerArmed_ = false;
    }
    takeSuccessor(true);
    lastWrite_ = Clock::now();
    if (holding())
        armTimer(interval);
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

// Past the bound the oldest lines are not dropped from the control: under
// Wine each line dropped walks every line the control holds (1-3 ms each
// at 30,000), so that a flooding client's lines would take the thread. A
// successor is made hidden instead and takes every line from then on too;
// once it holds the bound's worth it takes the pane's place, and the old
// control goes whole, which costs little. The pane so shows between
// maxLines and twice that many.
void Pane::takeSuccessor(bool keepView)
{
    HWND old = edit_;
    CHARRANGE selection{};
    send(old, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const LONG oldLength = textLength(old);
    const bool follow =
        !keepView || (selection.cpMin == selection.cpMax && selection.cpMax == oldLength);
    const auto firstVisible = follow ? 0 : static_cast<int>(send(old, EM_GETFIRSTVISIBLELINE));
    // Kept, the view is on the same text: the successor holds the old
    // control's newest lines.
    const LONG dropped = oldLength - textLength(next_);
    const auto droppedLines = static_cast<int>(lines_ - nextLines_);

    edit_ = std::exchange(next_, nullptr);
    lines_ = nextLines_;
    swapDue_ = false;
    SetWindowLongPtrW(edit_, GWLP_ID, GetWindowLongPtrW(old, GWLP_ID));
    hook(edit_);
    const bool focused = GetFocus() == old;
    send(edit_, WM_SETREDRAW, FALSE);
    ShowWindow(edit_, SW_SHOWNA);
    ShowWindow(old, SW_HIDE);
    if (follow) {
        caretToEnd(edit_);
        send(edit_, EM_SCROLLCARET);
    } else {
        const auto shift = [dropped](LONG at) { return std::max(0L, at - dropped); };
        select(edit_, shift(selection.cpMin), shift(selection.cpMax));
        const auto shown = static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));
        send(edit_, EM_LINESCROLL, 0, std::max(0, firstVisible - droppedLines) - shown);
    }
    send(edit_, WM_SETREDRAW, TRUE);
    // Under Wine a control is not visible while its redraw is off.
    if (focused)
        SetFocus(edit_);
    RedrawWindow(edit_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    if (timerArmed_)
        armTimer(timerDue_ - Clock::now());
    if (replaced_)
        replaced_(old, edit_);
    DestroyWindow(old);
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
    if (replaceAll_) {
        // More than the bound at once: nothing shown survives.
        startSuccessor();
        SetWindowTextW(next_, held_.c_str());
        nextLines_ = heldLines_;
        held_.clear();
        heldLines_ = 0;
        replaceAll_ = false;
        takeSuccessor(false);
        return;
    }

    CHARRANGE selection{};
    send(edit_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    const LONG length = textLength(edit_);
    // Follow the end only if the user was already there.
    const bool follow = selection.cpMin == selection.cpMax && selection.cpMax == length;
    const auto firstVisible = follow ? 0 : static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));

    if (!next_ && lines_ >= maxLines)
        startSuccessor();
    // One repaint for the lot, once the text is in and the view restored.
    send(edit_, WM_SETREDRAW, FALSE);
    appendTo(edit_, held_);
    lines_ += heldLines_;
    if (next_) {
        appendTo(next_, held_);
        nextLines_ += heldLines_;
    }
    held_.clear();
    heldLines_ = 0;
    if (follow) {
        caretToEnd(edit_);
        send(edit_, EM_SCROLLCARET);
    } else {
        // The user's selection and view, which the append moved to the end.
        select(edit_, selection.cpMin, selection.cpMax);
        const auto shown = static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));
        send(edit_, EM_LINESCROLL, 0, firstVisible - shown);
    }
    send(edit_, WM_SETREDRAW, TRUE);
    swapDue_ = next_ && nextLines_ >= maxLines;
    // Painted now, in the turn the window gave the write, rather than
    // whenever the system gets round to it; the scroll bars are in the frame.
    RedrawWindow(edit_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    const Clock::duration took = Clock::now() - started;
    cost_ = std::max(took, cost_ - cost_ / 8);
}

} // namespace kesmar::win32

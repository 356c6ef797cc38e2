#include "Pane.h"

#include <algorithm>

#include <commctrl.h>

#include "Fatal.h"
#include "Text.h"

namespace kesmar::win32 {

namespace {

constexpr UINT_PTR subclassId = 1;
// Clear of the EDIT's own timers.
constexpr UINT_PTR writeTimerId = 0x6B50;

std::size_t countLines(std::wstring_view text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), L'\n'));
}

LRESULT send(HWND edit, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendMessageW(edit, msg, wParam, lParam);
}

} // namespace

void Pane::attach(HWND edit)
{
    edit_ = edit;
    // Past the default 30,000 characters: the bound that matters is lines.
    send(edit_, EM_SETLIMITTEXT, 0);
    // The EDIT's lines are as high as its font.
    HDC dc = GetDC(edit_);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(send(edit_, WM_GETFONT)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(edit_, dc);
    lineHeight_ = std::max(1, static_cast<int>(metrics.tmHeight));
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
        // The EDIT knows Ctrl+C but not Ctrl+A.
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
            runHandler([this] { write(); });
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
    holdOrWrite();
}

void Pane::clearText()
{
    held_.clear();
    heldLines_ = 0;
    replaceAll_ = false;
    SetWindowTextW(edit_, L"");
    write(); // the user asked for it: show the empty pane now, and start the interval anew
}

long long Pane::msSinceWrite() const
{
    if (!everWritten_)
        return maxHoldMs;
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastWrite_).count();
}

void Pane::holdOrWrite()
{
    const long long since = msSinceWrite();
    if (since < writeIntervalMs) {
        // Text appended inside the interval goes in with the next append
        // that finds it over; the timer runs from the newest append, so a
        // steady stream never meets it and only the last of a burst waits.
        armTimer(writeIntervalMs);
        return;
    }
    if (since < maxHoldMs && busy_ && busy_()) {
        armTimer(maxHoldMs - since);
        return;
    }
    write();
}

void Pane::writeIfDue()
{
    if ((!held_.empty() || replaceAll_) && msSinceWrite() >= writeIntervalMs)
        write();
}

void Pane::armTimer(long long ms)
{
    SetTimer(edit_, writeTimerId, static_cast<UINT>(std::max(ms, 1LL)), nullptr);
    timerArmed_ = true;
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
std::size_t Pane::trimControl()
{
    const auto lines = static_cast<int>(send(edit_, EM_GETLINECOUNT));
    const auto lastStart = send(edit_, EM_LINEINDEX, static_cast<WPARAM>(lines - 1));
    // The CR LF that ends the last line leaves an empty line after it.
    const bool lastEmpty = send(edit_, EM_LINELENGTH, static_cast<WPARAM>(lastStart)) == 0;
    const int excess = lines - (lastEmpty ? 1 : 0) - maxLines;
    if (excess <= 0)
        return 0;
    const auto cut = send(edit_, EM_LINEINDEX, static_cast<WPARAM>(excess));
    send(edit_, EM_SETSEL, 0, cut);
    send(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    return static_cast<std::size_t>(cut);
}

void Pane::write()
{
    if (timerArmed_) {
        KillTimer(edit_, writeTimerId);
        timerArmed_ = false;
    }
    lastWrite_ = Clock::now();
    everWritten_ = true;
    if (held_.empty() && !replaceAll_)
        return;

    DWORD start = 0;
    DWORD end = 0;
    send(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const auto length = static_cast<DWORD>(GetWindowTextLengthW(edit_));
    // Follow the end only if the user was already there.
    const bool follow = replaceAll_ || (start == end && end == length);
    const auto firstVisible = static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));
    const auto linesBefore = static_cast<int>(send(edit_, EM_GETLINECOUNT));

    send(edit_, WM_SETREDRAW, FALSE);
    if (replaceAll_) {
        SetWindowTextW(edit_, held_.c_str());
    } else {
        send(edit_, EM_SETSEL, length, static_cast<LPARAM>(length));
        send(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(held_.c_str()));
    }
    const auto appendedLines = static_cast<int>(heldLines_);
    held_.clear();
    heldLines_ = 0;
    replaceAll_ = false;
    const std::size_t removed = trimControl();

    if (follow) {
        const auto now = static_cast<WPARAM>(GetWindowTextLengthW(edit_));
        send(edit_, EM_SETSEL, now, static_cast<LPARAM>(now));
        // The empty line after the last CR LF at the bottom, no further:
        // the caret's own scrolling (EM_SCROLLCARET) goes past the end of
        // the scroll range under Wine, and the thumb leaves the bar.
        const int lines = static_cast<int>(send(edit_, EM_GETLINECOUNT));
        const int target = std::max(0, lines - visibleLines());
        const auto shown = static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));
        send(edit_, EM_LINESCROLL, 0, target - shown);
    } else {
        // The user's selection and view, on the same text as before.
        const auto shift = [removed](DWORD at) {
            return at > removed ? at - static_cast<DWORD>(removed) : 0;
        };
        send(edit_, EM_SETSEL, shift(start), static_cast<LPARAM>(shift(end)));
        const int removedLines =
            linesBefore + appendedLines - static_cast<int>(send(edit_, EM_GETLINECOUNT));
        const int target = std::max(0, firstVisible - removedLines);
        const auto shown = static_cast<int>(send(edit_, EM_GETFIRSTVISIBLELINE));
        send(edit_, EM_LINESCROLL, 0, target - shown);
    }
    send(edit_, WM_SETREDRAW, TRUE);
    RedrawWindow(edit_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}

int Pane::visibleLines() const
{
    RECT client{};
    GetClientRect(edit_, &client);
    return std::max(1, static_cast<int>(client.bottom - client.top) / lineHeight_);
}

} // namespace kesmar::win32

// Windows: kesmar's window through plain window messages, each control
// found by its control ID. Every message waits for its answer a bounded
// time, so a kesmar that hangs or goes away makes a Failure, never a wait
// without end.

#include "Backend.h"

#include <iterator>

#include <windows.h>

#include <commctrl.h>

#include "Text.h"
#include "WindowClass.h"

namespace kesmarctl {

namespace {

using kesmar::win32::narrow;
using kesmar::win32::systemMessage;
using kesmar::win32::widen;

// kesmar's thread answers within milliseconds unless it is stuck.
constexpr UINT answerBound = 5000; // ms

const std::string gone = "kesmar's window went away";

// What a failed message to the window means, in words.
std::string unreachable(DWORD error)
{
    // Windows drops what a process sends to one that runs with more rights.
    if (error == ERROR_ACCESS_DENIED)
        return "Windows keeps kesmar's window from kesmarctl: kesmar runs with more rights "
               "(started as administrator?)";
    return "cannot reach kesmar's window: " + systemMessage(error);
}

std::wstring windowTitle(HWND hwnd)
{
    // For another process's window this reads the title the system keeps,
    // and sends nothing that could wait on it.
    wchar_t title[64];
    const int n = GetWindowTextW(hwnd, title, static_cast<int>(std::size(title)));
    return std::wstring(title, static_cast<std::size_t>(n > 0 ? n : 0));
}

// The panes end each line with CR LF, or CR alone as a rich edit keeps it.
std::string withNewlines(std::wstring_view text)
{
    std::wstring lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\r') {
            lines += text[i];
            continue;
        }
        lines += L'\n';
        if (i + 1 < text.size() && text[i + 1] == L'\n')
            ++i;
    }
    return narrow(lines);
}

class Win32Window final : public Window
{
  public:
    explicit Win32Window(HWND main) : main_(main) {}

    std::string caption(const form::Control &button) override
    {
        return narrow(windowText(control(button)));
    }
    // As a click does: the button is pressed and let go, and kesmar hears
    // BN_CLICKED; a check box changes its mark first.
    void press(const form::Control &button) override { send(control(button), BM_CLICK); }
    bool checked(const form::Control &box) override
    {
        return send(control(box), BM_GETCHECK) == BST_CHECKED;
    }
    void toggle(const form::Control &box) override { send(control(box), BM_CLICK); }
    int value(const form::Control &slider) override
    {
        return static_cast<int>(send(control(slider), TBM_GETPOS));
    }
    // As UI Automation's slider proxy does it, the way FlaUI and pywinauto
    // take: the trackbar is set, then its parent told, with no handle.
    void setValue(const form::Control &slider, int value) override
    {
        send(control(slider), TBM_SETPOS, TRUE, value);
        send(main_, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, value), 0);
    }
    std::string text(const form::Control &pane) override
    {
        return withNewlines(windowText(control(pane)));
    }
    void exit(std::chrono::milliseconds bound) override;

  private:
    HWND control(const form::Control &c) const;
    LRESULT send(HWND to, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
    std::wstring windowText(HWND hwnd) const;

    HWND main_;
};

HWND Win32Window::control(const form::Control &c) const
{
    const int id = form::controlId(c.name);
    if (HWND hwnd = GetDlgItem(main_, id))
        return hwnd;
    if (!IsWindow(main_))
        throw Failure(gone);
    throw Failure("kesmar's window has no control " + std::string(c.name) + " (ID " +
                  std::to_string(id) + ")");
}

LRESULT Win32Window::send(HWND to, UINT msg, WPARAM wParam, LPARAM lParam) const
{
    DWORD_PTR result = 0;
    // ERRORONEXIT: a window destroyed or a thread ended while the message is
    // being handled is a failure, not an answer of 0.
    if (SendMessageTimeoutW(to, msg, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT,
                            answerBound, &result))
        return static_cast<LRESULT>(result);
    const DWORD error = GetLastError();
    if (!IsWindow(main_) || error == ERROR_INVALID_WINDOW_HANDLE)
        throw Failure(gone);
    if (error == ERROR_TIMEOUT || error == 0)
        throw Failure("kesmar stopped answering (nothing within " +
                      std::to_string(answerBound / 1000) + " s)");
    throw Failure(unreachable(error));
}

std::wstring Win32Window::windowText(HWND hwnd) const
{
    // Lines may come between asking the length and asking the text: a
    // buffer that comes back full is asked for again, larger.
    std::size_t room = static_cast<std::size_t>(send(hwnd, WM_GETTEXTLENGTH)) + 256;
    for (int tries = 0;; ++tries) {
        std::wstring text(room, L'\0');
        const auto copied = static_cast<std::size_t>(
            send(hwnd, WM_GETTEXT, room, reinterpret_cast<LPARAM>(text.data())));
        if (copied + 1 < room || tries == 3) {
            text.resize(copied < room ? copied : room - 1);
            return text;
        }
        room = static_cast<std::size_t>(send(hwnd, WM_GETTEXTLENGTH)) + room;
    }
}

void Win32Window::exit(std::chrono::milliseconds bound)
{
    DWORD pid = 0;
    if (!GetWindowThreadProcessId(main_, &pid))
        throw Failure(gone);
    // Opened before the command goes, so that the process waited for is
    // kesmar's even if its ID were used again.
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        throw Failure("cannot watch kesmar's process: " + systemMessage(GetLastError()));
    struct Closer
    {
        HANDLE h;
        ~Closer() { CloseHandle(h); }
    } closer{process};

    // The menu posts its item's command so; kesmar unloads as when the
    // user chooses "終了".
    if (!PostMessageW(main_, WM_COMMAND, MAKEWPARAM(form::exitItemId, 0), 0)) {
        const DWORD error = GetLastError();
        if (!IsWindow(main_))
            throw Failure(gone);
        throw Failure(unreachable(error));
    }
    switch (WaitForSingleObject(process, static_cast<DWORD>(bound.count()))) {
    case WAIT_OBJECT_0:
        return;
    case WAIT_TIMEOUT:
        throw Failure("kesmar has not ended within " + std::to_string(bound.count() / 1000) +
                      " s of \"" + std::string(form::exitItem) + "\"");
    default:
        throw Failure("cannot wait for kesmar to end: " + systemMessage(GetLastError()));
    }
}

class Win32Desktop final : public Desktop
{
  public:
    std::vector<std::unique_ptr<Window>> windows() override
    {
        const std::wstring title = widen(form::title);
        std::vector<std::unique_ptr<Window>> found;
        // A copy that cannot start keeps its main window hidden behind the
        // message that says why; only a shown one is up.
        for (HWND w = nullptr;
             (w = FindWindowExW(nullptr, w, kesmar::win32::mainWindowClass, nullptr));)
            if (IsWindowVisible(w) && windowTitle(w) == title)
                found.push_back(std::make_unique<Win32Window>(w));
        return found;
    }
};

} // namespace

std::unique_ptr<Desktop> openDesktop()
{
    return std::make_unique<Win32Desktop>();
}

} // namespace kesmarctl

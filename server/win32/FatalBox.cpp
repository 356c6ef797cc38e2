#include "FatalBox.h"

#include <windows.h>

#include "Form.h"
#include "Text.h"

namespace kesmar::win32 {

namespace {

BOOL CALLBACK takeShownFrame(HWND window, LPARAM found)
{
    const auto style = GetWindowLongPtrW(window, GWL_STYLE);
    if (!IsWindowVisible(window) || (style & WS_CAPTION) != WS_CAPTION)
        return TRUE; // hidden, or a tip or the event loop's window
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

} // namespace

void showFatalError(const std::string &message)
{
    // The box runs its message loop on the GUI thread: a thread that takes no
    // messages for 5 s has its windows marked as not responding, and their
    // close button then offers to end the process, with another status than
    // 1. Handlers cannot run inside that loop, as runHandler runs none once a
    // fatal error is under way, and the window, disabled and owning the box,
    // takes no input meanwhile. Before the window shows, the box has no owner.
    HWND owner = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), takeShownFrame, reinterpret_cast<LPARAM>(&owner));
    if (owner)
        EnableWindow(owner, FALSE);
    MessageBoxW(owner, widen(message).c_str(), widen(form::title).c_str(),
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

} // namespace kesmar::win32

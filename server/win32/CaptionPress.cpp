#include "CaptionPress.h"

namespace kesmar::win32 {

namespace {

// The command a caption button gives, as DefWindowProc would give it: none
// for a button the window's style leaves out, which is drawn disabled.
WPARAM commandOf(HWND window, UINT button)
{
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    switch (button) {
    case HTCLOSE:
        return SC_CLOSE;
    case HTMINBUTTON:
        return (style & WS_MINIMIZEBOX) ? SC_MINIMIZE : 0;
    case HTMAXBUTTON:
        return (style & WS_MAXIMIZEBOX) ? (IsZoomed(window) ? SC_RESTORE : SC_MAXIMIZE) : 0;
    default:
        return 0;
    }
}

} // namespace

bool CaptionPress::down(HWND window, bool doubleClick, int x, int y, UINT hitTest)
{
    pressed_ = HTNOWHERE;
    switch (hitTest) {
    case HTMINBUTTON:
    case HTMAXBUTTON:
    case HTCLOSE:
    case HTHELP:
        SetCapture(window);
        pressed_ = hitTest;
        return true;
    case HTCAPTION:
        if (!doubleClick) {
            // Where the cursor is now, so that the move loop moves nothing.
            POINT at{x, y};
            if (POINT now{}; GetCursorPos(&now))
                at = now;
            ScreenToClient(window, &at);
            PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
        }
        return false;
    default:
        return false;
    }
}

void CaptionPress::up(HWND window, int x, int y)
{
    const UINT pressed = pressed_;
    if (pressed == HTNOWHERE)
        return;
    pressed_ = HTNOWHERE;
    if (GetCapture() == window)
        ReleaseCapture();
    POINT at{x, y};
    ClientToScreen(window, &at);
    const LPARAM where = MAKELPARAM(at.x, at.y);
    const WPARAM command = commandOf(window, pressed);
    if (command != 0 &&
        SendMessageW(window, WM_NCHITTEST, 0, where) == static_cast<LRESULT>(pressed))
        SendMessageW(window, WM_SYSCOMMAND, command, where);
}

} // namespace kesmar::win32

#pragma once

#include <windows.h>

namespace kesmar::win32 {

// A press on the title bar, or on one of its buttons, taken so that this
// thread goes on dispatching while the mouse is down. DefWindowProc would
// hold it in a loop of its own that takes only mouse messages: on the
// caption until the mouse moves or about half a second has passed, on a
// caption button until the button is let go. The send clock's and the
// sockets' messages would wait behind it, ticks would be missed and the
// client's data left unread.
//
// On the caption the press still goes to DefWindowProc, behind a mouse move
// at the cursor's own place: that ends the wait at once, and the move loop
// it starts dispatches every message. A caption button is tracked here with
// the mouse captured, as DefWindowProc tracks it: let go over the same
// button, it gives its system command; let go elsewhere, nothing.
class CaptionPress
{
  public:
    // WM_NCLBUTTONDOWN and WM_NCLBUTTONDBLCLK: false when the caller is to
    // hand the message on to DefWindowProc.
    // x and y: where the press was, on the screen.
    bool down(HWND window, bool doubleClick, int x, int y, UINT hitTest);
    // WM_LBUTTONUP, at a point of the client area's coordinates.
    void up(HWND window, int x, int y);
    // WM_CAPTURECHANGED: the press is over, whoever took the mouse.
    void captureLost() { pressed_ = HTNOWHERE; }

  private:
    UINT pressed_ = HTNOWHERE;
};

} // namespace kesmar::win32

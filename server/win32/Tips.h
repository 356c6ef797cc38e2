#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <windows.h>

#include <commctrl.h>

namespace kesmar::win32 {

// The window's tooltips. The send button and the slider show a tip on
// hover whose text is asked for each time it is shown, and the send
// button's is refreshed while it stays up, so its counts move under the
// user's eyes: when they have changed, and not into a tick. The slider
// also shows its value under the handle while it is dragged or moved with
// the keys, as the platform's slider does, since nothing else in the window
// shows the period.
class Tips
{
  public:
    using TextFor = std::function<std::wstring(HWND tool)>;

    void create(HWND owner, HWND sendButton, HWND slider, TextFor textFor);
    // Given what a refresh of the send tip costs, how long it should wait.
    void holdRefreshWhile(std::function<std::chrono::milliseconds(std::chrono::milliseconds)> hold)
    {
        holdRefresh_ = std::move(hold);
    }

    // The owner's WM_NOTIFY and WM_TIMER; true when the message was a tip's.
    bool onNotify(const NMHDR &header);
    bool onTimer(UINT_PTR id);

    // The slider has been moved by the user.
    void sliderMoved();

    // Hands a message the owner has been sent on to the tips (which are not
    // its children), such as WM_SYSCOLORCHANGE.
    void forward(UINT msg, WPARAM wParam, LPARAM lParam);

  private:
    void refreshSendTip();
    void setTrackText(const std::wstring &text);

    HWND owner_ = nullptr;
    HWND sendButton_ = nullptr;
    HWND slider_ = nullptr;
    // Tooltip windows are owned by the owner window and go with it.
    HWND hover_ = nullptr;
    HWND track_ = nullptr;
    TextFor textFor_;
    std::wstring shown_;     // what the last TTN_GETDISPINFO handed out
    std::wstring refreshed_; // what the send tip shows
    bool refreshHeld_ = false;
    std::function<std::chrono::milliseconds(std::chrono::milliseconds)> holdRefresh_;
};

} // namespace kesmar::win32

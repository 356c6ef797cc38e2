#include "Tips.h"

namespace kesmar::win32 {

namespace {

constexpr UINT_PTR refreshTimerId = 0x5401;
constexpr UINT_PTR trackHideTimerId = 0x5402;
constexpr UINT refreshMs = 500;
// What a refresh may cost, measuring and repainting the tip (under Wine, on
// a loaded machine).
constexpr std::chrono::milliseconds refreshCost(4);
// How long the value stays under the handle after the last move.
constexpr UINT trackShowMs = 1500;
constexpr UINT_PTR trackToolId = 1;
constexpr int maxTipWidth = 480; // pixels at 96 dpi

HWND makeTooltip(HWND owner, DWORD style)
{
    HWND tip = CreateWindowExW(
        WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP | style,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)), nullptr);
    // Lets a tip of several lines break at its line ends, and only there: the
    // width is in pixels, and the text grows with the system's DPI.
    HDC screen = GetDC(owner);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen)
        ReleaseDC(owner, screen);
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, MulDiv(maxTipWidth, dpi > 0 ? dpi : 96, 96));
    return tip;
}

TTTOOLINFOW hoverTool(HWND owner, HWND control)
{
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    return tool;
}

} // namespace

void Tips::create(HWND owner, HWND sendButton, HWND slider, TextFor textFor)
{
    owner_ = owner;
    sendButton_ = sendButton;
    slider_ = slider;
    textFor_ = std::move(textFor);

    hover_ = makeTooltip(owner, 0);
    for (HWND control : {sendButton, slider}) {
        TTTOOLINFOW tool = hoverTool(owner, control);
        SendMessageW(hover_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }

    track_ = makeTooltip(owner, 0);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    tool.hwnd = owner;
    tool.uId = trackToolId;
    tool.lpszText = const_cast<wchar_t *>(L"");
    SendMessageW(track_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

bool Tips::onNotify(const NMHDR &header)
{
    if (header.hwndFrom != hover_)
        return false;
    const auto tool = reinterpret_cast<HWND>(header.idFrom);
    switch (header.code) {
    case TTN_GETDISPINFOW: {
        auto &info = const_cast<NMTTDISPINFOW &>(reinterpret_cast<const NMTTDISPINFOW &>(header));
        shown_ = textFor_(tool);
        info.lpszText = shown_.data();
        info.hinst = nullptr;
        return true;
    }
    case TTN_SHOW:
        if (tool == sendButton_) {
            refreshed_ = shown_;
            SetTimer(owner_, refreshTimerId, refreshMs, nullptr);
        }
        return true;
    case TTN_POP:
        if (tool == sendButton_) {
            KillTimer(owner_, refreshTimerId);
            // Back to asking, so that the next showing is fresh from the start.
            TTTOOLINFOW info = hoverTool(owner_, sendButton_);
            SendMessageW(hover_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
        }
        return true;
    default:
        return false;
    }
}

bool Tips::onTimer(UINT_PTR id)
{
    if (id == refreshTimerId) {
        // Not into a tick: after it, and then on the beat again.
        const std::chrono::milliseconds wait =
            holdRefresh_ ? holdRefresh_(refreshCost) : std::chrono::milliseconds{};
        if (wait > std::chrono::milliseconds{} && !refreshHeld_) {
            refreshHeld_ = true;
            SetTimer(owner_, refreshTimerId, static_cast<UINT>(wait.count()), nullptr);
            return true;
        }
        if (refreshHeld_) {
            refreshHeld_ = false;
            SetTimer(owner_, refreshTimerId, refreshMs, nullptr);
        }
        refreshSendTip();
        return true;
    }
    if (id == trackHideTimerId) {
        KillTimer(owner_, trackHideTimerId);
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = owner_;
        tool.uId = trackToolId;
        SendMessageW(track_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
        return true;
    }
    return false;
}

void Tips::refreshSendTip()
{
    std::wstring text = textFor_(sendButton_);
    // The tip measures and repaints itself for every new text.
    if (text == refreshed_)
        return;
    refreshed_ = text;
    TTTOOLINFOW info = hoverTool(owner_, sendButton_);
    info.lpszText = text.data();
    SendMessageW(hover_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void Tips::setTrackText(const std::wstring &text)
{
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = owner_;
    tool.uId = trackToolId;
    tool.lpszText = const_cast<wchar_t *>(text.c_str());
    SendMessageW(track_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Tips::forward(UINT msg, WPARAM wParam, LPARAM lParam)
{
    for (HWND tip : {hover_, track_})
        SendMessageW(tip, msg, wParam, lParam);
}

void Tips::sliderMoved()
{
    // The hover tip would show the old value beside the new one.
    SendMessageW(hover_, TTM_POP, 0, 0);
    setTrackText(textFor_(slider_));

    // Just under the handle, where the pointer or the eye already is.
    RECT thumb{};
    SendMessageW(slider_, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    POINT below{thumb.left, thumb.bottom};
    ClientToScreen(slider_, &below);
    SendMessageW(track_, TTM_TRACKPOSITION, 0, MAKELPARAM(below.x, below.y + 2));

    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = owner_;
    tool.uId = trackToolId;
    SendMessageW(track_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    SetTimer(owner_, trackHideTimerId, trackShowMs, nullptr);
}

} // namespace kesmar::win32

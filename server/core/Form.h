#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// frmMain as designed, the one place its facts stand: the controls with
// their captions, places and tab order, the client size, title, menu and
// fonts. Each front end walks the table and makes its own widget for each
// kind. Text is UTF-8; places and sizes are twips (1/1440 inch) from the
// client area's top-left corner, each a whole pixel at 96 dpi.
namespace kesmar::form {

enum class Kind { CheckBox, Button, Slider, Pane, Timer, Socket };

struct Control
{
    std::string_view name;
    Kind kind;
    std::string_view caption;
    int left, top, width, height; // twips
    int tabIndex;                 // -1: invisible, not in the tab order
    // What a screen reader calls a control that shows no caption. One with a
    // caption is called by it, and follows it when it changes ("送信", then
    // "停止"); automation finds every control by its name instead.
    std::string_view accessibleName;
    // What a screen reader says after the name and the role.
    std::string_view description;
};

// In creation order, which is also the stacking order.
inline constexpr std::array<Control, 9> controls{{
    {"chkEvent", Kind::CheckBox, "イベントを表示しない", 4320, 3240, 1935, 300, 6, "",
     "接続イベントを表示しない"},
    {"cmdMonitorInit", Kind::Button, "表示初期化", 4080, 2520, 1935, 495, 5, "",
     "表示を初期化する"},
    {"chkDump", Kind::CheckBox, "ダンプする", 4320, 3600, 1215, 255, 4, "",
     "送受信の先頭8バイトをダンプする"},
    // The period itself a screen reader takes from the slider's own value,
    // and says again at every step.
    {"sldPeriod", Kind::Slider, "", 4080, 1560, 1935, 495, 3, "送信周期",
     "ミリ秒単位、0 で送信しない"},
    {"txtStat", Kind::Pane, "", 0, 3240, 3495, 2415, 2, "イベントログ", "接続と送受信の記録"},
    {"cmdSend", Kind::Button, "送信", 4080, 240, 1935, 975, 1, "", "周期送信の開始と停止"},
    {"tmr1", Kind::Timer, "", 0, 0, 0, 0, -1, "", ""},
    {"txtDump", Kind::Pane, "", 0, 30, 3495, 2655, 0, "ダンプ表示",
     "送受信の先頭8バイトの16進表示"},
    {"askServer", Kind::Socket, "", 0, 0, 0, 0, -1, "", ""},
}};

// cmdSend's caption while sending is on.
inline constexpr std::string_view stopCaption = "停止";

inline constexpr std::string_view title = "Tarvolin(TCP Server)";
inline constexpr int clientWidth = 6510; // twips
inline constexpr int clientHeight = 5745;
// The menu bar's one menu and its one item; no access keys, no shortcuts.
inline constexpr std::string_view fileMenu = "ファイル";
inline constexpr std::string_view exitItem = "終了";

struct Font
{
    std::string_view face;
    int points;
    bool fixedPitch;
};
// Japanese faces in the Shift-JIS character set: the panes' fixed pitch,
// so that dump columns line up, and the captions' and menu's.
inline constexpr Font paneFont{"ＭＳ ゴシック", 9, true};
inline constexpr Font uiFont{"MS UI Gothic", 9, false};

constexpr bool hasTabStop(const Control &c)
{
    return c.tabIndex >= 0;
}

inline constexpr std::size_t tabStops = [] {
    std::size_t n = 0;
    for (const Control &c : controls)
        n += hasTabStop(c) ? 1 : 0;
    return n;
}();

// Each control that takes the keyboard holds one tab stop of its own, from
// 0 up; the invisible ones take none.
static_assert(
    [] {
        std::array<bool, tabStops> taken{};
        for (const Control &c : controls) {
            const bool invisible = c.kind == Kind::Timer || c.kind == Kind::Socket;
            if (invisible != !hasTabStop(c))
                return false;
            if (invisible)
                continue;
            const auto i = static_cast<std::size_t>(c.tabIndex);
            if (i >= tabStops || taken[i])
                return false;
            taken[i] = true;
        }
        return true;
    }(),
    "each visible control needs a tab index of its own, from 0 up");

// The row of a control by its name; a name not in the table does not compile
// where the row is asked for at compile time.
constexpr const Control &control(std::string_view name)
{
    for (const Control &c : controls)
        if (c.name == name)
            return c;
    throw "no control of that name";
}

// The Windows control ID of a control that has a window: 101 up, in the
// table's order. UI Automation reports it as the control's AutomationId, and
// kesmarctl finds the control by it.
constexpr int controlId(std::string_view name)
{
    int id = 101;
    for (const Control &c : controls) {
        if (c.name == name)
            return id;
        id += hasTabStop(c) ? 1 : 0;
    }
    throw "no control of that name";
}
// The command ID of the menu's one item, "終了".
inline constexpr int exitItemId = 201;

// Pixels at a DPI, rounded to the nearest as the platform's MulDiv does.
constexpr int pixels(int twips, int dpi)
{
    return (twips * dpi + 720) / 1440;
}

} // namespace kesmar::form

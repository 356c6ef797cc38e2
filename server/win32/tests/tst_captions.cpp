// Every caption fits its control at 100, 125, 150 and 200 %: measured in the
// font the window makes at that DPI, beside a check box's glyph and gap as
// the common controls draw them there, against the control's size in pixels
// at that DPI. The system may run at another DPI: each size is asked for at
// the DPI of the row.

#include "Fonts.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windows.h>

#include "Form.h"
#include "Text.h"

namespace {

namespace form = kesmar::form;
using kesmar::win32::makeFont;
using kesmar::win32::widen;

struct CaptionCase
{
    int dpi;
    const form::Control *control;
    std::string_view caption;
};

void PrintTo(const CaptionCase &c, std::ostream *os)
{
    *os << c.control->name << " at " << c.dpi << " dpi";
}

std::vector<CaptionCase> captionCases()
{
    std::vector<CaptionCase> cases;
    for (int dpi : {96, 120, 144, 192}) {
        for (const form::Control &c : form::controls) {
            if (c.kind != form::Kind::CheckBox && c.kind != form::Kind::Button)
                continue;
            cases.push_back({dpi, &c, c.caption});
            if (c.name == "cmdSend")
                cases.push_back({dpi, &c, form::stopCaption});
        }
    }
    return cases;
}

int systemDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// The ...ForDpi calls came with Windows 10 1607 and 1703, so they are
// looked up; without them the sizes at the system DPI are scaled.
template <typename Function> Function lookUp(const wchar_t *dll, const char *name)
{
    HMODULE module = GetModuleHandleW(dll);
    FARPROC found = module ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

int metricAt(int index, int dpi)
{
    using MetricsForDpi = int(WINAPI *)(int, UINT);
    static const auto forDpi = lookUp<MetricsForDpi>(L"user32.dll", "GetSystemMetricsForDpi");
    return forDpi ? forDpi(index, dpi) : MulDiv(GetSystemMetrics(index), dpi, systemDpi());
}

// The button class's visual style at a DPI, when one is on; sizes read from
// it are multiplied by dpi / scaleFrom.
struct ButtonTheme
{
    explicit ButtonTheme(int dpi) : dpi(dpi)
    {
        using OpenForDpi = HTHEME(WINAPI *)(HWND, LPCWSTR, UINT);
        static const auto forDpi = lookUp<OpenForDpi>(L"uxtheme.dll", "OpenThemeDataForDpi");
        // Windows opens one for a DPI that a connected display has.
        theme = forDpi ? forDpi(nullptr, L"Button", static_cast<UINT>(dpi)) : nullptr;
        if (!theme) {
            theme = OpenThemeData(nullptr, L"Button");
            scaleFrom = systemDpi();
        }
    }
    ~ButtonTheme()
    {
        if (theme)
            CloseThemeData(theme);
    }
    ButtonTheme(const ButtonTheme &) = delete;
    ButtonTheme &operator=(const ButtonTheme &) = delete;
    int scaled(LONG size) const { return MulDiv(size, dpi, scaleFrom); }

    int dpi;
    int scaleFrom = dpi;
    HTHEME theme = nullptr;
};

// The check box glyph: the style's part, as comctl32 6 draws it; without a
// style the classic one, as large as a menu's check mark.
SIZE checkBoxGlyph(const ButtonTheme &style)
{
    SIZE part{};
    if (style.theme && SUCCEEDED(GetThemePartSize(style.theme, nullptr, BP_CHECKBOX,
                                                  CBS_UNCHECKEDNORMAL, nullptr, TS_DRAW, &part)))
        return {style.scaled(part.cx), style.scaled(part.cy)};
    return {metricAt(SM_CXMENUCHECK, style.dpi), metricAt(SM_CYMENUCHECK, style.dpi)};
}

// Where a push button puts its caption: inside the style's content margins,
// or inside the classic button's two edges.
SIZE buttonRoom(const ButtonTheme &style, SIZE button)
{
    const RECT whole{0, 0, button.cx, button.cy};
    RECT content{};
    if (style.theme && SUCCEEDED(GetThemeBackgroundContentRect(style.theme, nullptr, BP_PUSHBUTTON,
                                                               PBS_NORMAL, &whole, &content)))
        return {content.right - content.left, content.bottom - content.top};
    const int edges = 4 * metricAt(SM_CXEDGE, style.dpi);
    return {button.cx - edges, button.cy - edges};
}

class CaptionFits : public testing::TestWithParam<CaptionCase>
{
};

TEST_P(CaptionFits, AtItsDpi)
{
    const CaptionCase &c = GetParam();
    const int dpi = c.dpi;
    const SIZE control{form::pixels(c.control->width, dpi), form::pixels(c.control->height, dpi)};

    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_TRUE(dc);
    const kesmar::win32::UniqueFont font = makeFont(form::uiFont, dpi);
    ASSERT_TRUE(font);
    const HGDIOBJ old = SelectObject(dc, font.get());
    const std::wstring caption = widen(c.caption);
    SIZE text{}, zero{};
    const bool measured =
        GetTextExtentPoint32W(dc, caption.data(), static_cast<int>(caption.size()), &text) &&
        GetTextExtentPoint32W(dc, L"0", 1, &zero);
    SelectObject(dc, old);
    DeleteDC(dc);
    ASSERT_TRUE(measured);

    const ButtonTheme style(dpi);
    SIZE room = control;
    std::string beside;
    if (c.control->kind == form::Kind::CheckBox) {
        // comctl32 leaves half a '0' between the glyph and the caption.
        const SIZE glyph = checkBoxGlyph(style);
        room.cx -= glyph.cx + zero.cx / 2;
        beside = " beside a " + std::to_string(glyph.cx) + "x" + std::to_string(glyph.cy) +
                 " glyph and a gap of " + std::to_string(zero.cx / 2);
        EXPECT_LE(glyph.cy, control.cy) << "the check box glyph";
    } else {
        room = buttonRoom(style, control);
    }
    const std::string what = std::string(c.caption) + " in " + std::string(c.control->name) + " (" +
                             std::to_string(control.cx) + "x" + std::to_string(control.cy) +
                             " px) at " + std::to_string(dpi) + " dpi" + beside;
    EXPECT_LE(text.cx, room.cx) << what << ": the caption is " << text.cx << " px wide";
    EXPECT_LE(text.cy, room.cy) << what << ": the caption is " << text.cy << " px high";
    RecordProperty("spare", std::to_string(room.cx - text.cx) + "x" +
                                std::to_string(room.cy - text.cy) + " px");
}

INSTANTIATE_TEST_SUITE_P(Win32, CaptionFits, testing::ValuesIn(captionCases()),
                         [](const testing::TestParamInfo<CaptionCase> &info) {
                             const CaptionCase &c = info.param;
                             return "dpi" + std::to_string(c.dpi) + "_" +
                                    std::string(c.control->name) +
                                    (c.caption == form::stopCaption ? "_sending" : "");
                         });

} // namespace

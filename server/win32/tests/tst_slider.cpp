// The period slider against a real trackbar: a value another process sets
// with TBM_SETPOSNOTIFY is taken and announced once, as a user's move is,
// though Wine's trackbar knows no such message; one that changes nothing is
// not announced.

#include "Widgets.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

using kesmar::win32::SliderControl;

namespace {

struct NotifyCase
{
    const char *name;
    LPARAM sent;
    int value;     // the slider's afterwards
    int announced; // changes announced so far
};

TEST(SliderTest, SetPosNotifyIsTakenAndAnnouncedOnce)
{
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    HWND parent = CreateWindowExW(0, L"STATIC", L"slider test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent);
    HWND trackbar = CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE | TBS_HORZ, 0, 0,
                                    129, 33, parent, nullptr, nullptr, nullptr);
    ASSERT_TRUE(trackbar);
    SendMessageW(trackbar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 1000));
    SendMessageW(trackbar, TBM_SETPOS, TRUE, 1000);
    SliderControl slider;
    slider.attach(trackbar);
    int announced = 0;
    slider.onValueChanged([&] { ++announced; });

    const NotifyCase cases[] = {
        {"to 250", 250, 250, 1},
        {"to 250 again", 250, 250, 1},
        {"to 0", 0, 0, 2},
        {"past the end, held at 1000", 5000, 1000, 3},
    };
    for (const NotifyCase &c : cases) {
        SCOPED_TRACE(c.name);
        SendMessageW(trackbar, TBM_SETPOSNOTIFY, 0, c.sent);
        EXPECT_EQ(slider.value(), c.value);
        EXPECT_EQ(announced, c.announced);
    }
    DestroyWindow(parent);
}

} // namespace

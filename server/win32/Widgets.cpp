#include "Widgets.h"

#include <commctrl.h>

#include "Text.h"

namespace kesmar::win32 {

int CheckBoxControl::value() const
{
    return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void ButtonControl::setCaption(std::string_view text)
{
    SetWindowTextW(hwnd_, widen(text).c_str());
}

namespace {
constexpr UINT_PTR sliderSubclassId = 1;
}

void SliderControl::attach(HWND hwnd)
{
    hwnd_ = hwnd;
    announced_ = value();
    SetWindowSubclass(hwnd_, subclassProc, sliderSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK SliderControl::subclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR id, DWORD_PTR self)
{
    if (msg == TBM_SETPOSNOTIFY) {
        DefSubclassProc(hwnd, TBM_SETPOS, TRUE, lParam);
        reinterpret_cast<SliderControl *>(self)->announceIfChanged();
        return 0;
    }
    if (msg == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, subclassProc, id);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

std::int32_t SliderControl::value() const
{
    return static_cast<std::int32_t>(SendMessageW(hwnd_, TBM_GETPOS, 0, 0));
}

void SliderControl::setValue(std::int32_t value)
{
    SendMessageW(hwnd_, TBM_SETPOS, TRUE, value);
    announceIfChanged();
}

void SliderControl::announceIfChanged()
{
    const std::int32_t now = value();
    if (now == announced_)
        return;
    announced_ = now;
    if (changed_)
        changed_();
}

} // namespace kesmar::win32

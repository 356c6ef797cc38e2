#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include <windows.h>

#include <commctrl.h>

#include "Controls.h"

// Windows 7 and later; MinGW's commctrl.h does not have it.
#ifndef TBM_SETPOSNOTIFY
#define TBM_SETPOSNOTIFY (WM_USER + 34)
#endif

// The window's check boxes, buttons and period slider as the handlers use
// them; panes are in Pane.h.
namespace kesmar::win32 {

class CheckBoxControl final : public CheckBox
{
  public:
    void attach(HWND hwnd) { hwnd_ = hwnd; }
    HWND hwnd() const { return hwnd_; }
    int value() const override;

  private:
    HWND hwnd_ = nullptr;
};

class ButtonControl final : public Button
{
  public:
    void attach(HWND hwnd) { hwnd_ = hwnd; }
    HWND hwnd() const { return hwnd_; }
    void setCaption(std::string_view text) override;

  private:
    HWND hwnd_ = nullptr;
};

// A trackbar. The trackbar tells of the user's moves only (WM_HSCROLL to its
// parent, which calls moved()); a value set by the program is announced by
// setValue itself, so both reach the handler the same way. So is a value
// another process sets with TBM_SETPOSNOTIFY, which the slider answers
// itself, as Wine's trackbar ignores it.
class SliderControl final : public PeriodSlider
{
  public:
    SliderControl() = default;
    SliderControl(const SliderControl &) = delete;
    SliderControl &operator=(const SliderControl &) = delete;

    void attach(HWND hwnd);
    HWND hwnd() const { return hwnd_; }
    void onValueChanged(std::function<void()> changed) { changed_ = std::move(changed); }

    std::int32_t value() const override;
    void setValue(std::int32_t value) override;
    // The user has moved the handle (or tried to, at an end).
    void moved() { announceIfChanged(); }

  private:
    static LRESULT CALLBACK subclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    void announceIfChanged();

    HWND hwnd_ = nullptr;
    std::int32_t announced_ = 0;
    std::function<void()> changed_;
};

} // namespace kesmar::win32

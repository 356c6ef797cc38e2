#pragma once

#include <cstdint>
#include <string_view>

// The window's controls as the handlers use them, each front end's own
// widgets behind them. Text is UTF-8.
namespace kesmar {

class CheckBox
{
  public:
    // 0 unchecked, 1 checked.
    virtual int value() const = 0;

  protected:
    ~CheckBox() = default;
};

class Button
{
  public:
    virtual void setCaption(std::string_view text) = 0;

  protected:
    ~Button() = default;
};

class PeriodSlider
{
  public:
    virtual std::int32_t value() const = 0;
    // Raises the value-change notification when the value changes, as a
    // move by the user does.
    virtual void setValue(std::int32_t value) = 0;

  protected:
    ~PeriodSlider() = default;
};

// A log or dump pane. Text goes in at the end; lines end in CR LF.
class TextPane
{
  public:
    virtual void appendText(std::string_view text) = 0;
    virtual void clearText() = 0;

  protected:
    ~TextPane() = default;
};

struct FormControls
{
    CheckBox &chkEvent;
    CheckBox &chkDump;
    TextPane &txtStat;
    TextPane &txtDump;
    Button &cmdSend;
    PeriodSlider &sldPeriod;
};

} // namespace kesmar

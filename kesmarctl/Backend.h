#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Form.h"

// What kesmarctl needs of a platform: find the running kesmar windows, and
// work a control of one as a user would. Controls are named by their rows in
// kesmar's own table (Form.h); each backend finds them its platform's way.
namespace kesmarctl {

namespace form = kesmar::form;

// A command that could not be carried out: no kesmar window, more than one,
// or the program stopped answering or went away. The message says which, and
// names what was looked for.
class Failure : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// One kesmar main window. Every call is bounded in time: one that gets no
// answer throws Failure rather than wait on.
class Window
{
  public:
    virtual ~Window() = default;

    // A button's caption as it shows now, UTF-8.
    virtual std::string caption(const form::Control &button) = 0;
    // Presses a button as a click or the space bar does.
    virtual void press(const form::Control &button) = 0;
    virtual bool checked(const form::Control &box) = 0;
    // Toggles a check box as a click does.
    virtual void toggle(const form::Control &box) = 0;
    virtual int value(const form::Control &slider) = 0;
    // Moves the slider so that the program hears of it as of a user's move.
    virtual void setValue(const form::Control &slider, int value) = 0;
    // A pane's whole text, UTF-8, each line ended by "\n".
    virtual std::string text(const form::Control &pane) = 0;
    // Chooses "ファイル", "終了", and returns once the program has ended;
    // throws Failure when it has not within the bound.
    virtual void exit(std::chrono::milliseconds bound) = 0;
};

class Desktop
{
  public:
    virtual ~Desktop() = default;
    // Every kesmar main window up now.
    virtual std::vector<std::unique_ptr<Window>> windows() = 0;
};

// The platform's desktop: AT-SPI on Linux, window messages on Windows.
// Throws Failure when there is none to look at (no accessibility bus, say).
std::unique_ptr<Desktop> openDesktop();

} // namespace kesmarctl

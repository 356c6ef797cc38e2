// Linux: kesmar's window through AT-SPI, each control found by its role and
// accessible name as kesmar's table gives them: a button or a check box by
// its caption, the slider and the panes by their accessible names. Buttons
// are pressed through the Action interface, the slider set through Value,
// the panes read through Text, as a screen reader would.

#include "Backend.h"

#include <atspi/atspi-constants.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <optional>
#include <string_view>
#include <thread>

#include "AtspiBus.h"

namespace kesmarctl {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using atspi::Bus;
using atspi::CallError;
using atspi::Object;

// A program whose connection to the bus has gone ends a moment later.
constexpr auto endingBound = 500ms;
constexpr auto pollEvery = 20ms;

std::uint32_t roleFor(form::Kind kind)
{
    switch (kind) {
    case form::Kind::CheckBox:
        return ATSPI_ROLE_CHECK_BOX;
    case form::Kind::Button:
        return ATSPI_ROLE_PUSH_BUTTON;
    case form::Kind::Slider:
        return ATSPI_ROLE_SLIDER;
    case form::Kind::Pane:
        return ATSPI_ROLE_TEXT;
    case form::Kind::Timer:
    case form::Kind::Socket:
        break;
    }
    return ATSPI_ROLE_INVALID;
}

bool isControlRole(std::uint32_t role)
{
    return role == ATSPI_ROLE_CHECK_BOX || role == ATSPI_ROLE_PUSH_BUTTON ||
           role == ATSPI_ROLE_SLIDER || role == ATSPI_ROLE_TEXT;
}

// What a screen reader calls the control: its caption, which for cmdSend
// reads "停止" while sending; one without a caption, its accessible name.
bool calledBy(const form::Control &c, std::string_view name)
{
    if (!c.accessibleName.empty())
        return name == c.accessibleName;
    return name == c.caption || (&c == &form::control("cmdSend") && name == form::stopCaption);
}

std::string describe(const form::Control &c)
{
    return std::string(c.name) + " \"" +
           std::string(c.accessibleName.empty() ? c.caption : c.accessibleName) + "\"";
}

bool has(std::uint64_t states, AtspiStateType state)
{
    return (states >> state) & 1U;
}

// Ended, or ended and not yet reaped by its parent: either way it runs no
// more.
bool ended(pid_t pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() &&
           (line[close + 2] == 'Z' || line[close + 2] == 'X');
}

bool endsWithin(pid_t pid, Clock::duration bound)
{
    const auto until = Clock::now() + bound;
    while (!ended(pid)) {
        if (Clock::now() >= until)
            return false;
        std::this_thread::sleep_for(pollEvery);
    }
    return true;
}

std::string commandOf(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

class AtspiWindow final : public Window
{
  public:
    AtspiWindow(Bus &bus, Object frame, pid_t pid) : bus_(bus), frame_(std::move(frame)), pid_(pid)
    {}

    std::string caption(const form::Control &button) override
    {
        return guarded("reading " + describe(button), [&] { return bus_.name(find(button)); });
    }

    // Qt presses a button as a click does: down for 100 ms, then clicked.
    // The press is over, and its handler has run, once it is up again.
    void press(const form::Control &button) override
    {
        guarded("pressing " + describe(button), [&] {
            const Object &node = find(button);
            act(node, "Press", describe(button));
            const auto until = Clock::now() + 2s;
            while (has(bus_.states(node), ATSPI_STATE_PRESSED)) {
                if (Clock::now() >= until)
                    throw Failure(describe(button) + " stayed pressed");
                std::this_thread::sleep_for(pollEvery);
            }
        });
    }

    bool checked(const form::Control &box) override
    {
        return guarded("reading " + describe(box),
                       [&] { return has(bus_.states(find(box)), ATSPI_STATE_CHECKED); });
    }

    void toggle(const form::Control &box) override
    {
        guarded("clicking " + describe(box), [&] { act(find(box), "Toggle", describe(box)); });
    }

    int value(const form::Control &slider) override
    {
        return guarded("reading " + describe(slider), [&] {
            const double got = bus_.currentValue(find(slider));
            return static_cast<int>(got + (got < 0 ? -0.5 : 0.5));
        });
    }

    // Qt moves the slider as its keys do, and kesmar's value-change handler
    // takes the new value as the period.
    void setValue(const form::Control &slider, int value) override
    {
        guarded("setting " + describe(slider), [&] { bus_.setCurrentValue(find(slider), value); });
    }

    std::string text(const form::Control &pane) override
    {
        return guarded("reading " + describe(pane), [&] {
            const std::string all = bus_.text(find(pane));
            std::string lines;
            lines.reserve(all.size() + 1);
            for (const char ch : all)
                if (ch != '\r')
                    lines += ch;
            if (!lines.empty() && lines.back() != '\n')
                lines += '\n';
            return lines;
        });
    }

    void exit(std::chrono::milliseconds bound) override
    {
        const std::string item = "\"" + std::string(form::exitItem) + "\"";
        const Object node = guarded("looking through the menu", [&] { return exitItem(); });
        try {
            act(node, "Press", item);
        } catch (const CallError &e) {
            // The program may go before its answer does.
            if (!endsWithin(pid_, endingBound))
                lost("choosing " + item, e);
        }
        if (!endsWithin(pid_, bound))
            throw Failure(program() + " has not ended within " +
                          std::to_string(bound.count() / 1000) + " s of " + item);
    }

  private:
    std::string program() const { return "kesmar (pid " + std::to_string(pid_) + ")"; }

    // A call that failed: kesmar has ended, or it no longer answers.
    [[noreturn]] void lost(const std::string &doing, const CallError &e) const
    {
        if (endsWithin(pid_, endingBound))
            throw Failure(program() + " ended while " + doing);
        throw Failure(program() + " stopped answering while " + doing + ": " + e.message);
    }

    template <typename F> auto guarded(const std::string &doing, F body) -> decltype(body())
    {
        try {
            return body();
        } catch (const CallError &e) {
            lost(doing, e);
        }
    }

    void act(const Object &node, std::string_view action, const std::string &what)
    {
        const std::vector<std::string> actions = bus_.actions(node);
        for (std::size_t i = 0; i < actions.size(); ++i)
            if (actions[i] == action) {
                if (!bus_.doAction(node, static_cast<int>(i)))
                    throw Failure(what + " refused \"" + std::string(action) + "\"");
                return;
            }
        throw Failure(what + " offers no \"" + std::string(action) + "\" action");
    }

    // The controls under the window, found once: the frame holds the
    // client area, which holds them; the menu bar is looked at on its own.
    void walk(const Object &node, int depth)
    {
        for (Object &child : bus_.children(node)) {
            const std::uint32_t role = bus_.role(child);
            if (isControlRole(role)) {
                std::string name = bus_.name(child);
                found_.push_back({role, std::move(name), std::move(child)});
            } else if (role != ATSPI_ROLE_MENU_BAR && depth < 3) {
                walk(child, depth + 1);
            }
        }
    }

    const Object &find(const form::Control &c)
    {
        if (!walked_) {
            walk(frame_, 1);
            walked_ = true;
        }
        for (const Found &f : found_)
            if (f.role == roleFor(c.kind) && calledBy(c, f.name))
                return f.node;
        throw Failure("kesmar's window has no control named " + describe(c) +
                      " (a kesmar of another version?)");
    }

    // "ファイル" on the menu bar, then its item "終了".
    Object exitItem()
    {
        for (const Object &bar : bus_.children(frame_)) {
            if (bus_.role(bar) != ATSPI_ROLE_MENU_BAR)
                continue;
            for (const Object &menu : bus_.children(bar))
                if (bus_.name(menu) == form::fileMenu)
                    if (auto item = menuItem(menu, 2))
                        return *item;
        }
        throw Failure("kesmar's window has no menu item \"" + std::string(form::fileMenu) +
                      "\", \"" + std::string(form::exitItem) + "\"");
    }

    // "終了" at most depth levels under node: Qt puts the menu's drop-down
    // between the menu and its items.
    std::optional<Object> menuItem(const Object &node, int depth)
    {
        for (const Object &child : bus_.children(node)) {
            if (bus_.role(child) == ATSPI_ROLE_MENU_ITEM && bus_.name(child) == form::exitItem)
                return child;
            if (depth > 1)
                if (auto deeper = menuItem(child, depth - 1))
                    return deeper;
        }
        return std::nullopt;
    }

    struct Found
    {
        std::uint32_t role;
        std::string name;
        Object node;
    };

    Bus &bus_;
    Object frame_;
    pid_t pid_;
    bool walked_ = false;
    std::vector<Found> found_;
};

class AtspiDesktop final : public Desktop
{
  public:
    explicit AtspiDesktop(Bus &bus) : bus_(bus) {}

    // Every program on the bus is asked for its top-level windows; kesmar's
    // main one is a frame with its title (its fatal-error box, which has the
    // same title, is a dialog). One that does not answer is passed over,
    // and named if no window is found.
    std::vector<std::unique_ptr<Window>> windows() override
    {
        std::vector<Object> programs;
        try {
            programs = bus_.children(Bus::desktop());
        } catch (const CallError &e) {
            throw Failure("the accessibility bus did not list its programs: " + e.message);
        }
        std::vector<std::unique_ptr<Window>> all;
        std::string silent, gone, why;
        for (const Object &program : programs) {
            pid_t pid = 0;
            std::string command;
            try {
                pid = bus_.processOf(program);
                command = commandOf(pid);
                for (Object &top : bus_.children(program))
                    if (bus_.role(top) == ATSPI_ROLE_FRAME && bus_.name(top) == form::title)
                        all.push_back(std::make_unique<AtspiWindow>(bus_, std::move(top), pid));
            } catch (const CallError &e) {
                if (pid <= 0)
                    continue; // left the bus before it was asked
                std::string &list = endsWithin(pid, endingBound) ? gone : silent;
                list +=
                    (list.empty() ? "pid " : ", pid ") + std::to_string(pid) + " (" + command + ")";
                why = e.message;
            }
        }
        if (all.empty() && !silent.empty())
            throw Failure("no kesmar window found; on the accessibility bus " + silent +
                          " stopped answering: " + why);
        if (all.empty() && !gone.empty())
            throw Failure("no kesmar window is up; " + gone + " ended while asked for its windows");
        return all;
    }

  private:
    Bus &bus_;
};

} // namespace

std::unique_ptr<Desktop> openDesktop()
{
    return std::make_unique<AtspiDesktop>(Bus::open());
}

} // namespace kesmarctl

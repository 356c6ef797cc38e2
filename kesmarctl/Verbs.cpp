// The commands of kesmarctl, in one table: each one's words, the number of
// arguments it takes, and its help line. Arguments are checked before any
// command runs, so a misuse touches nothing.

#include "Verbs.h"

#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <thread>

namespace kesmarctl {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long a control may take to show what was asked of it.
constexpr auto settleBound = 2s;
// How long "quit" waits for the program to end.
constexpr auto exitBound = 10s;
constexpr auto pollEvery = 50ms;
constexpr int defaultWaitSeconds = 30;
constexpr int maxWaitSeconds = 24 * 60 * 60;

const form::Control &cmdSend = form::control("cmdSend");
const form::Control &cmdMonitorInit = form::control("cmdMonitorInit");
const form::Control &chkEvent = form::control("chkEvent");
const form::Control &chkDump = form::control("chkDump");
const form::Control &sldPeriod = form::control("sldPeriod");
const form::Control &txtStat = form::control("txtStat");
const form::Control &txtDump = form::control("txtDump");

class Misuse : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

std::optional<int> wholeNumber(std::string_view text, int lo, int hi)
{
    int n = 0;
    const char *end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, n);
    if (text.empty() || ec != std::errc() || at != end || n < lo || n > hi)
        return std::nullopt;
    return n;
}

bool onOff(std::string_view text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    throw Misuse("expected on or off, not '" + std::string(text) + "'");
}

// Polls until done() holds or the bound is over.
template <typename F> bool settles(F done)
{
    const auto until = Clock::now() + settleBound;
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= until)
            return false;
        std::this_thread::sleep_for(pollEvery);
    }
}

struct Context
{
    std::span<const std::string_view> args; // the verb's own, without its name
    const std::function<std::unique_ptr<Desktop>()> &openDesktop;
    std::ostream &out;

    std::unique_ptr<Window> window() const
    {
        auto all = openDesktop()->windows();
        if (all.empty())
            throw Failure("no kesmar window is up");
        if (all.size() > 1)
            throw Failure("more than one kesmar window is up (" + std::to_string(all.size()) +
                          "); kesmarctl works one");
        return std::move(all.front());
    }
};

bool sending(Window &w)
{
    return w.caption(cmdSend) == form::stopCaption;
}

void setChecked(Window &w, const form::Control &box, bool on)
{
    if (w.checked(box) == on)
        return;
    w.toggle(box);
    if (!settles([&] { return w.checked(box) == on; }))
        throw Failure("\"" + std::string(box.caption) + "\" did not change when clicked");
}

void verbWait(const Context &c)
{
    const int seconds = c.args.empty()
                            ? defaultWaitSeconds
                            : *wholeNumber(c.args[0], 0, maxWaitSeconds); // checked beforehand
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    const auto desktop = c.openDesktop();
    std::string notYet;
    for (;;) {
        // A program busy starting up may not answer yet: not up, so far.
        std::size_t up = 0;
        try {
            up = desktop->windows().size();
            notYet.clear();
        } catch (const Failure &e) {
            notYet = e.what();
        }
        if (up > 1)
            throw Failure("more than one kesmar window is up (" + std::to_string(up) + ")");
        if (up == 1)
            return;
        if (Clock::now() >= until)
            throw Failure(notYet.empty()
                              ? "no kesmar window came up within " + std::to_string(seconds) + " s"
                              : notYet);
        std::this_thread::sleep_for(pollEvery);
    }
}

void verbStatus(const Context &c)
{
    const auto w = c.window();
    // Every value read before any is printed: one that cannot be read
    // leaves no half status behind on standard output.
    const int period = w->value(sldPeriod);
    const bool send = sending(*w);
    const bool dump = w->checked(chkDump);
    const bool events = !w->checked(chkEvent);
    c.out << "period " << period << '\n'
          << "send " << (send ? "on" : "off") << '\n'
          << "dump " << (dump ? "on" : "off") << '\n'
          << "events " << (events ? "on" : "off") << '\n';
}

void verbPeriod(const Context &c)
{
    const int ms = *wholeNumber(c.args[0], 0, 1000); // checked beforehand
    const auto w = c.window();
    w->setValue(sldPeriod, ms);
    if (!settles([&] { return w->value(sldPeriod) == ms; }))
        throw Failure("the period slider did not take " + std::to_string(ms) + " ms");
}

void verbSend(const Context &c)
{
    const bool on = onOff(c.args[0]);
    const auto w = c.window();
    if (sending(*w) == on)
        return;
    w->press(cmdSend);
    if (!settles([&] { return sending(*w) == on; }))
        throw Failure("\"" + std::string(cmdSend.caption) + "\" did not switch sending " +
                      (on ? "on" : "off"));
}

void verbDump(const Context &c)
{
    setChecked(*c.window(), chkDump, onOff(c.args[0]));
}

// "events off" checks "イベントを表示しない".
void verbEvents(const Context &c)
{
    setChecked(*c.window(), chkEvent, !onOff(c.args[0]));
}

void verbClear(const Context &c)
{
    c.window()->press(cmdMonitorInit);
}

void verbLog(const Context &c)
{
    c.out << c.window()->text(txtStat);
}

void verbDumps(const Context &c)
{
    c.out << c.window()->text(txtDump);
}

void verbQuit(const Context &c)
{
    c.window()->exit(exitBound);
}

// An argument's check, run before anything is touched.
using Check = void (*)(std::string_view);

void checkSeconds(std::string_view a)
{
    if (!wholeNumber(a, 0, maxWaitSeconds))
        throw Misuse("wait takes whole seconds from 0 to " + std::to_string(maxWaitSeconds) +
                     ", not '" + std::string(a) + "'");
}

void checkPeriod(std::string_view a)
{
    if (!wholeNumber(a, 0, 1000))
        throw Misuse("the period is whole milliseconds from 0 to 1000, not '" + std::string(a) +
                     "'");
}

void checkOnOff(std::string_view a)
{
    onOff(a);
}

struct Verb
{
    std::string_view name;
    std::size_t minArgs, maxArgs;
    Check check; // of its argument, if it takes one
    void (*run)(const Context &);
    std::string_view usage;
    std::string_view help;
};

constexpr std::array<Verb, 10> verbs{{
    {"wait", 0, 1, checkSeconds, verbWait, "wait [SECONDS]",
     "wait until a kesmar window is up (default 30 s)"},
    {"status", 0, 0, nullptr, verbStatus, "status",
     "print period, send, dump and events, one \"name value\" line each"},
    {"period", 1, 1, checkPeriod, verbPeriod, "period MS", "set the send period, 0 to 1000 ms"},
    {"send", 1, 1, checkOnOff, verbSend, "send on|off", "switch sending on or off"},
    {"dump", 1, 1, checkOnOff, verbDump, "dump on|off", "dump the first 8 bytes of each block"},
    {"events", 1, 1, checkOnOff, verbEvents, "events on|off",
     "show or hide the event lines (off checks the box)"},
    {"clear", 0, 0, nullptr, verbClear, "clear", "clear both panes"},
    {"log", 0, 0, nullptr, verbLog, "log", "print the event log"},
    {"dumps", 0, 0, nullptr, verbDumps, "dumps", "print the dump pane"},
    {"quit", 0, 0, nullptr, verbQuit, "quit", "end kesmar by its menu and wait until it has"},
}};

void usage(std::ostream &to)
{
    to << "usage: kesmarctl COMMAND [ARGUMENT]\n"
          "Works the window of the running kesmar as a user would.\n\n"
          "commands:\n";
    for (const Verb &v : verbs) {
        to << "  " << v.usage << std::string(v.usage.size() < 16 ? 16 - v.usage.size() : 1, ' ')
           << v.help << '\n';
    }
    to << "\nexit status: 0 done; 1 no kesmar window, more than one, or it stopped\n"
          "answering; 2 an unknown command or a bad argument\n";
}

} // namespace

int run(std::span<const std::string_view> args,
        const std::function<std::unique_ptr<Desktop>()> &openDesktop, std::ostream &out,
        std::ostream &err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        usage(out);
        return done;
    }
    const Verb *verb = nullptr;
    try {
        if (args.empty())
            throw Misuse("no command given");
        for (const Verb &v : verbs)
            if (v.name == args[0])
                verb = &v;
        if (!verb)
            throw Misuse("unknown command '" + std::string(args[0]) + "'");
        const std::size_t n = args.size() - 1;
        if (n < verb->minArgs || n > verb->maxArgs)
            throw Misuse(std::string(verb->name) + " takes " +
                         (verb->maxArgs == 0
                              ? std::string("no argument")
                              : "the argument of: kesmarctl " + std::string(verb->usage)));
        if (n > 0 && verb->check)
            verb->check(args[1]);
    } catch (const Misuse &e) {
        err << "kesmarctl: " << e.what() << "\n\n";
        usage(err);
        return misuse;
    }
    try {
        verb->run(Context{args.subspan(1), openDesktop, out});
        out.flush();
        if (!out)
            throw Failure("could not write to standard output");
        return done;
    } catch (const Failure &e) {
        err << "kesmarctl: " << verb->name << ": " << e.what() << '\n';
        return failed;
    }
}

} // namespace kesmarctl

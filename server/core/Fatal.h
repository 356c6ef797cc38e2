#pragma once

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

// The program's one report of a failure it cannot go on from: the message
// goes to standard error, then to the front end's report (a message box
// where a display is there), and the program ends with status 1.
[[noreturn]] void fatalError(const std::string &message);

// What a front end shows of a fatal error besides standard error; set once,
// before the window.
using FatalReport = void (*)(const std::string &message);
void setFatalReport(FatalReport report);

// True from the moment fatalError starts: the front end's report may pump
// messages (a message box does) until the program ends.
bool fatalErrorUnderWay();

// Runs one notification handler; anything it throws ends the program through
// fatalError, so no exception ever unwinds into the event loop. The
// program's own errors carry a message for the user; the standard library's
// carry only a type's name, which is not one. Once a fatal error is under
// way no handler runs: they would work on what has just failed.
template <typename F> void runHandler(F &&handler) noexcept
{
    if (fatalErrorUnderWay())
        return;
    try {
        handler();
    } catch (const std::bad_alloc &) {
        fatalError("not enough memory to go on");
    } catch (const std::runtime_error &e) {
        fatalError(e.what());
    } catch (const std::exception &e) {
        fatalError(std::string("unexpected failure (") + e.what() + ")");
    } catch (...) {
        fatalError("unexpected failure");
    }
}

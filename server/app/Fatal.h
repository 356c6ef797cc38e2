#pragma once

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

// The program's one report of a failure it cannot go on from: the message goes
// to standard error and, when a real display is there, to a message box; then
// the program ends with status 1.
[[noreturn]] void fatalError(const std::string &message);

// Runs one notification handler; anything it throws ends the program through
// fatalError, so no exception ever unwinds into the event loop. The
// program's own errors carry a message for the user; the standard library's
// carry only a type's name, which is not one.
template <typename F> void runHandler(F &&handler) noexcept
{
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

// On X11 and Wayland desktops, ends the program with a plain report when
// there is no display to open the window on, or none that answers (Qt itself
// would abort). A platform chosen with QT_QPA_PLATFORM or -platform is left
// to Qt.
void requireDisplay(int argc, char **argv);

// Process-wide settings of the platform layer, made once before the window.
void initPlatform();

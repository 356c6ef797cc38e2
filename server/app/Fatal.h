#pragma once

#include <exception>
#include <string>

// The program's one report of a failure it cannot go on from: the message goes
// to standard error and, when a real display is there, to a message box; then
// the program ends with status 1.
[[noreturn]] void fatalError(const std::string &message);

// Runs one notification handler; anything it throws ends the program through
// fatalError, so no exception ever unwinds into the event loop.
template <typename F> void runHandler(F &&handler) noexcept
{
    try {
        handler();
    } catch (const std::exception &e) {
        fatalError(e.what());
    } catch (...) {
        fatalError("unexpected failure");
    }
}

// Process-wide settings of the platform layer, made once before the window.
void initPlatform();

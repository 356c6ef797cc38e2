#pragma once

#include <string>

namespace kesmar::win32 {

// The Win32 front end's part of a fatal error (set with setFatalReport):
// a message box, after the core has written the message to standard error.
void showFatalError(const std::string &message);

} // namespace kesmar::win32

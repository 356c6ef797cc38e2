#pragma once

#include <filesystem>

// The directory that holds the running program's own file, symbolic links
// resolved, named as the OS names it: bytes on POSIX, whatever their
// encoding, and wide characters on Windows.
std::filesystem::path programDirectory();

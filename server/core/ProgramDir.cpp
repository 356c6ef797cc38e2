#include "ProgramDir.h"

#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#elif defined(__linux__)
#include <unistd.h>
#endif

// A name decoded to a QString and encoded back loses any byte that is not
// valid in the locale's encoding (a directory "caf\xE9" under UTF-8), so the
// name is taken from the OS as it is.
std::filesystem::path programDirectory()
{
#ifdef _WIN32
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0)
            break;
        if (n < name.size()) {
            name.resize(n);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
#elif defined(__linux__)
    // The kernel's own record of the file it runs, links already resolved.
    std::string name(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", name.data(), name.size());
        if (n <= 0)
            break;
        if (static_cast<std::size_t>(n) < name.size()) {
            name.resize(static_cast<std::size_t>(n));
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
#endif
    // Without the OS's record, the directory started from is the best guess.
    return std::filesystem::current_path();
}

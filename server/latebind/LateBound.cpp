#include "LateBound.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// Read at once after the failing call, before anything can overwrite it.
std::string systemReason()
{
#ifdef _WIN32
    const DWORD code = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    return "error " + std::to_string(code) + " " + text;
#else
    const char *e = dlerror();
    return e ? e : "unknown reason";
#endif
}

#ifdef _WIN32
std::wstring widened(const std::string &s)
{
    std::wstring w(MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), int(w.size()));
    return w;
}
#endif

} // namespace

DynamicLibrary::~DynamicLibrary()
{
    if (!handle_)
        return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void *DynamicLibrary::entry(const std::string &name)
{
    if (!handle_) {
#ifdef _WIN32
        handle_ = LoadLibraryW(widened(file_).c_str());
#else
        handle_ = dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
        if (!handle_) {
            const std::string reason = systemReason();
            throw LateBindError("cannot load " + file_ + " for entry " + name + ": " + reason);
        }
    }
#ifdef _WIN32
    void *address =
        reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
#else
    dlerror();
    void *address = dlsym(handle_, name.c_str());
#endif
    if (!address) {
        const std::string reason = systemReason();
        throw LateBindError("no entry " + name + " in " + file_ + ": " + reason);
    }
    return address;
}

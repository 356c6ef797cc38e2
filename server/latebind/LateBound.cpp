#include "LateBound.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace latebind {
namespace {

std::string lastError()
{
#ifdef _WIN32
    return "error " + std::to_string(GetLastError());
#else
    const char *e = dlerror();
    return e ? e : "unknown error";
#endif
}

} // namespace

void *loadLibrary(const std::string &file)
{
#ifdef _WIN32
    void *lib = reinterpret_cast<void *>(LoadLibraryA(file.c_str()));
#else
    void *lib = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!lib)
        throw LateBindError("cannot load " + file + ": " + lastError());
    return lib;
}

void *findEntry(void *library, const std::string &file, const std::string &entry)
{
#ifdef _WIN32
    void *address =
        reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), entry.c_str()));
#else
    dlerror();
    void *address = dlsym(library, entry.c_str());
#endif
    if (!address)
        throw LateBindError("cannot find entry " + entry + " in " + file + ": " + lastError());
    return address;
}

} // namespace latebind

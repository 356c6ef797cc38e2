#pragma once

#include <stdexcept>
#include <string>

// Run-time binding of library functions by file name and entry name. The
// library is loaded, and the entry looked up, on the first call only; a
// missing file or entry is a LateBindError that names both and says why.

class LateBindError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

// The convention of the functions bound: callee pops on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define LATEBIND_CALL __stdcall
#else
#define LATEBIND_CALL
#endif

// One library, loaded through the platform's ordinary search on first use and
// released with this object. The system counts loads, so several of these
// for one file share a single mapping.
class DynamicLibrary
{
  public:
    explicit DynamicLibrary(std::string file) : file_(std::move(file)) {}
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // The entry's address; loads the library first if need be.
    void *entry(const std::string &name);

    bool loaded() const { return handle_ != nullptr; }
    const std::string &file() const { return file_; }

  private:
    std::string file_;
    void *handle_ = nullptr;
};

// A declared function. Not thread-safe: the program is single-threaded and
// binds, if ever, from its one thread.
template <typename Signature> class LateBound;

template <typename R, typename... Args> class LateBound<R(Args...)>
{
  public:
    using Pointer = R(LATEBIND_CALL *)(Args...);

    LateBound(std::string file, std::string entry)
        : library_(std::move(file)), entry_(std::move(entry))
    {}

    // A failed bind caches nothing, so a later call tries again.
    R operator()(Args... args)
    {
        if (!address_) {
            address_ = reinterpret_cast<Pointer>(library_.entry(entry_));
            ++binds_;
        }
        return address_(args...);
    }

    bool bound() const { return address_ != nullptr; }
    int bindCount() const { return binds_; }
    const std::string &file() const { return library_.file(); }
    const std::string &entry() const { return entry_; }

  private:
    DynamicLibrary library_;
    std::string entry_;
    Pointer address_ = nullptr;
    int binds_ = 0;
};

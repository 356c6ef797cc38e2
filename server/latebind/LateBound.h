#pragma once

#include <memory>
#include <stdexcept>
#include <string>

// Run-time binding of library functions by file name and entry name. The
// library is loaded, and the entry looked up, on the first call only; a
// missing file or entry is a LateBindError that names both.

class LateBindError : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

#if defined(_WIN32) && !defined(_WIN64)
#define LATEBIND_CALL __stdcall
#else
#define LATEBIND_CALL
#endif

namespace latebind {

// One loaded library, kept for the life of the process once loaded, as a
// declared function's library is.
void *loadLibrary(const std::string &file);
// The entry's address, or a LateBindError.
void *findEntry(void *library, const std::string &file, const std::string &entry);

} // namespace latebind

// A declared function. Not thread-safe: the program binds from its GUI thread.
template <typename Signature> class LateBound;

template <typename R, typename... Args> class LateBound<R(Args...)>
{
  public:
    using Pointer = R(LATEBIND_CALL *)(Args...);

    LateBound(std::string file, std::string entry)
        : file_(std::move(file)), entry_(std::move(entry))
    {}

    R operator()(Args... args)
    {
        if (!address_)
            bind();
        return address_(args...);
    }

    bool bound() const { return address_ != nullptr; }
    int bindCount() const { return binds_; }
    const std::string &file() const { return file_; }
    const std::string &entry() const { return entry_; }

  private:
    void bind()
    {
        void *library = latebind::loadLibrary(file_);
        address_ = reinterpret_cast<Pointer>(latebind::findEntry(library, file_, entry_));
        ++binds_;
    }

    std::string file_;
    std::string entry_;
    Pointer address_ = nullptr;
    int binds_ = 0;
};

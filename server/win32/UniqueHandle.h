#pragma once

#include <utility>

#include <windows.h>

namespace kesmar::win32 {

// Owns one Win32 handle: closed once, when its owner goes, and never copied.
template <typename Traits> class UniqueOwner
{
  public:
    using Raw = typename Traits::Raw;

    UniqueOwner() = default;
    explicit UniqueOwner(Raw raw) : raw_(raw) {}
    ~UniqueOwner() { reset(); }
    UniqueOwner(UniqueOwner &&other) noexcept : raw_(other.release()) {}
    UniqueOwner &operator=(UniqueOwner &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueOwner(const UniqueOwner &) = delete;
    UniqueOwner &operator=(const UniqueOwner &) = delete;

    Raw get() const { return raw_; }
    explicit operator bool() const { return raw_ != Traits::invalid(); }
    Raw release() { return std::exchange(raw_, Traits::invalid()); }
    void reset(Raw raw = Traits::invalid())
    {
        if (raw_ != Traits::invalid())
            Traits::close(raw_);
        raw_ = raw;
    }

  private:
    Raw raw_ = Traits::invalid();
};

// Kernel objects whose "none" is a null handle (events, timers, threads);
// not files, whose "none" is INVALID_HANDLE_VALUE.
struct KernelHandleTraits
{
    using Raw = HANDLE;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { CloseHandle(h); }
};

struct WindowTraits
{
    using Raw = HWND;
    static Raw invalid() { return nullptr; }
    static void close(Raw h) { DestroyWindow(h); }
};

using UniqueHandle = UniqueOwner<KernelHandleTraits>;
using UniqueWindow = UniqueOwner<WindowTraits>;

} // namespace kesmar::win32

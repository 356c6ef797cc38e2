#pragma once

#include <utility>

#include <windows.h>

// Owners for the handles the window makes: each is released once, by the
// object that made it, and never outlives it.
namespace kesmar::win32 {

template <typename Handle, auto release> class Unique
{
  public:
    Unique() = default;
    explicit Unique(Handle h) : h_(h) {}
    ~Unique() { reset(); }
    Unique(Unique &&other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    Unique &operator=(Unique &&other) noexcept
    {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }
    Unique(const Unique &) = delete;
    Unique &operator=(const Unique &) = delete;

    Handle get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset(Handle h = nullptr)
    {
        if (h_)
            release(h_);
        h_ = h;
    }

  private:
    Handle h_ = nullptr;
};

inline void deleteFont(HFONT f)
{
    DeleteObject(f);
}
using UniqueFont = Unique<HFONT, deleteFont>;

// A COM interface pointer.
template <typename T> inline void releaseCom(T *p)
{
    p->Release();
}
template <typename T> using ComPtr = Unique<T *, releaseCom<T>>;

} // namespace kesmar::win32

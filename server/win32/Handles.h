#pragma once

#include <utility>

#include <windows.h>

// Owners for the handles the window makes: each is released once, by the
// object that made it, and never outlives it.
namespace kesmar::win32 {

template <typename Handle, auto release> class Owned
{
  public:
    Owned() = default;
    explicit Owned(Handle h) : h_(h) {}
    ~Owned() { reset(); }
    Owned(Owned &&other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    Owned &operator=(Owned &&other) noexcept
    {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;

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
using UniqueFont = Owned<HFONT, deleteFont>;

// A COM interface pointer.
template <typename T> inline void releaseCom(T *p)
{
    p->Release();
}
template <typename T> using ComPtr = Owned<T *, releaseCom<T>>;

} // namespace kesmar::win32

#pragma once

#include <cstdint>

#include "LateBound.h"

// The bit-field library's operations, declared for binding by name. Nothing
// in the program calls them, so the library is never loaded in practice and
// the program runs whether or not it is present.
namespace fendral {

#ifdef _WIN32
inline constexpr const char *libraryFileName = "Fendral.dll";
#else
inline constexpr const char *libraryFileName = "libfendral.so";
#endif

LateBound<void(std::int32_t *, std::int32_t, std::int32_t, std::int32_t)> &setBit();
LateBound<void(std::uint32_t *, float)> &setBitFloat();
LateBound<std::int32_t(const std::int32_t *, std::int32_t, std::int32_t)> &getBit();

} // namespace fendral

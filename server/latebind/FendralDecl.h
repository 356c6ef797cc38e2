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

using SetBit = LateBound<void(std::int32_t *word, std::int32_t bitPos, std::int32_t bitWidth,
                              std::int32_t value)>;
using SetBitFloat = LateBound<void(std::uint32_t *word, float value)>;
using GetBit =
    LateBound<std::int32_t(const std::int32_t *word, std::int32_t bitPos, std::int32_t bitWidth)>;

// Each is created on first use, which binds nothing until it is called.
SetBit &setBit();
SetBitFloat &setBitFloat();
GetBit &getBit();

} // namespace fendral

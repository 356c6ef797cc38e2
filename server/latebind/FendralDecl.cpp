#include "FendralDecl.h"

namespace fendral {

LateBound<void(std::int32_t *, std::int32_t, std::int32_t, std::int32_t)> &setBit()
{
    static LateBound<void(std::int32_t *, std::int32_t, std::int32_t, std::int32_t)> f(
        libraryFileName, "setBit");
    return f;
}

LateBound<void(std::uint32_t *, float)> &setBitFloat()
{
    static LateBound<void(std::uint32_t *, float)> f(libraryFileName, "setBitFloat");
    return f;
}

LateBound<std::int32_t(const std::int32_t *, std::int32_t, std::int32_t)> &getBit()
{
    static LateBound<std::int32_t(const std::int32_t *, std::int32_t, std::int32_t)> f(
        libraryFileName, "getBit");
    return f;
}

} // namespace fendral

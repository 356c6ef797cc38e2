#pragma once

#include <cstdint>

namespace kesmar {

// Milliseconds since the system started, as the log prints them: the low 32
// bits read as a signed number, so it turns negative after about 24.8 days.
std::int32_t tickCount();

// The same truncation for a given millisecond count.
constexpr std::int32_t toTick(std::uint64_t milliseconds)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(milliseconds));
}

} // namespace kesmar

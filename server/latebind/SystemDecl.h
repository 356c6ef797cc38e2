#pragma once

#include <cstdint>

#include "LateBound.h"

// The system's clock as the program declares it, bound by name like the
// bit-field operations; nothing calls it. The file is the Windows system's
// own; elsewhere a call would fail to bind, and none is made.
namespace systemlib {

inline constexpr const char *libraryFileName = "kernel32.dll";

// Windows' SYSTEMTIME: eight 16-bit fields, UTC.
struct SystemTime
{
    std::uint16_t year;
    std::uint16_t month;
    std::uint16_t dayOfWeek;
    std::uint16_t day;
    std::uint16_t hour;
    std::uint16_t minute;
    std::uint16_t second;
    std::uint16_t milliseconds;
};
static_assert(sizeof(SystemTime) == 16);

using GetSystemTime = LateBound<void(SystemTime *time)>;

// Created on first use, which binds nothing until it is called.
GetSystemTime &getSystemTime();

} // namespace systemlib

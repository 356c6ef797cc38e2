#include "TickCount.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace kesmar {

std::int32_t tickCount()
{
#ifdef _WIN32
    return toTick(GetTickCount64());
#else
    // CLOCK_BOOTTIME counts suspended time, like the Windows tick count does.
    timespec ts{};
#ifdef CLOCK_BOOTTIME
    clock_gettime(CLOCK_BOOTTIME, &ts);
#else
    clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return toTick(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
#endif
}

} // namespace kesmar

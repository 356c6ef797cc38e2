#include "Common.h"

#include <algorithm>
#include <cstdio>

namespace kesmar {

std::string toHexLines(std::span<const std::uint8_t> bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    const std::size_t groups = bytes.size() / 4;
    out.reserve(groups * 20);
    for (std::size_t g = 0; g < groups; ++g) {
        char number[24];
        const int len = std::snprintf(number, sizeof number, "%04zu :", g);
        out.append(number, static_cast<std::size_t>(len));
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint8_t b = bytes[g * 4 + i];
            out += ' ';
            out += hex[b >> 4];
            out += hex[b & 0xF];
        }
        out += "\r\n";
    }
    return out;
}

std::string dumpBlock(std::span<const std::uint8_t> dat, std::int32_t maxBytes)
{
    const std::size_t limit = maxBytes > 0 ? static_cast<std::size_t>(maxBytes) : 0;
    return toHexLines(dat.first(std::min(dat.size(), limit))) + "\r\n";
}

} // namespace kesmar

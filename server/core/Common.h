#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kesmar {

// One line per complete group of four bytes: "0000 : 00 0F 10 7F" + CR LF.
// A trailing group of fewer than four bytes is left out.
std::string toHexLines(std::span<const std::uint8_t> bytes);

// What dump(dat, maxBytes) appends: the hex lines of at most maxBytes leading
// bytes, then one more CR LF so that blocks stay apart.
std::string dumpBlock(std::span<const std::uint8_t> dat, std::int32_t maxBytes);

} // namespace kesmar

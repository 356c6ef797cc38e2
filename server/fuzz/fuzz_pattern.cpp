// Any bytes as test.txt: either a complete pattern or one PatternError, the
// same whether the text comes whole or in pieces, and a message that a
// terminal and a message box can show.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "PatternReader.h"

namespace {

struct Outcome
{
    std::vector<std::uint8_t> bytes;
    std::string message;
    std::int64_t line = -1;
};

template <typename Read> Outcome outcome(Read read)
{
    Outcome o;
    try {
        o.bytes = read();
    } catch (const kesmar::PatternError &e) {
        o.message = e.what();
        o.line = e.line();
    }
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const Outcome whole = outcome([&] { return kesmar::readPattern(text, "test.txt"); });
    if (whole.line < 0) {
        // The shortest record, ",0,0,32,0", is 9 characters for 4 bytes.
        if (whole.bytes.size() > size)
            std::abort();
    } else {
        const std::string_view m = whole.message;
        if (whole.line < 1 || m.substr(0, 15) != "test.txt, line " || m.size() > 300 ||
            std::any_of(m.begin(), m.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            std::abort();
    }
    // Pieces of 1 to 8 bytes, picked by the input's first byte.
    const std::size_t piece = size == 0 ? 1 : data[0] % 8 + 1;
    std::size_t at = 0;
    const kesmar::TextSource next = [&] {
        const std::string_view part = text.substr(at, std::min(piece, size - at));
        at += part.size();
        return part;
    };
    const Outcome pieces = outcome([&] { return kesmar::readPattern(next, "test.txt"); });
    if (pieces.bytes != whole.bytes || pieces.message != whole.message || pieces.line != whole.line)
        std::abort();
    return 0;
}

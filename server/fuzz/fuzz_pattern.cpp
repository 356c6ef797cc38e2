// Any bytes as test.txt: either a complete pattern or one PatternError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "PatternReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    try {
        const auto bytes = kesmar::readPattern(text, "test.txt");
        // The shortest record, ",0,0,32,0", is 9 characters for 4 bytes.
        if (bytes.size() > size)
            std::abort();
    } catch (const kesmar::PatternError &e) {
        if (e.line() < 1 || std::string_view(e.what()).substr(0, 15) != "test.txt, line ")
            std::abort();
    }
    return 0;
}

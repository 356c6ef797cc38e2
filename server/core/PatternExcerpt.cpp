// How field text and paths show in the reader's messages: whatever bytes a
// file holds, a message stays short and printable, fit for a terminal and a
// message box.
#include "PatternReaderInternal.h"

#include <algorithm>
#include <cstdio>

namespace kesmar::pattern {
namespace {

// The length of the UTF-8 character that starts text, 0 if it does not start
// one. A character cut short by the end of text gives its whole length.
std::size_t utf8Length(std::string_view text)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = at(0);
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80;
        hi = c == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < n && i < text.size(); ++i)
        if (at(i) < (i == 1 ? lo : 0x80) || at(i) > (i == 1 ? hi : 0xBF))
            return 0;
    return n;
}

void appendEscaped(std::string &out, unsigned char c)
{
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += hex;
}

} // namespace

std::string excerpt(std::string_view head, std::uint64_t fullSize, std::size_t maxColumns,
                    bool *cut)
{
    std::string out;
    std::size_t i = 0;
    for (std::size_t columns = 0; i < head.size();) {
        const auto c = static_cast<unsigned char>(head[i]);
        std::size_t n = c >= 0x20 && c < 0x7F ? 1 : c >= 0x80 ? utf8Length(head.substr(i)) : 0;
        if (n > head.size() - i) {
            if (fullSize > head.size())
                break; // the rest of that character was not kept
            n = 0;
        }
        columns += n == 0 ? 4 : 1;
        if (columns > maxColumns)
            break;
        if (n == 0) {
            appendEscaped(out, c);
            ++i;
        } else {
            out.append(head.substr(i, n));
            i += n;
        }
    }
    if (cut)
        *cut = i < fullSize;
    if (i < fullSize)
        out += "...";
    return out;
}

std::string displayPath(const std::filesystem::path &path)
{
#ifdef _WIN32
    const std::u8string u8 = path.u8string();
    const std::string text(u8.begin(), u8.end());
#else
    const std::string &text = path.native();
#endif
    return excerpt(text, text.size(), 4 * text.size());
}

std::string fieldExcerpt(const KeptField &field, bool quoted, bool &hasNul)
{
    const std::string_view tail = field.tail;
    std::uint64_t blanks = 0;
    while (blanks < tail.size() && isBlank(tail[tail.size() - 1 - blanks]))
        ++blanks;
    if (blanks == tail.size())
        blanks += field.carriedBlanks;
    const std::uint64_t size = field.carried + tail.size() - blanks;
    // carry is the field's start; when it is whole, tail follows it.
    std::string head(field.carry);
    if (field.carry.size() == field.carried)
        head.append(tail);
    head.resize(static_cast<std::size_t>(std::min<std::uint64_t>({head.size(), size, keptBytes})));
    bool cut = false;
    std::string shown = excerpt(head, size, shownColumns, &cut);
    if (quoted)
        shown = '"' + shown + '"';
    if (cut)
        shown += " (" + std::to_string(size) + " bytes)";
    hasNul = head.find('\0') != std::string::npos;
    return shown;
}

} // namespace kesmar::pattern

// What the pattern reader's files share, and only they include: the scanner
// (PatternScanner.cpp) asks the file's code (PatternFile.cpp) what a text's
// first bytes say of its encoding, and PatternExcerpt.cpp how a field shows
// in a message; the file's code shows its path the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kesmar::pattern {

// A message shows at most this many columns of a field; the reader keeps
// enough bytes of a field that spans pieces to fill them, even with UTF-8.
constexpr std::size_t shownColumns = 40;
constexpr std::size_t keptBytes = 4 * shownColumns;

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// What a text's first bytes (up to four) say of its encoding: the length of
// a UTF-8 byte order mark to step over, or why the text cannot be read.
struct EncodingMark
{
    std::size_t length;
    const char *refusal; // nullptr when the text can be read
};
EncodingMark encodingMark(std::string_view start);

// head is the start of a text of fullSize bytes. Shows as much of it as fits
// in maxColumns: printable ASCII and whole UTF-8 characters as they are, one
// column each, any other byte as \xNN, four columns, and "..." where it is
// cut (then *cut is set).
std::string excerpt(std::string_view head, std::uint64_t fullSize, std::size_t maxColumns,
                    bool *cut = nullptr);

// The whole path as messages show it: UTF-8 where the system's names are
// wide, and any byte that is not UTF-8 escaped.
std::string displayPath(const std::filesystem::path &path);

// An integer field as the scanner holds it while it may span pieces: the
// bytes of it (up to keptBytes) and count of them that earlier pieces held,
// the blanks at the end of what was carried, and the part in the current
// piece.
struct KeptField
{
    std::string_view carry;
    std::uint64_t carried;
    std::uint64_t carriedBlanks;
    std::string_view tail;
};

// The field, blanks after it dropped, as a message shows it: in quotes if
// asked, and a long one with its length. hasNul tells whether the bytes kept
// of it hold a NUL.
std::string fieldExcerpt(const KeptField &field, bool quoted, bool &hasNul);

} // namespace kesmar::pattern

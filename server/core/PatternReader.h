// The pattern reader: test.txt in, the bytes to send out, or one message
// that says where and why the file cannot be used. Behind it: the record
// scanner (PatternScanner.cpp), the file (PatternFile.cpp) and how field text
// shows in messages (PatternExcerpt.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kesmar {

// A test pattern that cannot be used. what() is the whole message for the
// user: file, line and the reason in plain words.
class PatternError : public std::runtime_error
{
  public:
    PatternError(const std::string &message, std::int64_t line)
        : std::runtime_error(message), line_(line)
    {}
    // 1-based line of the offending record, 0 when the file itself failed.
    std::int64_t line() const { return line_; }

  private:
    std::int64_t line_;
};

// Hands the reader its text piece by piece; an empty piece is the end. A
// piece stays valid until the next call.
using TextSource = std::function<std::string_view()>;

// The largest test.txt that is read at all, in bytes: the send buffer and
// every count shown about it are signed 32-bit, and so is this.
inline constexpr std::int64_t maxPatternFileSize = std::numeric_limits<std::int32_t>::max();

// Packs the records of a test pattern into the bytes to send.
// Records are five comma-separated fields (label, two ignored integers, bit
// width 8/16/32, value); a line end also separates fields, so records are
// counted by fields, not lines. Values are stored least significant byte
// first. fileName only labels error messages. sizeHint, the length of the
// whole text when known, lets the buffer be reserved once.
std::vector<std::uint8_t> readPattern(std::string_view text, std::string_view fileName);
std::vector<std::uint8_t> readPattern(const TextSource &next, std::string_view fileName,
                                      std::uint64_t sizeHint = 0);

// Reads a regular file as a stream and packs it. Anything else (a directory,
// a named pipe, a device, a socket), a file over maxPatternFileSize and an
// unreadable file are a PatternError that names the whole path.
std::vector<std::uint8_t> loadPatternFile(const std::filesystem::path &path);

} // namespace kesmar

#pragma once

#include <cstdint>
#include <filesystem>
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
    PatternError(const std::string &message, int line) : std::runtime_error(message), line_(line) {}
    // 1-based line of the offending record, 0 when the file itself failed.
    int line() const { return line_; }

  private:
    int line_;
};

// Packs the records of a test pattern into the bytes to send.
// Records are five comma-separated fields (label, two ignored integers, bit
// width 8/16/32, value); a line end also separates fields, so records are
// counted by fields, not lines. Values are stored least significant byte
// first. fileName only labels error messages.
std::vector<std::uint8_t> readPattern(std::string_view text, std::string_view fileName);

// Reads the whole file and packs it; an unreadable file is a PatternError too.
std::vector<std::uint8_t> loadPatternFile(const std::filesystem::path &path);

} // namespace kesmar

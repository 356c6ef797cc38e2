#include "PatternReader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace kesmar {
namespace {

constexpr int fieldCount = 5;
constexpr const char *fieldNames[fieldCount] = {"label", "field 2", "field 3", "bit width",
                                                "value"};

class Reader
{
  public:
    Reader(std::string_view text, std::string_view fileName)
        : p_(text.data()), end_(text.data() + text.size()), fileName_(fileName)
    {
        // Editors on Windows like to start UTF-8 files with a byte order mark.
        if (text.size() >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0)
            p_ += 3;
    }

    std::vector<std::uint8_t> run()
    {
        std::vector<std::uint8_t> out;
        while (skipBlankLines()) {
            std::int32_t fields[fieldCount] = {};
            int fieldLine[fieldCount] = {};
            for (int f = 0; f < fieldCount; ++f) {
                skipBlanks();
                if (p_ == end_)
                    fail(line_, "the file ends in the middle of a record (" + std::to_string(f) +
                                    " of 5 fields)");
                fieldLine[f] = line_;
                if (f == 0)
                    readLabel();
                else
                    fields[f] = readInteger(f);
                if (f < fieldCount - 1)
                    takeSeparator(f);
                else
                    endRecord();
            }
            pack(out, fields[3], fields[4], fieldLine[3], fieldLine[4]);
        }
        return out;
    }

  private:
    [[noreturn]] void fail(int line, const std::string &what) const
    {
        throw PatternError(std::string(fileName_) + ", line " + std::to_string(line) + ": " + what,
                           line);
    }

    static bool isBlank(char c) { return c == ' ' || c == '\t'; }
    bool atLineEnd() const { return p_ != end_ && (*p_ == '\n' || *p_ == '\r'); }

    // CR LF, LF and a lone CR each end one line.
    void takeLineEnd()
    {
        if (*p_ == '\r' && p_ + 1 != end_ && p_[1] == '\n')
            ++p_;
        ++p_;
        ++line_;
    }

    void skipBlanks()
    {
        while (p_ != end_ && isBlank(*p_))
            ++p_;
    }

    // Between records: blank lines carry nothing. Returns whether a record starts.
    bool skipBlankLines()
    {
        for (;;) {
            skipBlanks();
            if (p_ == end_)
                return false;
            if (!atLineEnd())
                return true;
            takeLineEnd();
        }
    }

    void readLabel()
    {
        if (*p_ != '"') {
            while (p_ != end_ && *p_ != ',' && !atLineEnd())
                ++p_;
            return;
        }
        const int openLine = line_;
        ++p_;
        for (;;) {
            if (p_ == end_)
                fail(openLine, "the label's opening double quote is never closed");
            if (*p_ == '"')
                break;
            if (atLineEnd())
                takeLineEnd();
            else
                ++p_;
        }
        ++p_;
        skipBlanks();
        if (p_ != end_ && *p_ != ',' && !atLineEnd())
            fail(line_, "unexpected text after the quoted label");
    }

    std::int32_t readInteger(int f)
    {
        const char *start = p_;
        bool negative = false;
        if (p_ != end_ && *p_ == '-') {
            negative = true;
            ++p_;
        }
        // Accumulate as a negative number so that INT32_MIN fits.
        std::int64_t v = 0;
        bool digits = false, tooLarge = false;
        while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
            digits = true;
            if (!tooLarge) {
                v = v * 10 - (*p_ - '0');
                tooLarge = v < std::numeric_limits<std::int32_t>::min();
            }
            ++p_;
        }
        const char *stop = p_;
        skipBlanks();
        const bool separated = p_ == end_ || *p_ == ',' || atLineEnd();
        if (!digits || !separated) {
            while (p_ != end_ && *p_ != ',' && !atLineEnd())
                ++p_;
            stop = p_;
            while (stop != start && isBlank(stop[-1]))
                --stop;
            const std::string shown(start, static_cast<std::size_t>(stop - start));
            fail(line_,
                 std::string(fieldNames[f]) +
                     (shown.empty() ? " is empty"
                                    : " \"" + shown.substr(0, 40) + "\" is not a decimal number"));
        }
        if (!negative)
            v = -v;
        if (tooLarge || v > std::numeric_limits<std::int32_t>::max())
            fail(line_, std::string(fieldNames[f]) + " " +
                            std::string(start, static_cast<std::size_t>(stop - start)) +
                            " is outside the 32-bit range");
        return static_cast<std::int32_t>(v);
    }

    void takeSeparator(int f)
    {
        if (p_ == end_)
            fail(line_, "the file ends in the middle of a record (" + std::to_string(f + 1) +
                            " of 5 fields)");
        if (*p_ == ',')
            ++p_;
        else
            takeLineEnd();
    }

    // After the fifth field: a comma starts the next record on the same line.
    void endRecord()
    {
        if (p_ == end_)
            return;
        if (*p_ == ',')
            ++p_;
        else
            takeLineEnd();
    }

    void pack(std::vector<std::uint8_t> &out, std::int32_t width, std::int32_t value, int widthLine,
              int valueLine) const
    {
        std::size_t bytes = 0;
        switch (width) {
        case 8:
            if (value < 0 || value > 255)
                fail(valueLine,
                     "value " + std::to_string(value) + " does not fit in 8 bits (0 to 255)");
            bytes = 1;
            break;
        case 16:
            if (value < -32768 || value > 32767)
                fail(valueLine, "value " + std::to_string(value) +
                                    " does not fit in 16 bits (-32768 to 32767)");
            bytes = 2;
            break;
        case 32:
            bytes = 4;
            break;
        default:
            fail(widthLine, "bit width " + std::to_string(width) + " is not 8, 16 or 32");
        }
        // The buffer is indexed by a signed 32-bit offset.
        if (out.size() + bytes > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
            fail(valueLine, "the pattern grows beyond 2 GiB");
        // Shifts, not a memory copy: least significant byte first on every host.
        const auto u = static_cast<std::uint32_t>(value);
        for (std::size_t i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
    }

    const char *p_;
    const char *end_;
    std::string_view fileName_;
    int line_ = 1;
};

} // namespace

std::vector<std::uint8_t> readPattern(std::string_view text, std::string_view fileName)
{
    return Reader(text, fileName).run();
}

std::vector<std::uint8_t> loadPatternFile(const std::filesystem::path &path)
{
    const auto cannot = [&](int err) {
        return PatternError("cannot open " + path.string() + ": " + std::strerror(err), 0);
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(
#ifdef _WIN32
        _wfopen(path.c_str(), L"rb"),
#else
        std::fopen(path.c_str(), "rb"),
#endif
        &std::fclose);
    if (!file)
        throw cannot(errno);
    std::string text;
    errno = 0;
    char chunk[1 << 16];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        text.append(chunk, got);
    if (std::ferror(file.get()))
        // fread need not set errno; say nothing rather than "Success".
        throw PatternError("cannot read " + path.string() +
                               (errno ? std::string(": ") + std::strerror(errno) : std::string()),
                           0);
    return readPattern(text, path.filename().string());
}

} // namespace kesmar

#include "PatternReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The refill is rare; kept out of line, it leaves the scanning loops tight.
#if defined(__GNUC__)
#define KESMAR_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define KESMAR_NOINLINE __declspec(noinline)
#else
#define KESMAR_NOINLINE
#endif

namespace kesmar {
namespace {

constexpr int fieldCount = 5;
constexpr const char *fieldNames[fieldCount] = {"label", "field 2", "field 3", "bit width",
                                                "value"};

// A message shows at most this many columns of a field; the reader keeps
// enough bytes of a field that spans pieces to fill them, even with UTF-8.
constexpr std::size_t shownColumns = 40;
constexpr std::size_t keptBytes = 4 * shownColumns;

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

// head is the start of a text of fullSize bytes. Shows as much of it as fits
// in maxColumns: printable ASCII and whole UTF-8 characters as they are, one
// column each, any other byte as \xNN, four columns, and "..." where it is
// cut (then *cut is set).
std::string excerpt(std::string_view head, std::uint64_t fullSize, std::size_t maxColumns,
                    bool *cut = nullptr)
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

class Reader
{
  public:
    Reader(std::string_view text, const TextSource *next, std::string_view fileName)
        : next_(next), p_(text.data()), end_(text.data() + text.size()), fileName_(fileName)
    {}

    std::vector<std::uint8_t> run(std::uint64_t sizeHint)
    {
        std::vector<std::uint8_t> out;
        try {
            // The shortest record, ",0,0,32,0", packs 4 bytes from 9 characters
            // and the next needs a separator: no pattern packs more than this,
            // and pages never written cost no memory.
            out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
                sizeHint / 10 * 4 + 4, static_cast<std::uint64_t>(maxPatternFileSize))));
        } catch (const std::bad_alloc &) {
            // Growing as it goes may still fit.
        }
        try {
            readRecords(out);
        } catch (const std::bad_alloc &) {
            throw PatternError(std::string(fileName_) +
                                   ": not enough memory for the packed pattern (" +
                                   std::to_string(out.size()) + " bytes packed so far)",
                               0);
        }
        return out;
    }

  private:
    void readRecords(std::vector<std::uint8_t> &out)
    {
        checkStart();
        while (skipBlankLines()) {
            recordLine_ = line_;
            labelHasNul_ = false;
            std::int32_t fields[fieldCount] = {};
            std::int64_t fieldLine[fieldCount] = {};
            for (int f = 0; f < fieldCount; ++f) {
                skipBlanks();
                if (!more())
                    endsInRecord(f);
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
    }

    [[noreturn]] void fail(std::int64_t line, const std::string &what) const
    {
        throw PatternError(std::string(fileName_) + ", line " + std::to_string(line) + ": " + what,
                           line);
    }

    // Named for the line that the cut record starts on, which is where the
    // user has to look.
    [[noreturn]] void endsInRecord(int fieldsRead) const
    {
        fail(recordLine_,
             "the file ends in the middle of a record (" + std::to_string(fieldsRead) +
                 " of 5 fields)" +
                 (labelHasNul_ ? "; a file with NUL bytes where a field should be is most likely "
                                 "not a text file"
                               : ""));
    }

    // Whether a byte is there to look at, fetching the next piece if needed.
    bool more() { return p_ != end_ || refill(); }

    KESMAR_NOINLINE bool refill()
    {
        if (mark_) {
            const auto kept = carry_.size();
            if (kept < keptBytes)
                carry_.append(mark_, std::min<std::size_t>(end_ - mark_, keptBytes - kept));
            carried_ += static_cast<std::uint64_t>(end_ - mark_);
            const char *text = end_;
            while (text != mark_ && isBlank(text[-1]))
                --text;
            carriedBlanks_ =
                static_cast<std::uint64_t>(end_ - text) + (text == mark_ ? carriedBlanks_ : 0);
            mark_ = end_;
        }
        if (!next_ || atEnd_)
            return false;
        const std::string_view piece = (*next_)();
        if (piece.empty()) {
            atEnd_ = true;
            return false;
        }
        p_ = piece.data();
        end_ = p_ + piece.size();
        if (mark_)
            mark_ = p_;
        return true;
    }

    // A byte order mark is looked for whole, however the text is cut up.
    void checkStart()
    {
        if (!more())
            return;
        if (end_ - p_ < 4 && next_) {
            head_ = std::string(p_, static_cast<std::size_t>(end_ - p_));
            while (head_.size() < 4 && !atEnd_) {
                const std::string_view piece = (*next_)();
                atEnd_ = piece.empty();
                head_.append(piece);
            }
            p_ = head_.data();
            end_ = p_ + head_.size();
        }
        const std::string_view start(p_, std::min<std::size_t>(end_ - p_, 4));
        using namespace std::string_view_literals;
        // Editors on Windows like to start UTF-8 files with a byte order mark.
        if (start.substr(0, 3) == "\xEF\xBB\xBF")
            p_ += 3;
        else if (start == "\xFF\xFE\0\0"sv || start == "\0\0\xFE\xFF"sv)
            fail(1, "the file is UTF-32 text (it starts with a UTF-32 byte order mark); "
                    "save it as ASCII or UTF-8");
        else if (start.substr(0, 2) == "\xFF\xFE" || start.substr(0, 2) == "\xFE\xFF")
            fail(1, "the file is UTF-16 text (it starts with a UTF-16 byte order mark); "
                    "save it as ASCII or UTF-8");
    }

    static bool isBlank(char c) { return c == ' ' || c == '\t'; }
    bool atLineEnd() { return more() && (*p_ == '\n' || *p_ == '\r'); }
    // At the comma, line end or end of text that closes a field.
    bool atFieldEnd() { return !more() || *p_ == ',' || *p_ == '\n' || *p_ == '\r'; }

    // CR LF, LF and a lone CR each end one line.
    void takeLineEnd()
    {
        const bool cr = *p_ == '\r';
        ++p_;
        if (cr && more() && *p_ == '\n')
            ++p_;
        ++line_;
    }

    // Steps over the bytes for which take(c) holds, piece after piece. The
    // scan runs on a local pointer, which the compiler keeps in a register.
    template <typename Take> void skipWhile(Take take)
    {
        do {
            const char *p = p_;
            const char *const end = end_;
            while (p != end && take(*p))
                ++p;
            p_ = p;
        } while (p_ == end_ && refill());
    }

    static bool isFieldText(char c) { return c != ',' && c != '\n' && c != '\r'; }

    void skipBlanks() { skipWhile(isBlank); }

    // Between records: blank lines carry nothing. Returns whether a record starts.
    bool skipBlankLines()
    {
        for (;;) {
            skipBlanks();
            if (!more())
                return false;
            if (!atLineEnd())
                return true;
            takeLineEnd();
        }
    }

    void readLabel()
    {
        if (*p_ != '"') {
            // Only a label can hold a NUL byte and still be read; one that
            // does is remembered for a record the file's end cuts short.
            bool nul = false;
            skipWhile([&nul](char c) {
                nul |= c == '\0';
                return isFieldText(c);
            });
            labelHasNul_ = nul;
            return;
        }
        const std::int64_t openLine = line_;
        ++p_;
        for (;;) {
            if (!more())
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
        if (!atFieldEnd())
            fail(line_, "unexpected text after the quoted label");
    }

    std::int32_t readInteger(int f)
    {
        // Keeps the field's first bytes for a message, across pieces.
        mark_ = p_;
        if (carried_ != 0) {
            carry_.clear();
            carried_ = 0;
            carriedBlanks_ = 0;
        }
        bool negative = false;
        if (*p_ == '-') {
            negative = true;
            ++p_;
        }
        // Accumulate as a negative number so that INT32_MIN fits.
        std::int64_t v = 0;
        bool digits = false, tooLarge = false;
        skipWhile([&](char c) {
            if (c < '0' || c > '9')
                return false;
            digits = true;
            if (!tooLarge) {
                v = v * 10 - (c - '0');
                tooLarge = v < std::numeric_limits<std::int32_t>::min();
            }
            return true;
        });
        skipBlanks();
        const bool separated = atFieldEnd();
        if (!digits || !separated) {
            skipWhile(isFieldText);
            const std::string shown = fieldText(true);
            fail(line_,
                 std::string(fieldNames[f]) +
                     (shown == "\"\"" ? " is empty"
                                      : " " + shown + " is not a decimal number" + utf16Hint()));
        }
        if (!negative)
            v = -v;
        if (tooLarge || v > std::numeric_limits<std::int32_t>::max())
            fail(line_, std::string(fieldNames[f]) + " " + fieldText(false) +
                            " is outside the 32-bit range");
        mark_ = nullptr;
        return static_cast<std::int32_t>(v);
    }

    // The field that readInteger started, blanks after it dropped, as a
    // message shows it: in quotes if asked, and a long one with its length.
    std::string fieldText(bool quoted)
    {
        const std::string_view tail(mark_, static_cast<std::size_t>(p_ - mark_));
        std::uint64_t blanks = 0;
        while (blanks < tail.size() && isBlank(tail[tail.size() - 1 - blanks]))
            ++blanks;
        if (blanks == tail.size())
            blanks += carriedBlanks_;
        const std::uint64_t size = carried_ + tail.size() - blanks;
        // carry_ is the field's start; when it is whole, tail follows it.
        std::string head = carry_;
        if (carry_.size() == carried_)
            head.append(tail);
        head.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>({head.size(), size, keptBytes})));
        bool cut = false;
        std::string shown = excerpt(head, size, shownColumns, &cut);
        if (quoted)
            shown = '"' + shown + '"';
        if (cut)
            shown += " (" + std::to_string(size) + " bytes)";
        hasNul_ = head.find('\0') != std::string::npos;
        return shown;
    }

    // Text saved as UTF-16 without a byte order mark shows as NUL bytes.
    std::string utf16Hint() const
    {
        return hasNul_ ? "; a file with NUL bytes is most likely UTF-16 text: save it as ASCII or "
                         "UTF-8"
                       : "";
    }

    void takeSeparator(int f)
    {
        if (!more())
            endsInRecord(f + 1);
        if (*p_ == ',')
            ++p_;
        else
            takeLineEnd();
    }

    // After the fifth field: a comma starts the next record on the same line.
    void endRecord()
    {
        if (!more())
            return;
        if (*p_ == ',')
            ++p_;
        else
            takeLineEnd();
    }

    void pack(std::vector<std::uint8_t> &out, std::int32_t width, std::int32_t value,
              std::int64_t widthLine, std::int64_t valueLine) const
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

    const TextSource *next_;
    const char *p_;
    const char *end_;
    bool atEnd_ = false;
    std::string head_;
    // The integer field being read, while it may span pieces: where it starts
    // in the current piece, and the bytes of it (up to keptBytes) and count
    // of them that earlier pieces held.
    const char *mark_ = nullptr;
    std::string carry_;
    std::uint64_t carried_ = 0;
    std::uint64_t carriedBlanks_ = 0; // blanks at the end of what was carried
    bool hasNul_ = false;
    bool labelHasNul_ = false; // in the record being read
    std::string_view fileName_;
    // 64 bits: a file may well hold more than 2^31 line ends.
    std::int64_t line_ = 1;
    std::int64_t recordLine_ = 1;
};

[[noreturn]] void refuse(const std::filesystem::path &path, const std::string &why)
{
    throw PatternError("cannot open " + displayPath(path) + ": " + why, 0);
}

std::string kindOf(std::filesystem::file_type type)
{
    using enum std::filesystem::file_type;
    switch (type) {
    case directory:
        return "a directory";
    case fifo:
        return "a named pipe (FIFO)";
    case socket:
        return "a socket";
    case character:
        return "a character device";
    case block:
        return "a block device";
    default:
        return "something other than a file";
    }
}

// Only a regular file is read: a named pipe would block the start for good
// and a device like /dev/zero never ends.
void refuseUnlessRegular(const std::filesystem::path &path, std::filesystem::file_type type)
{
    if (type == std::filesystem::file_type::regular)
        return;
    std::error_code ec;
    std::string what = "it is " + kindOf(type);
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        const auto target = std::filesystem::canonical(path, ec);
        if (!ec)
            what = "it leads to " + displayPath(target) + ", which is " + kindOf(type);
    }
    refuse(path, what + ", not a regular file");
}

void refuseIfTooLarge(const std::filesystem::path &path, std::uint64_t size)
{
    if (size > static_cast<std::uint64_t>(maxPatternFileSize))
        throw PatternError("cannot read " + displayPath(path) + ": it is " + std::to_string(size) +
                               " bytes, over the limit of " + std::to_string(maxPatternFileSize) +
                               " bytes (2 GiB) for a pattern file",
                           0);
}

// The open file, read in pieces of a fixed size.
class PatternFile
{
  public:
    explicit PatternFile(const std::filesystem::path &path) : path_(path)
    {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::exists(status))
            refuse(path, ec ? ec.message() : std::strerror(ENOENT));
        refuseUnlessRegular(path, status.type());
#ifdef _WIN32
        file_ = _wfopen(path.c_str(), L"rb");
        if (!file_)
            refuse(path, std::strerror(errno));
        size_ = std::filesystem::file_size(path, ec);
#else
        // Checked again on what was opened, in case the name changed hands;
        // without O_NONBLOCK a pipe put there meanwhile would block the open.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // The open would have to wait for a lease (Linux) to be given up.
        if (fd_ < 0 && errno == EWOULDBLOCK)
            refuse(path, "another program holds the file; try again once it lets go of it");
        if (fd_ < 0)
            refuse(path, std::strerror(errno));
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            refuse(path, std::strerror(errno));
        if (!S_ISREG(st.st_mode))
            refuseUnlessRegular(path, S_ISDIR(st.st_mode)    ? std::filesystem::file_type::directory
                                      : S_ISFIFO(st.st_mode) ? std::filesystem::file_type::fifo
                                      : S_ISCHR(st.st_mode)  ? std::filesystem::file_type::character
                                      : S_ISBLK(st.st_mode)  ? std::filesystem::file_type::block
                                      : S_ISSOCK(st.st_mode) ? std::filesystem::file_type::socket
                                                             : std::filesystem::file_type::unknown);
        size_ = static_cast<std::uint64_t>(st.st_size);
#endif
        refuseIfTooLarge(path, size_);
    }

    ~PatternFile()
    {
#ifdef _WIN32
        if (file_)
            std::fclose(file_);
#else
        if (fd_ >= 0)
            ::close(fd_);
#endif
    }

    PatternFile(const PatternFile &) = delete;
    PatternFile &operator=(const PatternFile &) = delete;

    std::uint64_t size() const
    {
        return size_;
    }

    // The next piece, empty at the end of the file.
    std::string_view next()
    {
#ifdef _WIN32
        const std::size_t got = std::fread(buffer_.get(), 1, pieceSize, file_);
        if (got == 0 && std::ferror(file_))
            failRead(0);
#else
        ssize_t got;
        do
            got = ::read(fd_, buffer_.get(), pieceSize);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            failRead(errno);
#endif
        // A file that grows while it is read is held to the same limit.
        read_ += static_cast<std::uint64_t>(got);
        refuseIfTooLarge(path_, read_);
        return {buffer_.get(), static_cast<std::size_t>(got)};
    }

  private:
    [[noreturn]] void failRead(int err) const
    {
        throw PatternError("cannot read " + displayPath(path_) +
                               (err ? std::string(": ") + std::strerror(err) : std::string()),
                           0);
    }

    static constexpr std::size_t pieceSize = 64 * 1024;
    std::filesystem::path path_;
    std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(pieceSize);
    std::uint64_t size_ = 0;
    std::uint64_t read_ = 0;
#ifdef _WIN32
    std::FILE *file_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace

std::vector<std::uint8_t> readPattern(std::string_view text, std::string_view fileName)
{
    return Reader(text, nullptr, fileName).run(text.size());
}

std::vector<std::uint8_t> readPattern(const TextSource &next, std::string_view fileName,
                                      std::uint64_t sizeHint)
{
    return Reader({}, &next, fileName).run(sizeHint);
}

std::vector<std::uint8_t> loadPatternFile(const std::filesystem::path &path)
{
    PatternFile file(path);
    const TextSource next = [&file] { return file.next(); };
    return readPattern(next, displayPath(path), file.size());
}

} // namespace kesmar

// The record scanner: walks the text piece by piece, counts lines, reads the
// label and the four integers of each record and packs the values. A field
// may span pieces; the bytes a message needs of it are kept as it goes.
#include "PatternReader.h"
#include "PatternReaderInternal.h"

#include <algorithm>
#include <new>

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

using pattern::isBlank;
using pattern::keptBytes;

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
        const auto mark = pattern::encodingMark({p_, std::min<std::size_t>(end_ - p_, 4)});
        if (mark.refusal)
            fail(1, mark.refusal);
        p_ += mark.length;
    }

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

    // The field that readInteger started, as a message shows it.
    std::string fieldText(bool quoted)
    {
        return pattern::fieldExcerpt(
            {carry_, carried_, carriedBlanks_, {mark_, static_cast<std::size_t>(p_ - mark_)}},
            quoted, hasNul_);
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

} // namespace kesmar

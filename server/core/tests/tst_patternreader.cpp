// The pattern reader: what each text packs to, or the line and message it is
// refused with, the same whether it comes whole or in pieces; and the file as
// the program opens it, whatever stands at its path.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "PatternReader.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using kesmar::PatternError;
using kesmar::readPattern;

// The same text handed over a few bytes at a time, so that every field and
// line end also falls across the end of a piece.
std::vector<std::uint8_t> readInPieces(std::string_view text, std::size_t piece)
{
    const kesmar::TextSource next = [&] {
        const std::string_view part = text.substr(0, std::min(piece, text.size()));
        text.remove_prefix(part.size());
        return part;
    };
    return readPattern(next, "test.txt");
}

// The message from reading, or an empty string when it is accepted.
template <typename Read> std::string messageFor(Read read)
{
    try {
        read();
    } catch (const PatternError &e) {
        return e.what();
    }
    return {};
}

// A failure names its row rather than dumping its bytes.
template <typename Row>
requires requires(const Row &row)
{
    row.name;
}
void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}
const auto rowName = [](const auto &info) { return std::string(info.param.name); };

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    std::string out;
    for (const std::uint8_t b : bytes) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X ", b);
        out += text;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}

std::string repeat(std::string_view text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

struct Packs
{
    const char *name;
    std::string text;
    const char *bytes;
};

const Packs packs[] = {
    {"Example",
     "sync,0,0,8,170\r\nlength,0,0,16,4660\r\ncounter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n",
     "AA 34 12 04 03 02 01 FE FF"},
    {"EmptyFile", "", ""},
    {"OnlyBlankLines", "\r\n  \r\n\n", ""},
    {"EightBitMax", "x,0,0,8,255", "FF"},
    {"EightBitZero", "x,0,0,8,0", "00"},
    {"SixteenBitMax", "x,0,0,16,32767", "FF 7F"},
    {"SixteenBitMin", "x,0,0,16,-32768", "00 80"},
    {"SixteenBitMinusOne", "x,0,0,16,-1", "FF FF"},
    {"ThirtyTwoBitMinusOne", "x,0,0,32,-1", "FF FF FF FF"},
    {"ThirtyTwoBitMax", "x,0,0,32,2147483647", "FF FF FF 7F"},
    {"ThirtyTwoBitMin", "x,0,0,32,-2147483648", "00 00 00 80"},
    {"OneTrailingLineEnd", "a,0,0,8,1\r\n", "01"},
    {"LfLineEnds", "a,0,0,8,1\nb,0,0,8,2\n", "01 02"},
    {"LoneCrLineEnds", "a,0,0,8,1\rb,0,0,8,2", "01 02"},
    {"TwoRecordsOnALine", "a,0,0,8,1,b,0,0,8,2", "01 02"},
    {"RecordOverTwoLines", "a,0,0\r\n8,7\r\n", "07"},
    {"QuotedLabelWithCommas", "\"a, b, c\",0,0,8,9", "09"},
    {"QuotedLabelOverALineEnd", "\"a\r\nb\",0,0,8,9", "09"},
    {"BlanksAroundFields", "  a , 1 ,\t2 , 8 , 3  \r\n", "03"},
    {"BlankLinesBetweenRecords", "a,0,0,8,1\r\n\r\n \r\nb,0,0,8,2\r\n\r\n", "01 02"},
    {"IgnoredFieldsTakeAnyInt", "lbl,-2147483648,2147483647,8,1", "01"},
    {"ByteOrderMark",
     "\xEF\xBB\xBF"
     "a,0,0,8,1",
     "01"},
    {"EmptyLabel", ",0,0,8,1", "01"},
};

using PatternPacks = testing::TestWithParam<Packs>;

TEST_P(PatternPacks, WholeAndInPieces)
{
    const Packs &row = GetParam();
    EXPECT_EQ(hex(readPattern(row.text, "test.txt")), row.bytes);
    for (const std::size_t piece : {1, 2, 7})
        EXPECT_EQ(hex(readInPieces(row.text, piece)), row.bytes) << "in pieces of " << piece;
}

INSTANTIATE_TEST_SUITE_P(Texts, PatternPacks, testing::ValuesIn(packs), rowName);

struct Rejects
{
    const char *name;
    std::string text;
    std::int64_t line;
    std::string message; // a part of the whole message
};

const Rejects rejects[] = {
    {"Width12", "a,0,0,8,1\r\nb,0,0,8,2\r\nc,0,0,12,3\r\n", 3,
     "test.txt, line 3: bit width 12 is not 8, 16 or 32"},
    {"Width24", "a,0,0,24,1", 1, "bit width 24 is not"},
    {"Width0", "a,0,0,0,1", 1, "bit width 0 is not"},
    {"WidthMinus8", "a,0,0,-8,1", 1, "bit width -8 is not"},
    {"Width64", "a,0,0,64,1", 1, "bit width 64 is not"},
    {"EightBit256", "x,0,0,8,1\r\nx,0,0,8,256", 2,
     "test.txt, line 2: value 256 does not fit in 8 bits (0 to 255)"},
    {"EightBitMinusOne", "x,0,0,8,-1", 1, "value -1 does not fit in 8"},
    {"SixteenBit32768", "x,0,0,16,32768", 1,
     "value 32768 does not fit in 16 bits (-32768 to 32767)"},
    {"SixteenBitMinus32769", "x,0,0,16,-32769", 1, "does not fit in 16"},
    {"EndsMidRecord", "a,0,0,8,1\r\nb,0,0\r\n", 2,
     "test.txt, line 2: the file ends in the middle of a record (3 of 5 fields)"},
    {"EndsMidRecordOverLines", "a,0,0,8,1\r\nb,0\r\n0\r\n8", 2,
     "line 2: the file ends in the middle of a record (4 of 5 fields)"},
    {"EndsAfterComma", "a,0,0,8,", 1, "ends in the middle"},
    {"ValueBeyond32Bits", "a,0,0,32,2147483648", 1, "value 2147483648 is outside the 32-bit range"},
    {"HugeIgnoredField", "a,99999999999999999999,0,8,1", 1,
     "field 2 99999999999999999999 is outside"},
    {"NotANumber", "a,0,0,8,abc", 1, "value \"abc\" is not a decimal number"},
    {"HexIsNotDecimal", "a,0,0,8,0x10", 1, "value \"0x10\" is not a decimal"},
    {"PlusSign", "a,0,0,8,+1", 1, "is not a decimal"},
    {"LoneMinus", "a,0,0,8,-", 1, "is not a decimal"},
    {"EmptyWidth", "a,0,0,,1", 1, "bit width is empty"},
    {"UnclosedQuote", "a,0,0,8,1\n\"abc,0,0,8,1\n", 2, "opening double quote is never closed"},
    {"TextAfterQuote", "\"a\"b,0,0,8,1", 1, "unexpected text after the quoted label"},
    {"LineCountedAcrossSplitRecord", "a,0,0,8,1\r\nb,0,0\r\n8,300", 3, "line 3: value 300"},
    {"CommaBeforeLineEndLeavesAFieldEmpty", "b,0,0,\r\n8,1", 1, "bit width is empty"},
    {"NulByteShownEscaped", "a,0\0,0,8,1"s, 1,
     "field 2 \"0\\x00\" is not a decimal number; a file with NUL bytes is most likely UTF-16 "
     "text: save it as ASCII or UTF-8"},
    {"Utf16Le",
     "\xFF\xFE"
     "a\0,\0"s,
     1,
     "test.txt, line 1: the file is UTF-16 text (it starts with a UTF-16 byte order mark); save "
     "it as ASCII or UTF-8"},
    {"Utf16Be", "\xFE\xFF\0a\0,"s, 1, "the file is UTF-16 text"},
    {"Utf32Le", "\xFF\xFE\0\0a\0\0\0"s, 1,
     "test.txt, line 1: the file is UTF-32 text (it starts with a UTF-32 byte order mark); save "
     "it as ASCII or UTF-8"},
    {"Utf32Be", "\0\0\xFE\xFF\0\0\0a"s, 1, "the file is UTF-32 text"},
    {"NulBytesWhereARecordShouldBe", "a,0,0,8,1\r\n" + std::string(100, '\0'), 2,
     "test.txt, line 2: the file ends in the middle of a record (1 of 5 fields); a file with NUL "
     "bytes where a field should be is most likely not a text file"},
    {"LongNumberCutShort", "a,0,0,8," + std::string(5000, '9'), 1,
     "value " + std::string(40, '9') + "... (5000 bytes) is outside the 32-bit range"},
    {"LongTextCutBetweenUtf8Characters", "a,0,0,8,x" + repeat("\xC3\xA9", 50), 1,
     "value \"x" + repeat("\xC3\xA9", 39) + "...\" (101 bytes) is not a decimal number"},
    {"BytesThatAreNotUtf8Escaped", "a,0,0,8,\xE9t\xE9\x7F", 1,
     "value \"\\xE9t\\xE9\\x7F\" is not a decimal number"},
    {"Utf8CharacterCutByTheEndEscaped", "a,0,0,8,\xC3", 1, "value \"\\xC3\" is not"},
};

using PatternRejects = testing::TestWithParam<Rejects>;

TEST_P(PatternRejects, NamesTheLineAndWhy)
{
    const Rejects &row = GetParam();
    try {
        readPattern(row.text, "test.txt");
        FAIL() << "accepted a bad pattern";
    } catch (const PatternError &e) {
        const std::string what = e.what();
        EXPECT_EQ(e.line(), row.line) << what;
        EXPECT_NE(what.find(row.message), std::string::npos) << what;
        // Fit for a terminal and a message box, whatever the file holds.
        EXPECT_LT(what.size(), 300u) << what;
        EXPECT_TRUE(std::none_of(what.begin(), what.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20;
        })) << what;
        for (const std::size_t piece : {1, 2, 7})
            EXPECT_EQ(messageFor([&] { readInPieces(row.text, piece); }), what)
                << "in pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, PatternRejects, testing::ValuesIn(rejects), rowName);

// A directory of the test's own under the system's temporary directory,
// removed with all it holds.
class TempDir
{
  public:
    TempDir()
    {
        std::random_device random;
        do
            path_ = fs::temp_directory_path() / ("kesmar-reader-" + std::to_string(random()));
        while (!fs::create_directory(path_));
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path &path() const { return path_; }

  private:
    fs::path path_;
};

std::string utf8(const fs::path &path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// Stands for another program that holds the file: on Linux a write lease of
// this process (its break would be signalled here, and is ignored), on
// Windows an open that shares nothing.
class Holder
{
  public:
    // Whether the system granted the hold.
    bool hold(const fs::path &path)
    {
#ifdef _WIN32
        handle_ = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle_ != INVALID_HANDLE_VALUE;
#elif defined(__linux__)
        std::signal(SIGIO, SIG_IGN);
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        return fd_ >= 0 && ::fcntl(fd_, F_SETLEASE, F_WRLCK) == 0;
#else
        (void)path;
        return false;
#endif
    }
    ~Holder()
    {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
#else
        if (fd_ >= 0)
            ::close(fd_); // the lease goes with the last descriptor
#endif
    }

  private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

enum class Kind {
    Missing,
    Directory,
    Fifo,
    LinkToZero,
    Huge,
    BadRecord,
    Utf16,
    Held,
    NonAsciiName,
    NameNotUtf8
};

struct Refuses
{
    const char *name;
    Kind kind;
    const char *message; // its start; PATH stands for the file's whole path
};

const Refuses refusals[] = {
    {"Missing", Kind::Missing, "cannot open PATH: No such file or directory"},
    {"Directory", Kind::Directory, "cannot open PATH: it is a directory, not a regular file"},
#ifndef _WIN32
    {"NamedPipe", Kind::Fifo, "cannot open PATH: it is a named pipe (FIFO), not a regular file"},
    {"LinkToDevZero", Kind::LinkToZero,
     "cannot open PATH: it leads to /dev/zero, which is a character device, not a regular file"},
#endif
    {"Over2GiB", Kind::Huge,
     "cannot read PATH: it is 3000000000 bytes, over the limit of 2147483647 bytes (2 GiB) for "
     "a pattern file"},
    {"BadRecord", Kind::BadRecord, "PATH, line 2: value 300 does not fit in 8 bits (0 to 255)"},
    {"Utf16File", Kind::Utf16, "PATH, line 1: the file is UTF-16 text"},
    {"HeldByAnotherProgram", Kind::Held,
     "cannot open PATH: another program holds the file; try again once it lets go of it"},
    // Through _wfopen on Windows: a narrow name would lose the characters.
    {"NameNotAscii", Kind::NonAsciiName, "PATH, line 2: value 300 does not fit in 8 bits"},
#ifndef _WIN32
    {"NameNotUtf8", Kind::NameNotUtf8, "PATH, line 2: value 300 does not fit in 8 bits"},
#endif
};

using PatternFileRefused = testing::TestWithParam<Refuses>;

TEST_P(PatternFileRefused, NamesTheWholePath)
{
    const Refuses &row = GetParam();
    const TempDir dir;
    fs::path path = dir.path() / "test.txt";
    const auto write = [&](const std::string &text) {
        std::ofstream(path, std::ios::binary) << text;
    };
    const std::string badRecord = "a,0,0,16,258\r\nb,0,0,8,300\r\n";
    Holder holder;
    switch (row.kind) {
    case Kind::Missing:
        break;
    case Kind::Directory:
        fs::create_directory(path);
        break;
    case Kind::Fifo:
#ifndef _WIN32
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
#endif
        break;
    case Kind::LinkToZero:
        fs::create_symlink("/dev/zero", path);
        break;
    case Kind::Huge:
        write("");
        fs::resize_file(path, 3'000'000'000); // sparse: nothing is written
        break;
    case Kind::BadRecord:
        write(badRecord);
        break;
    case Kind::Utf16:
        write("\xFF\xFE"
              "a\0,\0"s);
        break;
    case Kind::Held:
        write("x,0,0,8,1\r\n");
        if (!holder.hold(path))
            GTEST_SKIP() << "cannot hold the file here: no lease granted";
        break;
    case Kind::NonAsciiName:
        path = dir.path() / u8"テスト" / "test.txt";
        fs::create_directory(path.parent_path());
        write(badRecord);
        break;
    case Kind::NameNotUtf8:
        path = dir.path() / "caf\xE9" / "test.txt";
        fs::create_directory(path.parent_path());
        write(badRecord);
        break;
    }
    // A name that is not UTF-8 shows its odd bytes escaped.
    const std::string shown =
        row.kind == Kind::NameNotUtf8 ? utf8(dir.path()) + "/caf\\xE9/test.txt" : utf8(path);
    std::string expected = row.message;
    expected.replace(expected.find("PATH"), 4, shown);
    const std::string what = messageFor([&] { kesmar::loadPatternFile(path); });
    EXPECT_EQ(what.substr(0, expected.size()), expected) << what;
}

INSTANTIATE_TEST_SUITE_P(Kinds, PatternFileRefused, testing::ValuesIn(refusals), rowName);

// Many pieces of the file, with records across the joins. A label holds
// Ctrl-Z, which ends a file read as text on Windows.
TEST(PatternFile, ReadsEveryPiece)
{
    const TempDir dir;
    const fs::path path = dir.path() / "test.txt";
    std::string text = "\x1A,0,0,8,1\r\n";
    for (int i = 0; i < 20000; ++i)
        text += "r" + std::to_string(i) + ",0,0,16," + std::to_string(i - 10000) + "\r\n";
    std::ofstream(path, std::ios::binary) << text;
    const std::vector<std::uint8_t> bytes = kesmar::loadPatternFile(path);
    EXPECT_EQ(bytes.size(), 40001u);
    EXPECT_EQ(bytes, readPattern(text, "test.txt"));
}

TEST(PatternFile, FollowsALinkToAFile)
{
    const TempDir dir;
    const fs::path real = dir.path() / "real.txt";
    std::ofstream(real, std::ios::binary) << "a,0,0,16,258\r\n";
    std::error_code ec;
    fs::create_symlink(real, dir.path() / "test.txt", ec);
    if (ec)
        GTEST_SKIP() << "no symbolic links here: " << ec.message();
    EXPECT_EQ(hex(kesmar::loadPatternFile(dir.path() / "test.txt")), "02 01");
}

// 2^31 line ends, then a bad record: the line number must not wrap.
TEST(PatternReader, CountsLinesPast32Bits)
{
    const std::string blank(1 << 20, '\n');
    int pieces = 0;
    const kesmar::TextSource next = [&]() -> std::string_view {
        ++pieces;
        if (pieces <= 2048)
            return blank;
        return pieces == 2049 ? "x,0,0,8,300" : "";
    };
    EXPECT_EQ(messageFor([&] { readPattern(next, "test.txt"); }),
              "test.txt, line 2147483649: value 300 does not fit in 8 bits (0 to 255)");
}

} // namespace

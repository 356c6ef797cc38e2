// The text the log panes show: hex dumps of blocks, the event log lines and
// the tick count they carry.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "Common.h"
#include "LogLine.h"
#include "TickCount.h"

namespace {

struct Dump
{
    const char *name;
    std::vector<std::uint8_t> dat;
    std::int32_t maxBytes;
    const char *text;
};

const Dump dumps[] = {
    {"WorkedExampleNineBytesCutToEight",
     {0x00, 0x0F, 0x10, 0x7F, 0x80, 0xA5, 0xFE, 0xFF, 0x41},
     8,
     "0000 : 00 0F 10 7F\r\n0001 : 80 A5 FE FF\r\n\r\n"},
    {"ExactlyEight",
     {1, 2, 3, 4, 5, 6, 7, 8},
     8,
     "0000 : 01 02 03 04\r\n0001 : 05 06 07 08\r\n\r\n"},
    {"FiveBytesTailLeftOut", {0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, 8, "0000 : 0A 0B 0C 0D\r\n\r\n"},
    {"ThreeBytesLoneLineEnd", {1, 2, 3}, 8, "\r\n"},
    {"Empty", {}, 8, "\r\n"},
    {"MaxBytesFourOfEight", {1, 2, 3, 4, 5, 6, 7, 8}, 4, "0000 : 01 02 03 04\r\n\r\n"},
    {"MaxBytesZero", {1, 2, 3, 4}, 0, "\r\n"},
    {"NegativeMaxBytes", {1, 2, 3, 4}, -5, "\r\n"},
};

// A failure names its row rather than dumping its bytes.
void PrintTo(const Dump &row, std::ostream *os)
{
    *os << row.name;
}

using DumpBlock = testing::TestWithParam<Dump>;

TEST_P(DumpBlock, LinesOfFourThenALineEnd)
{
    const Dump &row = GetParam();
    EXPECT_EQ(kesmar::dumpBlock(row.dat, row.maxBytes), row.text);
}

INSTANTIATE_TEST_SUITE_P(Blocks, DumpBlock, testing::ValuesIn(dumps),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(HexLines, GroupNumbersWidenPast9999)
{
    const std::vector<std::uint8_t> big(4 * 10001, 0x5A);
    const std::string lines = kesmar::toHexLines(big);
    EXPECT_EQ(lines.size(), std::size_t{10000 * 20 + 21});
    EXPECT_TRUE(lines.ends_with("9999 : 5A 5A 5A 5A\r\n10000 : 5A 5A 5A 5A\r\n"));
}

TEST(LogLine, LabelValueTickAndLineEnd)
{
    namespace logline = kesmar::logline;
    EXPECT_EQ(logline::accept(3, 5012345), "Accept requestID = 3 5012345\r\n");
    EXPECT_EQ(logline::receive(16, 5012400), "Receive 16 5012400\r\n");
    EXPECT_EQ(logline::close(5013000), "Close 5013000\r\n");
    EXPECT_EQ(logline::send(64, 5012500), "Send 64 5012500\r\n");
    EXPECT_EQ(logline::close(std::numeric_limits<std::int32_t>::min()), "Close -2147483648\r\n");
    EXPECT_EQ(logline::send(0, 0), "Send 0 0\r\n");
}

TEST(TickCount, LowThirtyTwoBitsReadAsSigned)
{
    EXPECT_EQ(kesmar::toTick(5012345), 5012345);
    EXPECT_EQ(kesmar::toTick(2147483647), 2147483647);
    EXPECT_EQ(kesmar::toTick(2147483648u), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(kesmar::toTick(4294967295ull), -1);
    EXPECT_EQ(kesmar::toTick(4294967296ull), 0);
}

// Measured against the steady clock rather than bounded by a guess, so a
// loaded machine cannot fail it.
TEST(TickCount, CountsMilliseconds)
{
    using namespace std::chrono;
    const auto start = steady_clock::now();
    const std::int32_t a = kesmar::tickCount();
    std::this_thread::sleep_for(20ms);
    const std::int32_t b = kesmar::tickCount();
    const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - start).count();
    // The unsigned difference survives the wrap to negative; the system's
    // tick may move in steps of about 16 ms.
    const std::int64_t diff = static_cast<std::uint32_t>(b) - static_cast<std::uint32_t>(a);
    EXPECT_GE(diff, 15);
    EXPECT_LE(diff, elapsed + 16);
}

} // namespace

#include <bit>
#include <cctype>
#include <limits>
#include <random>
#include <string>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "fendral.h"

namespace {

template <typename Case> std::string caseName(const testing::TestParamInfo<Case> &info)
{
    std::string n = info.param.name;
    for (char &ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

struct SetCase
{
    const char *name;
    std::uint32_t before;
    std::int32_t pos, width, value;
    std::uint32_t after;
};

const SetCase setCases[] = {
    {"nibble into zero", 0x0, 4, 4, 0xFF, 0xF0},
    {"nibble beside set bits", 0x0F, 4, 4, 0xFF, 0xFF},
    {"old field bits not cleared", 0xA0, 4, 4, 5, 0xF0},
    {"width 0 changes nothing", 0x1234, 4, 0, -1, 0x1234},
    {"width 32 ORs whole value shifted", 0x1, 4, 32, 0x12345678, 0x23456781},
    {"width 40 ORs whole value shifted", 0x0, 8, 40, 0x12345678, 0x34567800},
    {"position 32 acts as 0", 0x0, 32, 8, 0xAB, 0xAB},
    {"position -1 acts as 31", 0x0, -1, 1, 1, 0x80000000},
    {"field past bit 31 is cut", 0x0, 28, 8, 0xFF, 0xF0000000},
    {"width 31", 0x0, 1, 31, -1, 0xFFFFFFFE},
    {"width -1 masks 31 bits", 0x0, 0, -1, -1, 0x7FFFFFFF},
    {"width -32 masks nothing", 0x0, 0, -32, -1, 0x0},
};

class SetBit : public testing::TestWithParam<SetCase>
{
};

TEST_P(SetBit, OrsTheMaskedValue)
{
    const SetCase &c = GetParam();
    auto word = static_cast<std::int32_t>(c.before);
    setBit(&word, c.pos, c.width, c.value);
    EXPECT_EQ(static_cast<std::uint32_t>(word), c.after);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetBit, testing::ValuesIn(setCases), caseName<SetCase>);

struct GetCase
{
    const char *name;
    std::uint32_t word;
    std::int32_t pos, width;
    std::uint32_t result;
};

const GetCase getCases[] = {
    {"whole word", 0xDEADBEEF, 0, 32, 0xDEADBEEF},
    {"width 0", 0xDEADBEEF, 0, 0, 0x0},
    {"top nibble", 0xF0000000, 28, 4, 0xF},
    {"sign fills past bit 31", 0xF0000000, 28, 8, 0xFF},
    {"sign bit alone fills", 0x80000000, 28, 8, 0xF8},
    {"positive word zero-fills", 0x70000000, 28, 8, 0x7},
    {"wide field of a negative word", 0x80000000, 4, 32, 0xF8000000},
    {"position 36 acts as 4", 0x000000F0, 36, 4, 0xF},
    {"width 31", 0xFFFFFFFF, 0, 31, 0x7FFFFFFF},
    {"width -1 masks 31 bits", 0xFFFFFFFF, 0, -1, 0x7FFFFFFF},
    {"width -32 masks nothing", 0xFFFFFFFF, 0, -32, 0x0},
};

class GetBit : public testing::TestWithParam<GetCase>
{
};

TEST_P(GetBit, ExtractsTheField)
{
    const GetCase &c = GetParam();
    const auto word = static_cast<std::int32_t>(c.word);
    EXPECT_EQ(static_cast<std::uint32_t>(getBit(&word, c.pos, c.width)), c.result);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetBit, testing::ValuesIn(getCases), caseName<GetCase>);

TEST(SetBitFloat, StoresExactBitsOverAnyContent)
{
    const std::pair<float, std::uint32_t> cases[] = {
        {1.0f, 0x3F800000},
        {-2.0f, 0xC0000000},
        {-0.0f, 0x80000000},
        {std::numeric_limits<float>::infinity(), 0x7F800000},
        {std::bit_cast<float>(std::uint32_t{0x7FC01234}), 0x7FC01234}, // quiet NaN, payload
        {std::bit_cast<float>(std::uint32_t{0xFFA00001}), 0xFFA00001}, // signalling, negative
        {std::bit_cast<float>(std::uint32_t{0x00000001}), 0x00000001}, // denormal
    };
    for (const auto &[value, bits] : cases)
        for (const std::uint32_t before : {0x0u, 0xFFFFFFFFu}) {
            std::uint32_t word = before;
            setBitFloat(&word, value);
            EXPECT_EQ(word, bits) << "over " << before;
        }
}

// The rules again in 64-bit arithmetic: sign-extend, shift, mask.
std::uint32_t refMask(std::int32_t width)
{
    return width > 31 ? 0xFFFFFFFF : static_cast<std::uint32_t>((1ull << (width & 31)) - 1);
}

TEST(Property, MatchesIndependentRules)
{
    std::mt19937 rng(20319);
    std::uniform_int_distribution<std::int32_t> any(std::numeric_limits<std::int32_t>::min());
    std::uniform_int_distribution<std::int32_t> small(-70, 70);
    for (int i = 0; i < 200000; ++i) {
        const std::int32_t word = any(rng), value = any(rng);
        const std::int32_t pos = i % 4 ? small(rng) : any(rng);
        const std::int32_t width = i % 5 ? small(rng) : any(rng);
        const int shift = pos & 31;

        std::int32_t set = word;
        setBit(&set, pos, width, value);
        const auto field = static_cast<std::uint32_t>(
            std::uint64_t{static_cast<std::uint32_t>(value) & refMask(width)} << shift);
        ASSERT_EQ(static_cast<std::uint32_t>(set), static_cast<std::uint32_t>(word) | field)
            << word << " " << pos << " " << width << " " << value;

        const std::int64_t wide = word;
        ASSERT_EQ(static_cast<std::uint32_t>(getBit(&word, pos, width)),
                  static_cast<std::uint32_t>(wide >> shift) & refMask(width))
            << word << " " << pos << " " << width;

        if (width >= 0 && width <= 32 && shift + width <= 32) {
            std::int32_t clean = 0;
            setBit(&clean, pos, width, value);
            ASSERT_EQ(static_cast<std::uint32_t>(getBit(&clean, pos, width)),
                      static_cast<std::uint32_t>(value) & refMask(width))
                << "read back " << pos << " " << width << " " << value;
        }
    }
}

// Callers bind by name at run time; this is that path, through the built file.
TEST(Loaded, CallsThroughDlsym)
{
    void *lib = dlopen(FENDRAL_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto set = reinterpret_cast<decltype(&setBit)>(dlsym(lib, "setBit"));
    auto setF = reinterpret_cast<decltype(&setBitFloat)>(dlsym(lib, "setBitFloat"));
    auto get = reinterpret_cast<decltype(&getBit)>(dlsym(lib, "getBit"));
    ASSERT_TRUE(set && setF && get);
    std::int32_t word = 0;
    set(&word, 28, 4, 0x8);
    EXPECT_EQ(get(&word, 28, 8), 0xF8);
    std::uint32_t f = 0;
    setF(&f, -2.0f);
    EXPECT_EQ(f, 0xC0000000u);
    dlclose(lib);
}

} // namespace

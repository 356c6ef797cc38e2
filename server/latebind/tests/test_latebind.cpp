#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <type_traits>

#include <gtest/gtest.h>

#include "FendralDecl.h"
#include "fendral.h"

namespace {

// The declarations must match what the library really exports.
template <typename Decl> using PointerOf = typename std::remove_reference_t<Decl>::Pointer;
static_assert(std::is_same_v<PointerOf<decltype(fendral::setBit())>, decltype(&::setBit)>);
static_assert(
    std::is_same_v<PointerOf<decltype(fendral::setBitFloat())>, decltype(&::setBitFloat)>);
static_assert(std::is_same_v<PointerOf<decltype(fendral::getBit())>, decltype(&::getBit)>);

bool fendralMapped()
{
    std::ifstream maps("/proc/self/maps");
    std::stringstream all;
    all << maps.rdbuf();
    return all.str().find("libfendral") != std::string::npos;
}

// Both run in a process of their own, in this order, so the first sees a
// fresh process and the second really searches for the bare file name.
TEST(Declared, LoadNothingUntilCalled)
{
    ASSERT_FALSE(fendralMapped());
    EXPECT_EQ(fendral::setBit().entry(), "setBit");
    EXPECT_EQ(fendral::setBitFloat().entry(), "setBitFloat");
    EXPECT_EQ(fendral::getBit().file(), fendral::libraryFileName);
    EXPECT_FALSE(fendral::setBit().bound() || fendral::setBitFloat().bound() ||
                 fendral::getBit().bound());
    EXPECT_FALSE(fendralMapped());
}

TEST(Declared, BindThroughTheSearchPath)
{
    std::uint32_t f = 0;
    fendral::setBitFloat()(&f, 1.0f);
    EXPECT_EQ(f, 0x3F800000u);
    EXPECT_TRUE(fendral::setBitFloat().bound());
}

// By full path and by bare name through the search path the test sets.
class Bound : public testing::TestWithParam<const char *>
{
};

TEST_P(Bound, CallsAllThreeAndBindsEachOnce)
{
    fendral::SetBit set(GetParam(), "setBit");
    fendral::SetBitFloat setF(GetParam(), "setBitFloat");
    fendral::GetBit get(GetParam(), "getBit");
    std::int32_t word = 0;
    set(&word, 4, 4, 0xFF);
    set(&word, 28, 4, 0x8);
    EXPECT_EQ(static_cast<std::uint32_t>(word), 0x800000F0u);
    EXPECT_EQ(get(&word, 28, 8), 0xF8);
    EXPECT_EQ(get(&word, 4, 4), 0xF);
    std::uint32_t f = 0;
    setF(&f, -2.0f);
    EXPECT_EQ(f, 0xC0000000u);
    EXPECT_EQ(set.bindCount(), 1);
    EXPECT_EQ(get.bindCount(), 1);
    EXPECT_TRUE(fendralMapped());
}

INSTANTIATE_TEST_SUITE_P(Files, Bound, testing::Values(FENDRAL_FILE, fendral::libraryFileName));

struct Missing
{
    const char *file, *entry;
};

class Fails : public testing::TestWithParam<Missing>
{
};

// Each failure names file and entry, carries the system's reason, and leaves
// nothing cached: the next call fails the same way rather than crash.
TEST_P(Fails, NamesFileEntryAndReason)
{
    const Missing m = GetParam();
    // What the system itself says about this file and entry.
    void *probe = dlopen(m.file, RTLD_NOW | RTLD_LOCAL);
    if (probe)
        dlsym(probe, m.entry);
    const char *said = dlerror();
    ASSERT_NE(said, nullptr);
    const std::string reason = said;
    fendral::SetBit missing(m.file, m.entry);
    std::int32_t word = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            missing(&word, 0, 1, 1);
            ADD_FAILURE() << "called " << m.entry << " in " << m.file;
        } catch (const LateBindError &e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(m.file), std::string::npos) << what;
            EXPECT_NE(what.find(m.entry), std::string::npos) << what;
            EXPECT_NE(what.find(reason), std::string::npos) << what << " / " << reason;
        }
    }
    EXPECT_FALSE(missing.bound());
    EXPECT_EQ(word, 0);
    if (probe)
        dlclose(probe);
}

INSTANTIATE_TEST_SUITE_P(Cases, Fails,
                         testing::Values(Missing{"libno-such-fendral.so", "setBit"},
                                         Missing{FENDRAL_FILE, "clearBit"}));

} // namespace

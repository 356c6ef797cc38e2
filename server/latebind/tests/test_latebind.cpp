#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "FendralDecl.h"

namespace {

bool fendralMapped()
{
    std::ifstream maps("/proc/self/maps");
    std::stringstream all;
    all << maps.rdbuf();
    return all.str().find("libfendral") != std::string::npos;
}

using SetBit = LateBound<void(std::int32_t *, std::int32_t, std::int32_t, std::int32_t)>;

// Runs first: merely declaring must not load the library.
TEST(Declarations, DoNotLoadTheLibrary)
{
    EXPECT_EQ(fendral::setBit().entry(), "setBit");
    EXPECT_EQ(fendral::getBit().file(), fendral::libraryFileName);
    EXPECT_FALSE(fendral::setBitFloat().bound());
    EXPECT_FALSE(fendralMapped());
}

TEST(LateBound, BindsOnFirstCallAndKeepsTheAddress)
{
    SetBit setBit(FENDRAL_FILE, "setBit");
    EXPECT_FALSE(setBit.bound());
    std::int32_t word = 0;
    setBit(&word, 4, 4, 0xFF);
    setBit(&word, 0, 4, 0x3);
    EXPECT_EQ(word, 0xF3);
    EXPECT_EQ(setBit.bindCount(), 1);
}

TEST(LateBound, BareNameUsesLibrarySearch)
{
    std::int32_t word = 0x70000000;
    EXPECT_EQ(fendral::getBit()(&word, 28, 8), 0x7);
    std::uint32_t f = 0;
    fendral::setBitFloat()(&f, -2.0f);
    EXPECT_EQ(f, 0xC0000000u);
    EXPECT_TRUE(fendralMapped());
}

TEST(LateBound, MissingFileNamesIt)
{
    SetBit missing("libno-such-fendral.so", "setBit");
    std::int32_t word = 0;
    try {
        missing(&word, 0, 1, 1);
        FAIL() << "called into a missing library";
    } catch (const LateBindError &e) {
        EXPECT_NE(std::string(e.what()).find("libno-such-fendral.so"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(missing.bound());
}

TEST(LateBound, MissingEntryNamesIt)
{
    SetBit missing(FENDRAL_FILE, "clearBit");
    std::int32_t word = 0;
    try {
        missing(&word, 0, 1, 1);
        FAIL() << "called a missing entry";
    } catch (const LateBindError &e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("clearBit"), std::string::npos) << what;
        EXPECT_NE(what.find("fendral"), std::string::npos) << what;
    }
}

} // namespace

#include "foundation/CVInternalStringUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace ambrell {
namespace {

struct PinnedHash {
    std::string_view text;
    std::int32_t hash;
};

class HashOfPinnedTest : public ::testing::TestWithParam<PinnedHash> {};

// Search-engine ids are made with this hash; a changed value means every id
// changes with it.
TEST_P(HashOfPinnedTest, NeverChanges) {
    EXPECT_EQ(CVInternalStringUtils::hashOf(GetParam().text), GetParam().hash);
}

INSTANTIATE_TEST_SUITE_P(Texts, HashOfPinnedTest,
                         ::testing::Values(PinnedHash{"", 2078137563},
                                           PinnedHash{"a", 2046694260},  // low bits negative before abs
                                           PinnedHash{"Ambrell", 1595013378},
                                           PinnedHash{"café", 811332215},
                                           PinnedHash{"Meeting Room 1.02", 728320494},
                                           PinnedHash{"0a1b2c3d", 298825663}));

TEST(HashOf, NoTextHashesAsTheEmptyText) {
    EXPECT_EQ(CVInternalStringUtils::hashOf(std::nullopt), CVInternalStringUtils::hashOf(""));
}

struct SameHash {
    std::string_view a;
    std::string_view b;
};

class HashOfCaseTest : public ::testing::TestWithParam<SameHash> {};

TEST_P(HashOfCaseTest, IgnoresCase) {
    EXPECT_EQ(CVInternalStringUtils::hashOf(GetParam().a), CVInternalStringUtils::hashOf(GetParam().b));
}

INSTANTIATE_TEST_SUITE_P(Texts, HashOfCaseTest,
                         ::testing::Values(SameHash{"AMBRELL", "ambrell"}, SameHash{"Café", "CAFÉ"},
                                           SameHash{"ÄÖÜ Straße", "äöü straße"}, SameHash{"ΣΑΣ", "σασ"},
                                           // Invalid UTF-8: ASCII letters still fold, other bytes stay.
                                           SameHash{"\xFF" "AB\xC3", "\xFF" "ab\xC3"}));

TEST(HashOf, KeepsBytesOfInvalidTextDistinct) {
    EXPECT_NE(CVInternalStringUtils::hashOf("\xFF" "ab"), CVInternalStringUtils::hashOf("\xFE" "ab"));
    EXPECT_NE(CVInternalStringUtils::hashOf("caf\xC3"), CVInternalStringUtils::hashOf("caf"));
}

TEST(HashOf, MapsTheMinimumToTheMaximum) {
    // Both texts' hashes end in the 32 bits 0x80000000, which has no absolute
    // value as an int32.
    EXPECT_EQ(CVInternalStringUtils::hashOf("f1i0c0j"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(CVInternalStringUtils::hashOf("DHPODC9"), std::numeric_limits<std::int32_t>::max());
}

TEST(HashOf, IsNeverNegative) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += static_cast<char>('!' + i % 90);
        EXPECT_GE(CVInternalStringUtils::hashOf(text), 0) << text;
    }
}

}  // namespace
}  // namespace ambrell

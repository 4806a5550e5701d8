#include "foundation/CVInternalStringUtils.h"

#include <gtest/gtest.h>

#include <limits>

namespace ambrell {
namespace {

std::int32_t hashOf(std::optional<std::string_view> text) { return CVInternalStringUtils::hashOf(text); }

// Search-engine ids are made with this hash; a changed value means every id changes with it.
TEST(HashOf, PinnedValuesNeverChange) {
    const std::pair<std::string_view, std::int32_t> cases[] = {
        {"", 2078137563},
        {"a", 2046694260},  // low bits negative before abs
        {"Ambrell", 1595013378},
        {"café", 811332215},
        {"Meeting Room 1.02", 728320494},
        {"0a1b2c3d", 298825663},
        // Both hashes end in the 32 bits 0x80000000, which has no absolute value as an int32.
        {"f1i0c0j", std::numeric_limits<std::int32_t>::max()},
        {"DHPODC9", std::numeric_limits<std::int32_t>::max()},
    };
    for (const auto& [text, hash] : cases) EXPECT_EQ(hashOf(text), hash) << text;
    EXPECT_EQ(hashOf(std::nullopt), hashOf(""));
}

TEST(HashOf, IgnoresCaseButKeepsBytesOfInvalidTextDistinct) {
    const std::pair<std::string_view, std::string_view> same[] = {
        {"AMBRELL", "ambrell"},
        {"Café", "CAFÉ"},
        {"ÄÖÜ Straße", "äöü straße"},
        {"ΣΑΣ", "σασ"},
        // Invalid UTF-8: ASCII letters still fold, other bytes stay.
        {"\xFF"
         "AB\xC3",
         "\xFF"
         "ab\xC3"},
    };
    for (const auto& [a, b] : same) EXPECT_EQ(hashOf(a), hashOf(b)) << a;
    EXPECT_NE(hashOf("\xFF"
                     "ab"),
              hashOf("\xFE"
                     "ab"));
    EXPECT_NE(hashOf("caf\xC3"), hashOf("caf"));
}

}  // namespace
}  // namespace ambrell

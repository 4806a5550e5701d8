#include "platform/UUID.h"

#include <cctype>
#include <set>
#include <unordered_set>

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

TEST(UUIDTest, RandomIsVersionFourVariantOneInCanonicalUpperCase) {
    const auto uuid = UUID::random();
    EXPECT_EQ(uuid.bytes()[6] >> 4, 4);
    EXPECT_EQ(uuid.bytes()[8] >> 6, 0b10);

    const auto text = uuid.uuidString();
    ASSERT_EQ(text.size(), 36u);
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (index == 8 || index == 13 || index == 18 || index == 23) {
            EXPECT_EQ(text[index], '-');
        } else {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[index])) || (text[index] >= 'A' && text[index] <= 'F')) << text;
        }
    }
    EXPECT_EQ(UUID::fromString(text), uuid);
}

TEST(UUIDTest, RandomValuesDoNotRepeat) {
    std::unordered_set<UUID> seen;
    for (int index = 0; index < 10000; ++index) EXPECT_TRUE(seen.insert(UUID::random()).second);
}

TEST(UUIDTest, ParsesEitherCaseToTheSameValue) {
    const auto upper = UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    const auto lower = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper, lower);
    EXPECT_EQ(lower->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(lower->bytes()[0], 0xE6);
    EXPECT_EQ(lower->bytes()[15], 0x5F);
    EXPECT_EQ(UUID::fromString("00000000-0000-0000-0000-000000000000"), UUID());
}

TEST(UUIDTest, RefusesAnythingButTheCanonicalForm) {
    for (const std::string_view text : {
             "",
             "E621E1F8C36C495A93FC0C247A3E6E5F",          // no dashes
             "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",    // braces
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5",       // short
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0",     // long
             "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",      // dash misplaced
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",      // not hexadecimal
             " E621E1F8-C36C-495A-93FC-0C247A3E6E5",      // padding
             "E621E1F8+C36C-495A-93FC-0C247A3E6E5F",
         }) {
        EXPECT_EQ(UUID::fromString(text), std::nullopt) << text;
    }
    EXPECT_EQ(UUID::fromString(std::string_view("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36)), std::nullopt);
}

TEST(UUIDTest, OrdersByBytes) {
    const auto low = *UUID::fromString("00000000-0000-0000-0000-000000000001");
    const auto high = *UUID::fromString("10000000-0000-0000-0000-000000000000");
    EXPECT_LT(low, high);
    const std::set<UUID> ordered{high, low, low};
    EXPECT_EQ(ordered.size(), 2u);
    EXPECT_EQ(*ordered.begin(), low);
}

}  // namespace
}  // namespace ambrell::platform

#include "platform/UUID.h"

#include <regex>
#include <unordered_set>

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

TEST(UUIDTest, RandomIsVersionFourInCanonicalUpperCaseAndUnique) {
    std::unordered_set<UUID> seen;
    const std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    for (int index = 0; index < 1000; ++index) {
        const auto uuid = UUID::random();
        EXPECT_TRUE(std::regex_match(uuid.uuidString(), canonical)) << uuid.uuidString();
        EXPECT_EQ(UUID::fromString(uuid.uuidString()), uuid);
        EXPECT_TRUE(seen.insert(uuid).second);
    }
}

TEST(UUIDTest, ParsesTheCanonicalFormOnlyInEitherCase) {
    const auto lower = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    EXPECT_EQ(lower, UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_EQ(lower.value_or(UUID()).uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(UUID::fromString("00000000-0000-0000-0000-000000000000"), UUID());
    for (const std::string_view text :
         {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
          "E621E1F-8C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", " E621E1F8-C36C-495A-93FC-0C247A3E6E5"}) {
        EXPECT_EQ(UUID::fromString(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace ambrell::platform

#include "platform/Error.h"

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

const std::string descriptionKey(NSLocalizedDescriptionKey);
const std::string underlyingKey(NSUnderlyingErrorKey);

TEST(ErrorTest, DescriptionComesFromUserInfoOrNamesDomainAndCode) {
    EXPECT_EQ((NSError{"com.corvay.Ambrell", 3, {{descriptionKey, "No venue data"}}}).localizedDescription(), "No venue data");
    EXPECT_EQ((NSError{"com.corvay.Ambrell", -7, {}}).localizedDescription(),
              "The operation couldn\u2019t be completed. (com.corvay.Ambrell error -7.)");
    // A description of another kind is no description.
    EXPECT_EQ((NSError{"d", 1, {{descriptionKey, 5}}}).localizedDescription(), "The operation couldn\u2019t be completed. (d error 1.)");
}

TEST(ErrorTest, TypedLookupsRefuseOtherKinds) {
    const NSError error{"d", 1, {{"text", "value"}, {"count", 42}, {"flag", true}, {underlyingKey, "not an error"}}};
    EXPECT_EQ(error.stringForKey("text"), "value");
    EXPECT_EQ(error.integerForKey("count"), 42);
    EXPECT_EQ(error.stringForKey("count"), std::nullopt);
    EXPECT_EQ(error.integerForKey("flag"), std::nullopt);
    EXPECT_EQ(error.stringForKey("missing"), std::nullopt);
    EXPECT_EQ(error.underlyingError(), nullptr);
}

TEST(ErrorTest, EqualityComparesUnderlyingErrorsByValue) {
    const auto cause = [](std::int64_t code) { return std::make_shared<const NSError>(NSError{"NSPOSIXErrorDomain", code, {}}); };
    const NSError error{"com.corvay.Ambrell", 10, {{underlyingKey, cause(2)}}};
    ASSERT_NE(error.underlyingError(), nullptr);
    EXPECT_EQ(error.underlyingError()->code, 2);

    EXPECT_EQ(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, cause(2)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, cause(13)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, std::shared_ptr<const NSError>()}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 11, {{underlyingKey, cause(2)}}}));
    EXPECT_NE(error, (NSError{"other", 10, {{underlyingKey, cause(2)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, cause(2)}, {"extra", true}}}));
    // Same digits, different kinds.
    EXPECT_NE((NSError{"d", 1, {{"k", 1}}}), (NSError{"d", 1, {{"k", 1.0}}}));
}

TEST(ErrorTest, CancellationIsAStandardException) {
    const std::exception& error = CancellationError();
    EXPECT_STREQ(error.what(), "CancellationError");
}

}  // namespace
}  // namespace ambrell::platform

#include "platform/Error.h"

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

const std::string descriptionKey(NSLocalizedDescriptionKey);
const std::string underlyingKey(NSUnderlyingErrorKey);

TEST(ErrorTest, DescriptionAndTypedLookupsRefuseOtherKinds) {
    EXPECT_EQ((NSError{"com.corvay.Ambrell", 3, {{descriptionKey, "No venue data"}}}).localizedDescription(), "No venue data");
    const NSError error{"com.corvay.Ambrell", -7, {{descriptionKey, 5}, {"text", "value"}, {underlyingKey, "not an error"}}};
    EXPECT_EQ(error.localizedDescription(), "The operation couldn\u2019t be completed. (com.corvay.Ambrell error -7.)");
    EXPECT_EQ(error.stringForKey("text"), "value");
    EXPECT_EQ(error.integerForKey(descriptionKey), 5);
    EXPECT_EQ(error.stringForKey(descriptionKey), std::nullopt);
    EXPECT_EQ(error.integerForKey("text"), std::nullopt);
    EXPECT_EQ(error.stringForKey("missing"), std::nullopt);
    EXPECT_EQ(error.underlyingError(), nullptr);
}

TEST(ErrorTest, EqualityComparesUnderlyingErrorsByValue) {
    const auto cause = [](std::int64_t code) { return std::make_shared<const NSError>(NSError{"NSPOSIXErrorDomain", code, {}}); };
    const NSError error{"com.corvay.Ambrell", 10, {{underlyingKey, cause(2)}}};
    ASSERT_TRUE(error.underlyingError());
    EXPECT_EQ(error.underlyingError()->code, 2);
    EXPECT_EQ(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, cause(2)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, cause(13)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, std::shared_ptr<const NSError>()}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 11, {{underlyingKey, cause(2)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{underlyingKey, cause(2)}, {"extra", true}}}));
    EXPECT_NE((NSError{"d", 1, {{"k", 1}}}), (NSError{"d", 1, {{"k", 1.0}}}));  // same digits, other kind
}

TEST(ErrorTest, CancellationIsAStandardException) {
    EXPECT_STREQ(static_cast<const std::exception&>(CancellationError()).what(), "CancellationError");
}

}  // namespace
}  // namespace ambrell::platform

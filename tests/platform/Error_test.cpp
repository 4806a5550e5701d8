#include "platform/Error.h"

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

TEST(ErrorTest, DescriptionComesFromUserInfoOrNamesDomainAndCode) {
    NSError described{"com.corvay.Ambrell", 3, {{std::string(NSLocalizedDescriptionKey), "No venue data"}}};
    EXPECT_EQ(described.localizedDescription(), "No venue data");

    const NSError bare{"com.corvay.Ambrell", -7, {}};
    EXPECT_EQ(bare.localizedDescription(), "The operation couldn\u2019t be completed. (com.corvay.Ambrell error -7.)");

    // A description of the wrong kind is not a description.
    const NSError numeric{"d", 1, {{std::string(NSLocalizedDescriptionKey), std::int64_t{5}}}};
    EXPECT_EQ(numeric.localizedDescription(), "The operation couldn\u2019t be completed. (d error 1.)");
}

TEST(ErrorTest, TypedLookupsRefuseOtherKinds) {
    const NSError error{"d", 1, {{"text", "value"}, {"count", 42}, {"ratio", 0.5}, {"flag", true}}};
    EXPECT_EQ(error.stringForKey("text"), "value");
    EXPECT_EQ(error.integerForKey("count"), 42);
    EXPECT_EQ(error.stringForKey("count"), std::nullopt);
    EXPECT_EQ(error.integerForKey("ratio"), std::nullopt);
    EXPECT_EQ(error.integerForKey("flag"), std::nullopt);
    EXPECT_EQ(error.stringForKey("missing"), std::nullopt);
    EXPECT_EQ(error.underlyingError(), nullptr);
}

TEST(ErrorTest, UnderlyingErrorsChainAndCompareByValue) {
    auto cause = std::make_shared<const NSError>(NSError{"NSPOSIXErrorDomain", 2, {}});
    const NSError error{"com.corvay.Ambrell", 10, {{std::string(NSUnderlyingErrorKey), cause}}};
    ASSERT_NE(error.underlyingError(), nullptr);
    EXPECT_EQ(error.underlyingError()->code, 2);

    const NSError sameContents{"com.corvay.Ambrell", 10,
                               {{std::string(NSUnderlyingErrorKey), std::make_shared<const NSError>(*cause)}}};
    EXPECT_EQ(error, sameContents);

    const NSError otherCause{"com.corvay.Ambrell", 10,
                             {{std::string(NSUnderlyingErrorKey), std::make_shared<const NSError>(NSError{"NSPOSIXErrorDomain", 13, {}})}}};
    EXPECT_NE(error, otherCause);

    const NSError nullCause{"com.corvay.Ambrell", 10, {{std::string(NSUnderlyingErrorKey), std::shared_ptr<const NSError>()}}};
    EXPECT_NE(error, nullCause);
    EXPECT_EQ(nullCause, nullCause);
    EXPECT_EQ(nullCause.underlyingError(), nullptr);
}

TEST(ErrorTest, EqualityLooksAtEveryPart) {
    const NSError base{"d", 1, {{"k", "v"}}};
    EXPECT_EQ(base, (NSError{"d", 1, {{"k", "v"}}}));
    EXPECT_NE(base, (NSError{"e", 1, {{"k", "v"}}}));
    EXPECT_NE(base, (NSError{"d", 2, {{"k", "v"}}}));
    EXPECT_NE(base, (NSError{"d", 1, {{"k", "w"}}}));
    EXPECT_NE(base, (NSError{"d", 1, {{"j", "v"}}}));
    EXPECT_NE(base, (NSError{"d", 1, {{"k", "v"}, {"l", "v"}}}));
    // Same digits, different kinds.
    EXPECT_NE((NSError{"d", 1, {{"k", 1}}}), (NSError{"d", 1, {{"k", 1.0}}}));
}

TEST(ErrorCancellationTest, IsCaughtAsAStandardException) {
    try {
        throw CancellationError();
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "CancellationError");
    }
}

}  // namespace
}  // namespace ambrell::platform

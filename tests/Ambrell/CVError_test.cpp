#include "Ambrell/CVError.h"

#include <gtest/gtest.h>

#include <string>

namespace ambrell {
namespace {

struct RawCase {
    int rawValue;
    CVErrorCase errorCase;
    const char* name;
};

class CVErrorRawValueTest : public ::testing::TestWithParam<RawCase> {};

// Hosts match on the raw values, so they are fixed.
TEST_P(CVErrorRawValueTest, RoundTripsThroughItsRawValue) {
    const auto& param = GetParam();
    const auto error = CVError::fromRawValue(param.rawValue);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, param.errorCase);
    EXPECT_EQ(error->rawValue(), param.rawValue);
    EXPECT_EQ(name(param.errorCase), param.name);
    EXPECT_EQ(std::string(error->what()),
              "CVError." + std::string(param.name) + " (" + std::to_string(param.rawValue) + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CVErrorRawValueTest,
    ::testing::Values(RawCase{0, CVErrorCase::invalidApiKey, "invalidApiKey"},
                      RawCase{1, CVErrorCase::missingUrl, "missingUrl"},
                      RawCase{2, CVErrorCase::routeNotFound, "routeNotFound"},
                      RawCase{3, CVErrorCase::invalidRouteQuery, "invalidRouteQuery"},
                      RawCase{4, CVErrorCase::imageNotFound, "imageNotFound"},
                      RawCase{5, CVErrorCase::subscriptionUnavailable, "subscriptionUnavailable"},
                      RawCase{6, CVErrorCase::requestFailed, "requestFailed"},
                      RawCase{7, CVErrorCase::downloadFailed, "downloadFailed"},
                      RawCase{8, CVErrorCase::categoriesUnavailable, "categoriesUnavailable"},
                      RawCase{10, CVErrorCase::dataUnavailable, "dataUnavailable"}));

TEST(CVError, UnknownRawValuesGiveNoError) {
    for (const int raw : {-1, 9, 11, 1000}) EXPECT_FALSE(CVError::fromRawValue(raw).has_value()) << raw;
}

TEST(CVError, IsCaughtAsAStandardExceptionAndKeepsItsCase) {
    try {
        throw CVError(CVErrorCase::routeNotFound);
    } catch (const std::exception& e) {
        const auto* error = dynamic_cast<const CVError*>(&e);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(*error, CVErrorCase::routeNotFound);
        EXPECT_NE(*error, CVErrorCase::invalidRouteQuery);
        EXPECT_EQ(*error, CVError(CVErrorCase::routeNotFound));
    }
}

TEST(CVError, ACaseCastFromAnUnknownValueStillDescribesItself) {
    const CVError error(static_cast<CVErrorCase>(9));
    EXPECT_STREQ(error.what(), "CVError.unknown");
    EXPECT_EQ(name(error.errorCase()), "unknown");
    EXPECT_EQ(error.rawValue(), 9);
}

}  // namespace
}  // namespace ambrell

#include <gtest/gtest.h>

#include "jsonmodel/JSONModel/JSONModelError.h"

namespace ambrell {
namespace {

struct PrependCase {
    std::optional<std::string> keyPath;
    std::string_view component;
    std::string_view expected;
};

class PrependKeyPathTest : public ::testing::TestWithParam<PrependCase> {};

TEST_P(PrependKeyPathTest, JoinsWithAPointUnlessABracketFollows) {
    auto error = JSONModelError::errorInvalidDataWithMessage("m");
    if (GetParam().keyPath) error = error.errorByPrependingKeyPathComponent(*GetParam().keyPath);
    EXPECT_EQ(error.errorByPrependingKeyPathComponent(GetParam().component).keyPath(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, PrependKeyPathTest,
                         ::testing::Values(PrependCase{std::nullopt, "a", "a"}, PrependCase{"b", "a", "a.b"},
                                           PrependCase{"[0]", "items", "items[0]"}, PrependCase{"x", "[1]", "[1].x"},
                                           PrependCase{"[2].name", "[1]", "[1][2].name"}));

TEST(JSONModelErrorTest, PrependingKeepsCodeAndUserInfoButNotTheResponse) {
    auto error = JSONModelError::errorInvalidDataWithTypeMismatch("mismatch");
    error.httpResponse = platform::HttpResponse{404, "http://x/", {}};
    error.responseData = std::vector<std::uint8_t>{'a'};
    auto prepended = error.errorByPrependingKeyPathComponent("p");
    EXPECT_EQ(prepended.domain, "JSONModelErrorDomain");
    EXPECT_EQ(prepended.code, 1);
    EXPECT_EQ(prepended.typeMismatch(), "mismatch");
    EXPECT_EQ(prepended.localizedDescription(), error.localizedDescription());
    EXPECT_FALSE(prepended.httpResponse);
    EXPECT_FALSE(prepended.responseData);
}

TEST(JSONModelErrorTest, EveryFactoryHasItsCodeAndText) {
    struct Case {
        JSONModelError error;
        std::int64_t code;
        std::string_view text;
    };
    const std::vector<std::string> missing{"a", "b"};
    for (const Case& c : {
             Case{JSONModelError::errorInvalidDataWithMessage("bad"), 1, "Invalid JSON data: bad"},
             Case{JSONModelError::errorInvalidDataWithMissingKeys(missing), 1,
                  "Invalid JSON data. Required JSON keys are missing from the input. Check the error user "
                  "information."},
             Case{JSONModelError::errorInvalidDataWithTypeMismatch("t"), 1,
                  "Invalid JSON data. The JSON type mismatches the expected type. Check the error user information."},
             Case{JSONModelError::errorBadResponse(), 2, "Bad network response. Probably the JSON URL is unreachable."},
             Case{JSONModelError::errorBadJSON(), 3, "Malformed JSON. Check the JSONModel data input."},
             Case{JSONModelError::errorModelIsInvalid(), 4,
                  "Model does not validate. The custom validation for the input data failed."},
             Case{JSONModelError::errorInputIsNil(), 5, "Initializing model with nil input object."},
         }) {
        EXPECT_EQ(c.error.domain, "JSONModelErrorDomain");
        EXPECT_EQ(c.error.code, c.code);
        EXPECT_EQ(c.error.localizedDescription(), c.text);
    }
    auto withKeys = JSONModelError::errorInvalidDataWithMissingKeys(missing);
    EXPECT_EQ(withKeys.stringForKey("kJSONModelMissingKeys"), "a, b");
    EXPECT_EQ(withKeys.missingKeys(), missing);
}

}  // namespace
}  // namespace ambrell

#include "platform/http/HttpTypes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ambrell::platform {
namespace {

TEST(HttpHeaders, AddingUnderAnExistingNameAppendsASecondField) {
    HttpHeaders headers;
    headers.add("Authorization", "Bearer token");
    headers.add("X-Other", "1");
    headers.add("authorization", "Basic abc");

    EXPECT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers.value("AUTHORIZATION"), "Bearer token");
    EXPECT_EQ(headers.values("Authorization"), (std::vector<std::string>{"Bearer token", "Basic abc"}));
    EXPECT_EQ(headers.joinedValue("authorization"), "Bearer token, Basic abc");
    const std::vector<HttpHeaderField> inOrder(headers.begin(), headers.end());
    EXPECT_EQ(inOrder, (std::vector<HttpHeaderField>{
                           {"Authorization", "Bearer token"}, {"X-Other", "1"}, {"authorization", "Basic abc"}}));
}

TEST(HttpHeaders, MissingNamesHaveNoValue) {
    const HttpHeaders headers{{"A", "1"}};
    EXPECT_FALSE(headers.contains("B"));
    EXPECT_EQ(headers.value("B"), std::nullopt);
    EXPECT_TRUE(headers.values("B").empty());
    EXPECT_EQ(headers.joinedValue("B"), std::nullopt);
}

TEST(HttpHeaders, SetReplacesEveryFieldOfTheNameAndRemoveDropsThem) {
    HttpHeaders headers{{"Accept", "a"}, {"X", "1"}, {"accept", "b"}};
    headers.set("ACCEPT", "c");
    EXPECT_EQ(headers.values("Accept"), std::vector<std::string>{"c"});
    EXPECT_EQ(headers.size(), 2u);
    headers.remove("x");
    EXPECT_EQ(headers.size(), 1u);
}

TEST(HttpHeaders, Description) {
    struct Case {
        HttpHeaders headers;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{}, "{}"},
        {{{"Ambrell-SDK-Version", "IOS/1.2.3"}}, R"({"Ambrell-SDK-Version": "IOS/1.2.3"})"},
        {{{"B", "2"}, {"A", ""}, {"B", "3"}}, R"({"B": "2", "A": "", "B": "3"})"},
        {{{"Quote", "say \"hi\"\\"}}, R"({"Quote": "say \"hi\"\\"})"},
        {{{"Control", "a\tb\nc\x01"}}, R"({"Control": "a\tb\nc\u0001"})"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.headers.description(), c.expected);
}

TEST(HttpRequest, DefaultsToAGetWithASixtySecondInactivityTimeout) {
    const HttpRequest request;
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.timeout, std::chrono::seconds(60));
    EXPECT_FALSE(request.body);
    EXPECT_FALSE(request.bodyFile);
}

}  // namespace
}  // namespace ambrell::platform

#include "foundation/CVBackendDetails.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include <string>
#include <string_view>

#include "platform/NSErrorException.h"

namespace ambrell {
namespace {

std::shared_ptr<CVBackendDetails> decode(std::string_view json) {
    return CVBackendDetails::fromJSONDictionary(boost::json::parse(json).as_object());
}

TEST(CVBackendDetails, EmptyObjectGivesTheDefaults) {
    const auto details = decode("{}");
    EXPECT_EQ(details->authIssuer(), "");
    EXPECT_EQ(details->authScope(), "client-apis");
    EXPECT_FALSE(details->isAuthRequired());
    EXPECT_TRUE(details->authClients().empty());
    EXPECT_EQ(details->sessionToken(), "");
}

TEST(CVBackendDetails, TokenAndAuthRequiredAlone) {
    const auto details = decode(R"({"sessionToken": "tok-1", "authRequired": true})");
    EXPECT_EQ(details->sessionToken(), "tok-1");
    EXPECT_TRUE(details->isAuthRequired());
    EXPECT_EQ(details->authIssuer(), "");
    EXPECT_TRUE(details->authClients().empty());
}

TEST(CVBackendDetails, DecodesEveryFieldAndIgnoresUnknownKeys) {
    const auto details = decode(R"({
        "sessionToken": "tok", "authRequired": false, "authIssuer": "https://id.example/",
        "authScope": "everything", "extra": [1, 2],
        "authClients": [
            {"clientId": "web", "preferredIDPs": ["google", "azure"], "name": "ignored"},
            {"clientId": "kiosk", "preferredIDPs": []}
        ]})");
    EXPECT_EQ(details->authIssuer(), "https://id.example/");
    // The scope is the library's, whatever the backend sends.
    EXPECT_EQ(details->authScope(), "client-apis");
    const auto clients = details->authClients();
    ASSERT_EQ(clients.size(), 2U);
    EXPECT_EQ(clients[0]->clientID(), "web");
    EXPECT_EQ(clients[0]->preferredIDPS(), (std::vector<std::string>{"google", "azure"}));
    EXPECT_EQ(clients[1]->clientID(), "kiosk");
    EXPECT_TRUE(clients[1]->preferredIDPS().empty());
}

TEST(CVBackendDetails, NullCountsAsAbsent) {
    const auto details =
        decode(R"({"authIssuer": null, "authRequired": null, "authClients": null, "sessionToken": null})");
    EXPECT_EQ(details->authIssuer(), "");
    EXPECT_FALSE(details->isAuthRequired());
    EXPECT_TRUE(details->authClients().empty());
    EXPECT_EQ(details->sessionToken(), "");
}

struct Refused {
    std::string_view json;
    std::int64_t code;
    std::string_view path;
};

class CVBackendDetailsRefusedTest : public ::testing::TestWithParam<Refused> {};

TEST_P(CVBackendDetailsRefusedTest, FailsWithTheDecodingError) {
    try {
        (void)decode(GetParam().json);
        FAIL() << "decoded " << GetParam().json;
    } catch (const platform::NSErrorException& e) {
        EXPECT_EQ(e.error().domain, "NSCocoaErrorDomain");
        EXPECT_EQ(e.error().code, GetParam().code);
        EXPECT_NE(e.error().localizedDescription().find(GetParam().path), std::string::npos)
            << e.error().localizedDescription();
    }
}

constexpr std::int64_t kMissing = 4865;
constexpr std::int64_t kWrongType = 4864;

INSTANTIATE_TEST_SUITE_P(
    Documents, CVBackendDetailsRefusedTest,
    ::testing::Values(
        Refused{R"({"authClients": [{"clientId": "c"}]})", kMissing, "\"authClients[0].preferredIDPs\""},
        Refused{R"({"authClients": [{"preferredIDPs": []}]})", kMissing, "\"authClients[0].clientId\""},
        Refused{R"({"authClients": [{"clientId": null, "preferredIDPs": []}]})", kMissing, "clientId"},
        Refused{R"({"authClients": [{"clientId": "a", "preferredIDPs": []}, null]})", kMissing, "authClients[1]"},
        Refused{R"({"authClients": [{"clientId": "c", "preferredIDPs": ["a", null]}]})", kMissing,
                "preferredIDPs[1]"},
        Refused{R"({"authIssuer": 1})", kWrongType, "\"authIssuer\" should be a string, not a number"},
        Refused{R"({"authRequired": "true"})", kWrongType, "\"authRequired\" should be a Boolean, not a string"},
        Refused{R"({"authRequired": 1})", kWrongType, "authRequired"},
        Refused{R"({"sessionToken": true})", kWrongType, "sessionToken"},
        Refused{R"({"authClients": {}})", kWrongType, "\"authClients\" should be an array, not an object"},
        Refused{R"({"authClients": ["web"]})", kWrongType, "\"authClients[0]\" should be an object"},
        Refused{R"({"authClients": [{"clientId": 7, "preferredIDPs": []}]})", kWrongType, "clientId"},
        Refused{R"({"authClients": [{"clientId": "c", "preferredIDPs": "google"}]})", kWrongType,
                "preferredIDPs"},
        Refused{R"({"authClients": [{"clientId": "c", "preferredIDPs": [1]}]})", kWrongType,
                "preferredIDPs[0]"}));

}  // namespace
}  // namespace ambrell

#include "foundation/CVBackendDetails.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "platform/NSErrorException.h"

namespace ambrell {
namespace {

std::shared_ptr<CVBackendDetails> decode(std::string_view json) {
    return CVBackendDetails::fromJSONDictionary(boost::json::parse(json).as_object());
}

TEST(CVBackendDetails, AbsentOrNullFieldsGiveTheDefaults) {
    const std::tuple<std::string_view, std::string, bool> cases[] = {
        {"{}", "", false},
        {R"({"sessionToken": "tok-1", "authRequired": true})", "tok-1", true},
        {R"({"authIssuer": null, "authRequired": null, "authClients": null, "sessionToken": null})", "", false},
    };
    for (const auto& [json, token, required] : cases) {
        const auto details = decode(json);
        EXPECT_EQ(details->sessionToken(), token) << json;
        EXPECT_EQ(details->isAuthRequired(), required) << json;
        EXPECT_EQ(details->authIssuer(), "") << json;
        EXPECT_EQ(details->authScope(), "client-apis") << json;
        EXPECT_TRUE(details->authClients().empty()) << json;
    }
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

TEST(CVBackendDetails, RefusedDocumentsFailWithTheDecodingError) {
    constexpr std::int64_t kMissing = 4865;
    constexpr std::int64_t kWrongType = 4864;
    const std::tuple<std::string_view, std::int64_t, std::string_view> cases[] = {
        {R"({"authClients": [{"clientId": "c"}]})", kMissing, "\"authClients[0].preferredIDPs\""},
        {R"({"authClients": [{"preferredIDPs": []}]})", kMissing, "\"authClients[0].clientId\""},
        {R"({"authClients": [{"clientId": null, "preferredIDPs": []}]})", kMissing, "clientId"},
        {R"({"authClients": [{"clientId": "a", "preferredIDPs": []}, null]})", kMissing, "authClients[1]"},
        {R"({"authClients": [{"clientId": "c", "preferredIDPs": ["a", null]}]})", kMissing, "preferredIDPs[1]"},
        {R"({"authIssuer": 1})", kWrongType, "\"authIssuer\" should be a string, not a number"},
        {R"({"authRequired": "true"})", kWrongType, "\"authRequired\" should be a Boolean, not a string"},
        {R"({"authRequired": 1})", kWrongType, "authRequired"},
        {R"({"sessionToken": true})", kWrongType, "sessionToken"},
        {R"({"authClients": {}})", kWrongType, "\"authClients\" should be an array, not an object"},
        {R"({"authClients": ["web"]})", kWrongType, "\"authClients[0]\" should be an object"},
        {R"({"authClients": [{"clientId": 7, "preferredIDPs": []}]})", kWrongType, "clientId"},
        {R"({"authClients": [{"clientId": "c", "preferredIDPs": "google"}]})", kWrongType, "preferredIDPs"},
        {R"({"authClients": [{"clientId": "c", "preferredIDPs": [1]}]})", kWrongType, "preferredIDPs[0]"},
    };
    for (const auto& [json, code, path] : cases) {
        try {
            (void)decode(json);
            ADD_FAILURE() << "decoded " << json;
        } catch (const platform::NSErrorException& e) {
            EXPECT_EQ(e.error().domain, "NSCocoaErrorDomain") << json;
            EXPECT_EQ(e.error().code, code) << json;
            EXPECT_NE(e.error().localizedDescription().find(path), std::string::npos)
                << e.error().localizedDescription();
        }
    }
}

}  // namespace
}  // namespace ambrell

#include "foundation/CVAXAPISessionManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "foundation/CVDataProvider.h"
#include "platform/NSErrorException.h"
#include "platform/UUID.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using namespace std::chrono_literals;
using Response = test::LoopbackWebService::Response;

constexpr const char* kGateway = "/solution-key/api";

class SessionRefreshTest : public test::WebServiceFixture {
protected:
    // Refreshes and waits for the completion, which must run once, on the main queue.
    void refresh() {
        std::promise<bool> done;
        settings()->refreshSessionWithCompletion(
            [&done] { done.set_value(platform::MainQueue::shared().isCurrent()); });
        auto finished = done.get_future();
        ASSERT_EQ(finished.wait_for(10s), std::future_status::ready);
        EXPECT_TRUE(finished.get());
    }

    static bool isLocalToken(const std::optional<std::string>& token) {
        return token && platform::UUID::fromString(*token) && *token == platform::UUID::fromString(*token)->uuidString();
    }
};

TEST_F(SessionRefreshTest, StoresTheGatewayTokenAndBackendDetails) {
    service.respond(kGateway, {200, R"({"sessionToken":"gw-token","authRequired":true})", {}});
    refresh();

    EXPECT_EQ(settings()->sessionToken(), "gw-token");
    EXPECT_FALSE(settings()->sessionTokenRefreshError());
    const auto details = settings()->authDetails();
    ASSERT_TRUE(details);
    EXPECT_TRUE(details->isAuthRequired());
    EXPECT_EQ(details->authIssuer(), "");
    EXPECT_TRUE(details->authClients().empty());
    EXPECT_EQ(details->authScope(), "client-apis");

    // The gateway itself never waits for a token.
    const auto request = service.lastRequest(kGateway);
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->header("Ambrell-Session-Token"));
    EXPECT_TRUE(logs.sink().contains("Acquired sessionToken gw-token, error = (null)"));
}

struct Authorisation {
    std::string_view name;
    std::string gatewayAnswer;
    std::optional<std::string> accessToken;
    bool authorised;
};

class AuthorisationTest : public SessionRefreshTest, public ::testing::WithParamInterface<Authorisation> {};

TEST_P(AuthorisationTest, NeedsAnAccessTokenOnlyWhenTheBackendRequiresOne) {
    service.respond(kGateway, {200, GetParam().gatewayAnswer, {}});
    refresh();
    settings()->setAccessToken(GetParam().accessToken);
    EXPECT_EQ(settings()->isAuthorised(), GetParam().authorised);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AuthorisationTest,
    ::testing::Values(Authorisation{"noDetails", "not json", std::nullopt, true},
                      Authorisation{"notRequired", R"({"authRequired": false})", std::nullopt, true},
                      Authorisation{"requiredNoToken", R"({"authRequired": true})", std::nullopt, false},
                      Authorisation{"requiredEmptyToken", R"({"authRequired": true})", "", false},
                      Authorisation{"requiredToken", R"({"authRequired": true})", "jwt", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionRefreshTest, UndecodableDetailsGiveALocalTokenWithoutError) {
    service.respond(kGateway, {200, R"({"sessionToken":"t","authClients":[{"clientId":"c"}]})", {}});
    refresh();
    EXPECT_FALSE(settings()->authDetails());
    EXPECT_FALSE(settings()->sessionTokenRefreshError());
    EXPECT_TRUE(isLocalToken(settings()->sessionToken()));
    EXPECT_TRUE(logs.sink().contains("[W] Generating session token"));
}

TEST_F(SessionRefreshTest, MalformedJsonIsTheRefreshError) {
    service.respond(kGateway, {200, R"({"sessionToken":)", {}});
    refresh();
    const auto error = settings()->sessionTokenRefreshError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSCocoaErrorDomain");
    EXPECT_TRUE(isLocalToken(settings()->sessionToken()));
    EXPECT_TRUE(settings()->apiKeyValid());
}

TEST_F(SessionRefreshTest, ARejectedKeyIsMarkedInvalidAndKeepsTheToken) {
    settings()->setSessionToken("earlier");
    service.respond(kGateway, {403, "", {}});
    refresh();
    const auto error = settings()->sessionTokenRefreshError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, CVAXAPISessionManager::kInvalidApiKeyErrorCode);
    EXPECT_FALSE(settings()->apiKeyValid());
    EXPECT_EQ(settings()->sessionToken(), "earlier");

    // A later accepted refresh makes the key valid again.
    service.respond(kGateway, {200, R"({"sessionToken":"fresh"})", {}});
    refresh();
    EXPECT_TRUE(settings()->apiKeyValid());
    EXPECT_EQ(settings()->sessionToken(), "fresh");
}

TEST_F(SessionRefreshTest, ANetworkFailureForAValidKeyGivesALocalToken) {
    service.dropConnection(kGateway);
    refresh();
    const auto error = settings()->sessionTokenRefreshError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSURLErrorDomain");
    EXPECT_TRUE(settings()->apiKeyValid());
    EXPECT_TRUE(isLocalToken(settings()->sessionToken()));
    EXPECT_TRUE(logs.sink().contains("ERR Error Domain=NSURLErrorDomain"));
}

TEST_F(SessionRefreshTest, RequestsWaitingForATokenGoOnAfterTheRefresh) {
    service.respond(kGateway, {200, R"({"sessionToken":"gw-token"})", {}});
    service.serveBody("/content", "{}");
    settings()->setSessionToken(std::nullopt);
    auto waiting = test::startTask(CVDataProvider::data(service.url("/content"), std::nullopt, std::nullopt));
    refresh();
    auto outcome = waiting.result();
    ASSERT_TRUE(outcome && outcome->hasValue());
    EXPECT_EQ(service.lastRequest("/content")->header("Ambrell-Session-Token"), "gw-token");
}

TEST_F(SessionRefreshTest, RequestsWaitingForATokenFailWithTheRefreshError) {
    service.respond(kGateway, {403, "", {}});
    settings()->setSessionToken(std::nullopt);
    auto waiting = test::startTask(CVDataProvider::data(service.url("/content"), std::nullopt, std::nullopt));
    refresh();
    EXPECT_TRUE(test::failedWith<platform::NSErrorException>(waiting.result()));
    EXPECT_TRUE(service.requestsTo("/content").empty());
}

TEST_F(SessionRefreshTest, ASecondRefreshReplacesTheFirstCompletion) {
    service.respond(kGateway, {200, R"({"sessionToken":"t"})", {}});
    service.delay(kGateway, 100ms);
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    settings()->refreshSessionWithCompletion([&] { ++first; });
    settings()->refreshSessionWithCompletion([&] { ++second; });
    ASSERT_TRUE(service.waitForRequests(2));
    ASSERT_TRUE(test::waitFor([&] { return second == 1; }));
    // Let the second answer arrive too: it finds no completion left.
    ASSERT_TRUE(test::waitFor([&] {
        return logs.sink().messages().size() >= 2 && [&] {
            int acquired = 0;
            for (const auto& entry : logs.sink().messages()) {
                if (entry.message.rfind("Acquired sessionToken", 0) == 0) ++acquired;
            }
            return acquired == 2;
        }();
    }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace ambrell

#include "foundation/CVAXAPISessionManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <tuple>

#include "foundation/CVDataProvider.h"
#include "platform/NSErrorException.h"
#include "platform/UUID.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using namespace std::chrono_literals;

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
        const auto uuid = token ? platform::UUID::fromString(*token) : std::nullopt;
        return uuid && *token == uuid->uuidString();
    }
};

TEST_F(SessionRefreshTest, StoresTheGatewayTokenAndDetailsAndARejectionMarksTheKeyInvalidUntilTheNext) {
    service_.respond(kGateway, {200, R"({"sessionToken":"gw-token","authRequired":true})", {}});
    refresh();
    EXPECT_EQ(settings()->sessionToken(), "gw-token");
    EXPECT_FALSE(settings()->sessionTokenRefreshError());
    const auto details = settings()->authDetails();
    ASSERT_TRUE(details);
    EXPECT_TRUE(details->isAuthRequired());
    // The gateway itself never waits for a token.
    EXPECT_FALSE(service_.lastRequest(kGateway)->header("Ambrell-Session-Token"));
    EXPECT_TRUE(logs_.sink().contains("Acquired sessionToken gw-token, error = (null)"));

    service_.respond(kGateway, {403, "", {}});
    refresh();
    const auto error = settings()->sessionTokenRefreshError();
    ASSERT_TRUE(error);
    EXPECT_EQ(std::tie(error->domain, error->code), std::tuple("com.corvay.Ambrell", 101500));
    EXPECT_FALSE(settings()->apiKeyValid());
    EXPECT_EQ(settings()->sessionToken(), "gw-token");

    service_.respond(kGateway, {200, R"({"sessionToken":"fresh"})", {}});
    refresh();
    EXPECT_TRUE(settings()->apiKeyValid());
    EXPECT_EQ(settings()->sessionToken(), "fresh");
}

TEST_F(SessionRefreshTest, NeedsAnAccessTokenOnlyWhenTheBackendRequiresOne) {
    const std::tuple<std::string, std::optional<std::string>, bool> cases[] = {
        {"not json", std::nullopt, true},  // no details
        {R"({"authRequired": false})", std::nullopt, true},
        {R"({"authRequired": true})", std::nullopt, false},
        {R"({"authRequired": true})", "", false},
        {R"({"authRequired": true})", "jwt", true},
    };
    for (const auto& [answer, accessToken, authorised] : cases) {
        service_.respond(kGateway, {200, answer, {}});
        refresh();
        settings()->setAccessToken(accessToken);
        EXPECT_EQ(settings()->isAuthorised(), authorised) << answer << " " << accessToken.value_or("none");
    }
}

// Undecodable details give no error; malformed JSON and a network failure are the refresh error.
TEST_F(SessionRefreshTest, WithoutAGatewayTokenAValidKeyGetsALocalOne) {
    const std::tuple<std::optional<std::string>, std::optional<std::string>, std::string> cases[] = {
        {R"({"sessionToken":"t","authClients":[{"clientId":"c"}]})", std::nullopt, "[W] Generating session token"},
        {R"({"sessionToken":)", "NSCocoaErrorDomain", ""},
        {std::nullopt, "NSURLErrorDomain", "ERR Error Domain=NSURLErrorDomain"},
    };
    for (const auto& [answer, errorDomain, logged] : cases) {
        SCOPED_TRACE(answer.value_or("dropped"));
        if (answer) {
            service_.respond(kGateway, {200, *answer, {}});
        } else {
            service_.dropConnection(kGateway);
        }
        refresh();
        const auto error = settings()->sessionTokenRefreshError();
        EXPECT_EQ(error ? std::optional(error->domain) : std::nullopt, errorDomain);
        EXPECT_FALSE(settings()->authDetails());
        EXPECT_TRUE(isLocalToken(settings()->sessionToken()));
        EXPECT_TRUE(settings()->apiKeyValid());
        EXPECT_TRUE(logs_.sink().contains(logged));
    }
}

TEST_F(SessionRefreshTest, RequestsWaitingForATokenGoOnAfterTheRefreshOrFailWithItsError) {
    service_.serveBody("/content", "{}");
    const auto waitingRequest = [&] {
        settings()->setSessionToken(std::nullopt);
        return test::startTask(CVDataProvider::data(service_.url("/content"), std::nullopt, std::nullopt));
    };
    service_.respond(kGateway, {200, R"({"sessionToken":"gw-token"})", {}});
    auto waiting = waitingRequest();
    refresh();
    auto outcome = waiting.result();
    ASSERT_TRUE(outcome && outcome->hasValue());
    EXPECT_EQ(service_.lastRequest("/content")->header("Ambrell-Session-Token"), "gw-token");

    service_.respond(kGateway, {403, "", {}});
    auto failing = waitingRequest();
    refresh();
    EXPECT_TRUE(test::failedWith<platform::NSErrorException>(failing.result()));
    EXPECT_EQ(service_.requestsTo("/content").size(), 1u);
}

TEST_F(SessionRefreshTest, ASecondRefreshReplacesTheFirstCompletion) {
    service_.respond(kGateway, {200, R"({"sessionToken":"t"})", {}});
    service_.delay(kGateway, 100ms);
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    settings()->refreshSessionWithCompletion([&] { ++first; });
    settings()->refreshSessionWithCompletion([&] { ++second; });
    ASSERT_TRUE(service_.waitForRequests(2));
    ASSERT_TRUE(test::waitFor([&] { return second == 1; }));
    // Let the second answer arrive too: it finds no completion left.
    ASSERT_TRUE(test::waitFor([&] {
        const auto lines = logs_.sink().messages();
        const auto acquired = [](const auto& e) { return e.message.starts_with("Acquired sessionToken"); };
        return std::ranges::count_if(lines, acquired) == 2;
    }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace ambrell

#include "foundation/CVAXAPISessionManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

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

// Whoever starts a refresh is answered once, also when another refresh runs:
// a load waits for its completion with nothing else to wake it.
TEST_F(SessionRefreshTest, ConcurrentRefreshesShareOneRequestAndEachCompletionIsCalledOnce) {
    service_.respond(kGateway, {200, R"({"sessionToken":"t"})", {}});
    service_.delay(kGateway, 100ms);
    std::vector<std::atomic<int>> calls(8);
    std::vector<std::thread> callers;
    for (auto& count : calls) {
        callers.emplace_back([&count] { settings()->refreshSessionWithCompletion([&count] { ++count; }); });
    }
    for (auto& caller : callers) caller.join();
    ASSERT_TRUE(test::eachCalledOnce(calls));
    platform::MainQueue::shared().drain();
    EXPECT_TRUE(std::ranges::all_of(calls, [](const auto& count) { return count.load() == 1; }));
    EXPECT_EQ(service_.requestsTo(kGateway).size(), 1U);
    EXPECT_EQ(settings()->sessionToken(), "t");
}

// A caller of another key is not answered by the running request of the old
// one: its own request follows, and only its answer completes the caller.
TEST_F(SessionRefreshTest, ARefreshForAnotherKeyWaitsForItsOwnRequest) {
    constexpr const char* kOtherGateway = "/other-key/api";
    service_.respond(kGateway, {200, R"({"sessionToken":"old"})", {}});
    service_.respond(kOtherGateway, {200, R"({"sessionToken":"new"})", {}});
    service_.delay(kGateway, 200ms);
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    std::atomic<bool> secondSawNewToken{false};
    settings()->refreshSessionWithCompletion([&] { ++first; });
    ASSERT_TRUE(service_.waitForRequests(1));
    CVContentContext::setApiKeyReader([] { return std::optional<std::string>("other-key"); });
    settings()->refreshSessionWithCompletion([&] {
        secondSawNewToken = settings()->sessionToken() == "new";
        ++second;
    });
    ASSERT_TRUE(test::waitFor([&] { return second.load() == 1; }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(first.load(), 1);
    EXPECT_TRUE(secondSawNewToken.load());
    EXPECT_EQ(service_.requestsTo(kGateway).size(), 1U);
    EXPECT_EQ(service_.requestsTo(kOtherGateway).size(), 1U);
}

}  // namespace
}  // namespace ambrell

#include <exception>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "Ambrell/CVError.h"
#include "Ambrell/ErrorObjects.h"
#include "livedata/CVLiveDataService.h"
#include "tests/foundation/WebServiceFixture.h"

namespace ambrell {
namespace {

// The live-data API's paths under the loopback service's "/api".
class CVLiveDataServiceTest : public test::WebServiceFixture {
protected:
    CVLiveDataServiceTest() {
        settings()->setSessionToken("session-1");
        CVLiveDataEndpoints::setApiBaseForTesting(service_.url("/api"));
    }
    ~CVLiveDataServiceTest() override { CVLiveDataEndpoints::setApiBaseForTesting(std::nullopt); }

    // The domain types joined by ",", or the failure as "error <domain> <code>".
    std::string fetch(const std::string& dataSetId) {
        return run([](std::shared_ptr<CVLiveDataService> service, std::string id) -> platform::Awaitable<std::string> {
            std::string outcome;
            std::exception_ptr failure;
            try {
                const auto info = co_await service->liveDataInfo(id);
                outcome = "types";
                for (const auto& type : info.domainTypes()) outcome += " " + type;
            } catch (...) {
                failure = std::current_exception();
            }
            if (failure) {
                const auto error = errorObjectFor(failure);
                outcome = "error " + error.domain + " " + std::to_string(error.code);
            }
            co_return outcome;
        }(service, dataSetId));
    }

    std::shared_ptr<CVLiveDataService> service = std::make_shared<CVLiveDataService>();
};

TEST_F(CVLiveDataServiceTest, AsksForTheDataSetAsOnePathSegmentWithTheSdkHeaders) {
    service_.serveBody("/api/livedata/details/data set/../x", R"({"domainTypes": ["occupancy", "count"], "more": 1})");
    EXPECT_EQ(fetch("data set/../x"), "types occupancy count");
    const auto requests = service_.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].target, "/api/livedata/details/data%20set%2F..%2Fx");
    EXPECT_EQ(requests[0].header("Ambrell-Session-Token"), "session-1");
    EXPECT_TRUE(requests[0].header("Ambrell-SDK-Version"));

    // A dot segment stays a segment of its own.
    service_.serveBody("/api/livedata/details/..", R"({"domainTypes": []})");
    EXPECT_EQ(fetch(".."), "types");
    EXPECT_EQ(service_.requests().back().target, "/api/livedata/details/%2E%2E");
}

TEST_F(CVLiveDataServiceTest, WaitsForTheSessionToken) {
    settings()->setSessionToken(std::nullopt);
    service_.serveBody("/api/livedata/details/ds", R"({"domainTypes": ["position"]})");
    std::string outcome;
    std::thread fetching([&] { outcome = fetch("ds"); });
    EXPECT_FALSE(service_.waitForRequests(1, std::chrono::milliseconds(200)));
    settings()->setSessionToken("late-token");
    fetching.join();
    EXPECT_EQ(outcome, "types position");
    EXPECT_EQ(service_.requests().at(0).header("Ambrell-Session-Token"), "late-token");
}

TEST_F(CVLiveDataServiceTest, BodiesAndStatusesThatGiveNoDetails) {
    struct Case {
        int status;
        std::string body;
        std::string outcome;
    };
    const std::vector<Case> cases = {
        {200, R"({"domainTypes": []})", "types"},
        {200, "{}", "error NSCocoaErrorDomain 4865"},
        {200, "", "error NSCocoaErrorDomain 3840"},
        {200, "[\"occupancy\"]", "error NSCocoaErrorDomain 4865"},
        {200, R"({"domainTypes": "occupancy"})", "error NSCocoaErrorDomain 4865"},
        {200, R"({"domainTypes": [1]})", "error NSCocoaErrorDomain 4865"},
        {200, "{\"domainTypes\": [", "error NSCocoaErrorDomain 3840"},
        {403, "", "error Ambrell.CVError 0"},
        {500, "", "error Ambrell.CVError 6"},
    };
    for (const auto& test : cases) {
        service_.respond("/api/livedata/details/ds", {test.status, test.body, {}});
        EXPECT_EQ(fetch("ds"), test.outcome) << test.status << " " << test.body;
    }
}

TEST_F(CVLiveDataServiceTest, AnEmptyNoContentAnswerIsStillABodyThatDoesNotDecode) {
    service_.respond("/api/livedata/details/ds", {204, "", {}});
    EXPECT_EQ(fetch("ds"), "error NSCocoaErrorDomain 3840");
}

TEST_F(CVLiveDataServiceTest, TheRealBaseIsTheSettingsLiveDataHost) {
    CVLiveDataEndpoints::setApiBaseForTesting(std::nullopt);
    EXPECT_EQ(CVLiveDataEndpoints::detailsUrl("a/b"), settings()->liveDataUrl("livedata/details", "a/b"));
    EXPECT_EQ(CVLiveDataEndpoints::stateUrl("x%2By"), settings()->liveDataStateUrl("x%2By"));
    CVLiveDataEndpoints::setApiBaseForTesting(service_.url("/api"));
    EXPECT_EQ(CVLiveDataEndpoints::stateUrl("x%2By"), service_.url("/api/state?topic=x%2By"));
}

}  // namespace
}  // namespace ambrell

#include "foundation/CVDataProvider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <atomic>

#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/SdkVersion.h"
#include "platform/FileSystem.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/JsonEq.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using namespace std::chrono_literals;
using platform::Awaitable;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Clock = std::chrono::system_clock;
using Headers = CVDataProvider::Headers;
using Text = std::optional<std::string>;
const auto kLastModified = Clock::from_time_t(784111777);
constexpr const char* kLastModifiedText = "Sun, 06 Nov 1994 08:49:37 GMT";
constexpr const char* kEpochText = "Thu, 01 Jan 1970 00:00:00 GMT";
constexpr const char* kInvalidApiKey = "CVError.invalidApiKey (0)";
constexpr const char* kRequestFailed = "CVError.requestFailed (6)";

class CVDataProviderTest : public test::WebServiceFixture {
protected:
    CVDataProviderTest() { settings()->setSessionToken("session-1"); }

    Awaitable<CVDataProvider::DataResult> get(const std::string& route, std::optional<Headers> headers = {},
                                              bool waitForToken = true) {
        return CVDataProvider::data(service_.url(route), std::nullopt, std::move(headers), waitForToken);
    }
    Awaitable<CVDataProvider::FileResult> download(const std::string& route, Text ifModifiedSince = {}) {
        return CVDataProvider::downloadContents(service_.url(route), target(), std::move(ifModifiedSince));
    }
    Text sent(const std::string& route, const std::string& header) const {
        return service_.lastRequest(route)->header(header);
    }

    // What the work fails with, "" when it succeeds. Read on the working task, where the error object lives:
    // ThreadSanitizer cannot see the reference count that orders a read here before its release there.
    template <typename T>
    static std::string failure(Awaitable<T> work) {
        return run([](Awaitable<T> work) -> Awaitable<std::string> {
            std::string what;
            try {
                co_await std::move(work);
            } catch (const std::exception& error) {
                what = error.what();
            }
            co_return what;
        }(std::move(work)));
    }

    void writeTarget(std::string_view text) const {
        std::filesystem::create_directories(target().parent_path());
        platform::writeFileAtomically(target(), text);
    }
    // The target alone: no temporary file is left beside it.
    std::ptrdiff_t filesBesideTarget() const {
        return std::distance(std::filesystem::directory_iterator(target().parent_path()), {});
    }
    std::filesystem::path target() const { return containerRoot() / "datasets" / "key" / "venues.json"; }
};

// MARK: - Headers and statuses

TEST_F(CVDataProviderTest, GetSendsTheSdkHeaders) {
    service_.serveBody("/get", "{}");
    settings()->setAccessToken("jwt");
    run(CVDataProvider::data(service_.url("/get"), kLastModifiedText,
                             Headers{{"Authorization", "caller"}, {"X-Extra", "1"}}));
    const auto request = service_.lastRequest("/get");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("Ambrell-SDK-Version"), "IOS/" + sdkVersion());
    // A caller's Authorization goes beside the bearer value, not in its place.
    EXPECT_EQ(request->headerValues("Authorization"), (std::vector<std::string>{"Bearer jwt", "caller"}));
    EXPECT_EQ(request->header("X-Extra"), "1");
    EXPECT_EQ(request->header("If-Modified-Since"), kLastModifiedText);
    EXPECT_EQ(request->header("Ambrell-Session-Token"), "session-1");

    // Without the wait an empty session token is still sent, and none is not; an empty access token is none.
    const std::pair<Text, Text> tokens[] = {{std::nullopt, ""}, {"", std::nullopt}};
    for (const auto& [accessToken, sessionToken] : tokens) {
        settings()->setAccessToken(accessToken);
        settings()->setSessionToken(sessionToken);
        run(get("/get", {}, false));
        EXPECT_FALSE(sent("/get", "Authorization"));
        EXPECT_EQ(sent("/get", "Ambrell-Session-Token"), sessionToken);
    }
}

// The shared session reads the proxy when it is built: this test builds one
// for itself, and leaves the next to be built without the proxy.
TEST_F(CVDataProviderTest, AnUnusableProxyIsReportedAndRequestsGoDirect) {
    ::setenv("AMBRELL_PROXY_HOST", "no such/host", 1);
    CVAXAPI::resetSharedForTesting();
    CVDataProvider::resetUrlSessionForTesting();
    service_.serveBody("/get", R"({"direct": true})");
    const auto result = run(get("/get", {}, false));
    ::unsetenv("AMBRELL_PROXY_HOST");
    CVAXAPI::resetSharedForTesting();
    CVDataProvider::resetUrlSessionForTesting();
    ASSERT_TRUE(result.data);
    EXPECT_EQ(std::string(result.data->begin(), result.data->end()), R"({"direct": true})");
    EXPECT_TRUE(logs_.sink().contains("Unusable HTTP proxy host \"no such/host\"; connecting without a proxy"));
}

TEST_F(CVDataProviderTest, StatusesMapToErrorsForGetAndDownloadWhichLeavesTheTargetAlone) {
    service_.respond("/not-modified", {304, "", {}});
    auto notModified = run(get("/not-modified"));
    ASSERT_TRUE(notModified.response);
    EXPECT_EQ(notModified.response->statusCode, 304);
    EXPECT_TRUE(notModified.data->empty());

    service_.respond("/forbidden", {403, "no", {}});
    service_.respond("/broken", {500, "oops", {}});
    EXPECT_EQ(failure(get("/forbidden", Headers{{"X-Probe", "p"}})), kInvalidApiKey);
    std::vector<std::string> errorLines;
    for (const auto& entry : logs_.sink().messages()) {
        if (entry.level == platform::LogLevel::error) errorLines.push_back(entry.message);
    }
    ASSERT_EQ(errorLines.size(), 1u);
    EXPECT_THAT(errorLines[0], HasSubstr("Error fetching " + service_.url("/forbidden")));
    EXPECT_THAT(errorLines[0], HasSubstr("X-Probe"));
    EXPECT_EQ(failure(get("/broken")), kRequestFailed);
    // The failing range starts exactly at 400, and only 403 means a bad key.
    service_.respond("/bad-request", {400, "bad", {}});
    service_.respond("/last-redirect-code", {399, "fine", {}});
    EXPECT_EQ(failure(get("/bad-request")), kRequestFailed);
    const auto belowTheRange = run(get("/last-redirect-code"));
    ASSERT_TRUE(belowTheRange.response);
    EXPECT_EQ(belowTheRange.response->statusCode, 399);
    ASSERT_TRUE(belowTheRange.data);
    EXPECT_EQ(std::string(belowTheRange.data->begin(), belowTheRange.data->end()), "fine");

    writeTarget("kept");
    EXPECT_EQ(failure(download("/forbidden")), kInvalidApiKey);
    EXPECT_EQ(failure(download("/broken")), kRequestFailed);
    EXPECT_EQ(platform::readTextFile(target()), "kept");
    EXPECT_EQ(filesBesideTarget(), 1);

    // Transport errors pass through and are logged.
    service_.dropConnection("/drop");
    EXPECT_THAT(failure(get("/drop")), StartsWith("NSURLErrorDomain "));
    EXPECT_TRUE(logs_.sink().contains("Error fetching " + service_.url("/drop")));
}

// MARK: - Session-token wait

TEST_F(CVDataProviderTest, RequestsWaitForTheTokenThenCarryItOrAreCancelledOrFailWithTheRefreshError) {
    service_.serveBody("/get", "{}");
    // A present token is used at once, whatever the last refresh said; a missing one ends with its error.
    settings()->setSessionTokenRefreshError(platform::NSError{"com.corvay.Ambrell", 101500, {}});
    EXPECT_EQ(failure(get("/get")), "");
    service_.clearRequests();
    settings()->setSessionToken(std::nullopt);
    EXPECT_THAT(failure(get("/get")), StartsWith("com.corvay.Ambrell 101500"));

    settings()->setSessionTokenRefreshError(std::nullopt);
    auto cancelled = test::startTask(get("/get"));
    auto waiting = test::startTask(get("/get"));
    EXPECT_FALSE(waiting.result(200ms));
    cancelled.task.cancel();
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(cancelled.result()));
    EXPECT_TRUE(service_.requests().empty());

    settings()->setSessionToken("late-token");
    auto outcome = waiting.result();
    ASSERT_TRUE(outcome && outcome->hasValue());
    EXPECT_EQ(service_.requests().size(), 1u);
    EXPECT_EQ(sent("/get", "Ambrell-Session-Token"), "late-token");
}

// MARK: - Download

TEST_F(CVDataProviderTest, DownloadStoresTheFileItsDateAndAttributesAndThenNotModifiedLeavesThem) {
    service_.serveBody("/sync/venues", R"({"venues":[]})", "application/json", kLastModified);
    service_.addResponseHeader("/sync/venues", "Content-Language", "da");
    const auto before = Clock::now() - 1s;
    auto result = run(download("/sync/venues?lr=da"));
    EXPECT_EQ(result.filePath, target());
    EXPECT_EQ(result.response->statusCode, 200);
    EXPECT_EQ(platform::readTextFile(target()), R"({"venues":[]})");
    EXPECT_EQ(platform::modificationDate(target()), kLastModified);
    EXPECT_EQ(xattr_lastModified(target()), kLastModifiedText);
    EXPECT_EQ(xattr_downloadUrl(target()), service_.url("/sync/venues?lr=da"));
    EXPECT_EQ(xattr_apiEndpoint(target()), "/sync/venues");
    EXPECT_EQ(xattr_contentLanguage(target()), "da");
    const auto storedDate = xattr_downloadDate(target());
    ASSERT_TRUE(storedDate);
    EXPECT_GE(*storedDate, before);
    EXPECT_TRUE(logs_.sink().contains("Saved file for url " + service_.url("/sync/venues?lr=da") + " at "));

    service_.serveBody("/sync/venues", "second", "application/json", kLastModified);
    result = run(download("/sync/venues"));
    EXPECT_EQ(sent("/sync/venues", "If-Modified-Since"), kLastModifiedText);
    EXPECT_EQ(result.response->statusCode, 304);
    EXPECT_EQ(result.filePath, target());
    EXPECT_EQ(platform::readTextFile(target()), R"({"venues":[]})");
    EXPECT_EQ(xattr_downloadDate(target()), storedDate);
    EXPECT_EQ(filesBesideTarget(), 1);

    // An explicit If-Modified-Since wins over the stored one.
    run(download("/sync/venues", kEpochText));
    EXPECT_EQ(sent("/sync/venues", "If-Modified-Since"), kEpochText);
}

TEST_F(CVDataProviderTest, AMissingLastModifiedStoresTheEpochAndIsSentNextTime) {
    service_.handle("/plain", [](const auto&) { return test::LoopbackWebService::Response{200, "x", {}}; });
    writeTarget("old");
    xattr_setContentLanguage(target(), "en");

    run(download("/plain"));
    EXPECT_EQ(platform::modificationDate(target()), Clock::time_point{});
    EXPECT_EQ(xattr_lastModified(target()), kEpochText);
    // An answer without a language clears the one stored before.
    EXPECT_FALSE(xattr_contentLanguage(target()));

    run(download("/plain"));
    EXPECT_EQ(sent("/plain", "If-Modified-Since"), kEpochText);
}

TEST_F(CVDataProviderTest, ADownloadThatCannotTakeThePlaceOfTheTargetFailsAndLeavesNothingBeside) {
    service_.serveBody("/sync/venues", "{}", "application/json", kLastModified);
    // A folder that holds something cannot be replaced by a file.
    std::filesystem::create_directories(target() / "inside");

    EXPECT_NE(failure(download("/sync/venues")), "");
    EXPECT_TRUE(logs_.sink().contains("Failed moving file:"));
    EXPECT_TRUE(std::filesystem::is_directory(target() / "inside"));
    EXPECT_EQ(filesBesideTarget(), 1);
}

TEST_F(CVDataProviderTest, OfflineRefusesWithoutARequestButUnknownDoesNot) {
    service_.serveBody("/sync/venues", "{}");
    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusNotReachable);
    EXPECT_EQ(failure(download("/sync/venues")), "CVError.downloadFailed (7)");
    EXPECT_TRUE(service_.requests().empty());

    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusUnknown);
    EXPECT_EQ(failure(download("/sync/venues")), "");
}

// MARK: - Upload, POST and DELETE

TEST_F(CVDataProviderTest, JsonObjectsArePostedAndDeletedAndFilesUploadedWithTheirHeaders) {
    service_.respond("/api/booking", {201, R"({"ok":true})", {}});
    const auto body = boost::json::parse(R"({"id":"b1","count":2})");
    auto posted =
        run(CVDataProvider::postJsonObject(&body, service_.url("/api/booking"), Headers{{"user-access-token", "u"}}));
    EXPECT_EQ(posted.response->statusCode, 201);
    auto request = service_.lastRequest("/api/booking");
    EXPECT_EQ(request->method, "POST");
    EXPECT_THAT(boost::json::parse(request->bodyText()), test::JsonEq(body));
    EXPECT_EQ(request->header("user-access-token"), "u");
    EXPECT_EQ(request->header("Ambrell-Session-Token"), "session-1");

    run(CVDataProvider::deleteJsonObject(nullptr, service_.url("/api/booking"), std::nullopt));
    request = service_.lastRequest("/api/booking");
    EXPECT_EQ(request->method, "DELETE");
    EXPECT_TRUE(request->body.empty());
    EXPECT_EQ(request->header("Content-Type"), "application/json");

    // A value JSON cannot carry is a serialisation error, and nothing is sent.
    service_.clearRequests();
    const boost::json::value broken = {{"x", std::numeric_limits<double>::quiet_NaN()}};
    EXPECT_THAT(failure(CVDataProvider::postJsonObject(&broken, service_.url("/api/booking"), std::nullopt)),
                StartsWith("NSCocoaErrorDomain "));
    EXPECT_TRUE(service_.requests().empty());

    // An upload neither waits for nor sends the token, and returns any status.
    settings()->setSessionToken(std::nullopt);
    const auto file = containerRoot() / "package.json";
    platform::writeFileAtomically(file, std::string_view(R"({"entries":[]})"));
    service_.respond("/api/logpackage", {500, "failed", {}});
    const auto uploaded = run(CVDataProvider::uploadContentsofFile(file, service_.url("/api/logpackage")));
    EXPECT_EQ(uploaded.response->statusCode, 500);
    request = service_.lastRequest("/api/logpackage");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->bodyText(), R"({"entries":[]})");
    EXPECT_FALSE(request->header("Ambrell-Session-Token"));
    EXPECT_EQ(request->header("Content-Type"), "application/json");
    EXPECT_EQ(request->header("Accept"), "application/json");
}

// MARK: - Completion forms

TEST_F(CVDataProviderTest, CompletionsRunOnceAndNeverOnTheMainQueue) {
    service_.serveBody("/get", "{}");
    service_.respond("/broken", {500, "", {}});
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    const auto done = [&](bool expectedArguments) {
        EXPECT_TRUE(expectedArguments);
        if (platform::MainQueue::shared().isCurrent()) onMain = true;
        ++calls;
    };
    CVDataProvider::data(service_.url("/get"), std::nullopt, std::nullopt, true,
                         [&](auto data, auto response, auto error) { done(data && response && !error); });
    CVDataProvider::downloadContents(service_.url("/broken"), target(), std::nullopt,
                                     [&](auto path, auto response, auto error) { done(!path && !response && error); });
    ASSERT_TRUE(test::waitFor([&] { return calls == 2; }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(onMain);
}

}  // namespace
}  // namespace ambrell

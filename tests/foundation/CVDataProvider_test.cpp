#include "foundation/CVDataProvider.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <atomic>
#include <future>

#include "Ambrell/CVError.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/SdkVersion.h"
#include "platform/FileSystem.h"
#include "platform/NSErrorException.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/AsyncTesting.h"

namespace ambrell {
namespace {

using namespace std::chrono_literals;
using platform::Awaitable;
using Clock = std::chrono::system_clock;
using Headers = CVDataProvider::Headers;
const auto kLastModified = Clock::from_time_t(784111777);
constexpr const char* kLastModifiedText = "Sun, 06 Nov 1994 08:49:37 GMT";
constexpr const char* kEpochText = "Thu, 01 Jan 1970 00:00:00 GMT";

class CVDataProviderTest : public test::WebServiceFixture {
protected:
    CVDataProviderTest() { settings()->setSessionToken("session-1"); }

    Awaitable<CVDataProvider::DataResult> get(const std::string& route, std::optional<Headers> headers = {},
                                              bool waitForToken = true) {
        return CVDataProvider::data(service.url(route), std::nullopt, std::move(headers), waitForToken);
    }
    Awaitable<CVDataProvider::FileResult> download(const std::string& route,
                                                   std::optional<std::string> ifModifiedSince = {}) {
        return CVDataProvider::downloadContents(service.url(route), target(), std::move(ifModifiedSince));
    }
    std::optional<std::string> sent(const std::string& route, const std::string& header) const {
        return service.lastRequest(route)->header(header);
    }

    // Whether the work fails with an error of that type that passes the check. The
    // check runs on the working task, where the error object lives: ThreadSanitizer
    // cannot see the reference count that orders a read here before its release there.
    template <typename Error, typename T, typename Check>
    static bool throws(Awaitable<T> work, Check check) {
        return run([](Awaitable<T> work, Check check) -> Awaitable<bool> {
            bool matched = false;
            try {
                co_await std::move(work);
            } catch (const Error& error) {
                matched = check(error);
            } catch (...) {
            }
            co_return matched;
        }(std::move(work), std::move(check)));
    }
    template <typename T>
    static bool throws(Awaitable<T> work, CVErrorCase errorCase) {
        return throws<CVError>(std::move(work), [=](const CVError& e) { return e.errorCase() == errorCase; });
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
    service.serveBody("/get", "{}");
    settings()->setAccessToken("jwt");
    run(CVDataProvider::data(service.url("/get"), kLastModifiedText,
                             Headers{{"Authorization", "caller"}, {"X-Extra", "1"}}));
    const auto request = service.lastRequest("/get");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("Ambrell-SDK-Version"), "IOS/" + sdkVersion());
    // A caller's Authorization goes beside the bearer value, not in its place.
    EXPECT_EQ(request->headerValues("Authorization"), (std::vector<std::string>{"Bearer jwt", "caller"}));
    EXPECT_EQ(request->header("X-Extra"), "1");
    EXPECT_EQ(request->header("If-Modified-Since"), kLastModifiedText);
    EXPECT_EQ(request->header("Ambrell-Session-Token"), "session-1");

    for (const auto& token : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        settings()->setAccessToken(token);
        run(get("/get"));
        EXPECT_FALSE(sent("/get", "Authorization"));
    }
    // Without the wait an empty session token is still sent, and none is not.
    settings()->setSessionToken("");
    run(get("/get", {}, false));
    EXPECT_EQ(sent("/get", "Ambrell-Session-Token"), "");
    settings()->setSessionToken(std::nullopt);
    run(get("/get", {}, false));
    EXPECT_FALSE(sent("/get", "Ambrell-Session-Token"));
}

TEST_F(CVDataProviderTest, StatusesMapToErrorsForGetAndDownloadWhichLeavesTheTargetAlone) {
    service.respond("/not-modified", {304, "", {}});
    auto notModified = run(get("/not-modified"));
    ASSERT_TRUE(notModified.response);
    EXPECT_EQ(notModified.response->statusCode, 304);
    EXPECT_TRUE(notModified.data->empty());

    service.respond("/forbidden", {403, "no", {}});
    service.respond("/broken", {500, "oops", {}});
    EXPECT_TRUE(throws(get("/forbidden", Headers{{"X-Probe", "p"}}), CVErrorCase::invalidApiKey));
    int errorLines = 0;
    for (const auto& entry : logs.sink().messages()) {
        if (entry.level != platform::LogLevel::error) continue;
        ++errorLines;
        EXPECT_NE(entry.message.find("Error fetching " + service.url("/forbidden")), std::string::npos);
        EXPECT_NE(entry.message.find("X-Probe"), std::string::npos);
    }
    EXPECT_EQ(errorLines, 1);
    EXPECT_TRUE(throws(get("/broken"), CVErrorCase::requestFailed));

    writeTarget("kept");
    EXPECT_TRUE(throws(download("/forbidden"), CVErrorCase::invalidApiKey));
    EXPECT_TRUE(throws(download("/broken"), CVErrorCase::requestFailed));
    EXPECT_EQ(platform::readTextFile(target()), "kept");
    EXPECT_EQ(filesBesideTarget(), 1);

    // Transport errors pass through and are logged.
    service.dropConnection("/drop");
    EXPECT_TRUE(throws<platform::NSErrorException>(
        get("/drop"), [](const platform::NSErrorException& e) { return e.error().domain == "NSURLErrorDomain"; }));
    EXPECT_TRUE(logs.sink().contains("Error fetching " + service.url("/drop")));
}

// MARK: - Session-token wait

TEST_F(CVDataProviderTest, APresentTokenIsUsedAndAMissingOneEndsWithTheRefreshError) {
    service.serveBody("/get", "{}");
    settings()->setSessionTokenRefreshError(platform::NSError{"com.corvay.Ambrell", 101500, {}});
    EXPECT_NO_THROW(run(get("/get")));
    service.clearRequests();

    settings()->setSessionToken(std::nullopt);
    EXPECT_TRUE(throws<platform::NSErrorException>(
        get("/get"), [](const platform::NSErrorException& e) { return e.error().code == 101500; }));
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(CVDataProviderTest, RequestsWaitForTheTokenThenCarryItOrAreCancelled) {
    service.serveBody("/get", "{}");
    settings()->setSessionToken(std::nullopt);
    auto cancelled = test::startTask(get("/get"));
    auto waiting = test::startTask(get("/get"));
    EXPECT_FALSE(waiting.result(200ms));
    cancelled.task.cancel();
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(cancelled.result()));
    EXPECT_TRUE(service.requests().empty());

    settings()->setSessionToken("late-token");
    auto outcome = waiting.result();
    ASSERT_TRUE(outcome && outcome->hasValue());
    EXPECT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(sent("/get", "Ambrell-Session-Token"), "late-token");
}

// MARK: - Download

TEST_F(CVDataProviderTest, DownloadStoresTheFileItsDateAndAttributesAndThenNotModifiedLeavesThem) {
    service.serveBody("/sync/venues", R"({"venues":[]})", "application/json", kLastModified);
    service.addResponseHeader("/sync/venues", "Content-Language", "da");
    const auto before = Clock::now() - 1s;
    auto result = run(download("/sync/venues?lr=da"));
    EXPECT_EQ(result.filePath, target());
    EXPECT_EQ(result.response->statusCode, 200);
    EXPECT_EQ(platform::readTextFile(target()), R"({"venues":[]})");
    EXPECT_EQ(platform::modificationDate(target()), kLastModified);
    EXPECT_EQ(xattr_lastModified(target()), kLastModifiedText);
    EXPECT_EQ(xattr_downloadUrl(target()), service.url("/sync/venues?lr=da"));
    EXPECT_EQ(xattr_apiEndpoint(target()), "/sync/venues");
    EXPECT_EQ(xattr_contentLanguage(target()), "da");
    const auto storedDate = xattr_downloadDate(target());
    ASSERT_TRUE(storedDate);
    EXPECT_GE(*storedDate, before);
    EXPECT_TRUE(logs.sink().contains("Saved file for url " + service.url("/sync/venues?lr=da") + " at "));

    service.serveBody("/sync/venues", "second", "application/json", kLastModified);
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
    service.handle("/plain", [](const auto&) { return test::LoopbackWebService::Response{200, "x", {}}; });
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

TEST_F(CVDataProviderTest, OfflineRefusesWithoutARequestButUnknownDoesNot) {
    service.serveBody("/sync/venues", "{}");
    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusNotReachable);
    EXPECT_TRUE(throws(download("/sync/venues"), CVErrorCase::downloadFailed));
    EXPECT_TRUE(service.requests().empty());

    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusUnknown);
    EXPECT_NO_THROW(run(download("/sync/venues")));
}

// MARK: - Upload, POST and DELETE

TEST_F(CVDataProviderTest, JsonObjectsArePostedAndDeletedAndFilesUploadedWithTheirHeaders) {
    service.respond("/api/booking", {201, R"({"ok":true})", {}});
    const auto body = boost::json::parse(R"({"id":"b1","count":2})");
    auto posted =
        run(CVDataProvider::postJsonObject(&body, service.url("/api/booking"), Headers{{"user-access-token", "u"}}));
    EXPECT_EQ(posted.response->statusCode, 201);
    auto request = service.lastRequest("/api/booking");
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(boost::json::parse(request->bodyText()), body);
    EXPECT_EQ(request->header("user-access-token"), "u");
    EXPECT_EQ(request->header("Ambrell-Session-Token"), "session-1");

    run(CVDataProvider::deleteJsonObject(nullptr, service.url("/api/booking"), std::nullopt));
    request = service.lastRequest("/api/booking");
    EXPECT_EQ(request->method, "DELETE");
    EXPECT_TRUE(request->body.empty());
    EXPECT_EQ(request->header("Content-Type"), "application/json");

    // A value JSON cannot carry is a serialisation error, and nothing is sent.
    service.clearRequests();
    const boost::json::value broken = {{"x", std::numeric_limits<double>::quiet_NaN()}};
    EXPECT_TRUE(throws<platform::NSErrorException>(
        CVDataProvider::postJsonObject(&broken, service.url("/api/booking"), std::nullopt),
        [](const platform::NSErrorException& e) { return e.error().domain == "NSCocoaErrorDomain"; }));
    EXPECT_TRUE(service.requests().empty());

    // An upload neither waits for nor sends the token, and returns any status.
    settings()->setSessionToken(std::nullopt);
    const auto file = containerRoot() / "package.json";
    platform::writeFileAtomically(file, std::string_view(R"({"entries":[]})"));
    service.respond("/api/logpackage", {500, "failed", {}});
    const auto uploaded = run(CVDataProvider::uploadContentsofFile(file, service.url("/api/logpackage")));
    EXPECT_EQ(uploaded.response->statusCode, 500);
    request = service.lastRequest("/api/logpackage");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->bodyText(), R"({"entries":[]})");
    EXPECT_FALSE(request->header("Ambrell-Session-Token"));
    EXPECT_EQ(request->header("Content-Type"), "application/json");
    EXPECT_EQ(request->header("Accept"), "application/json");
}

// MARK: - Completion forms

TEST_F(CVDataProviderTest, CompletionsRunOnceAndNeverOnTheMainQueue) {
    service.serveBody("/get", "{}");
    service.respond("/broken", {500, "", {}});
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    std::promise<void> bothDone;
    auto done = [&] {
        if (platform::MainQueue::shared().isCurrent()) onMain = true;
        if (++calls == 2) bothDone.set_value();
    };
    CVDataProvider::data(service.url("/get"), std::nullopt, std::nullopt, true,
                         [&](auto data, auto response, std::exception_ptr error) {
                             EXPECT_TRUE(data && response && !error);
                             done();
                         });
    CVDataProvider::downloadContents(service.url("/broken"), target(), std::nullopt,
                                     [&](auto path, auto response, std::exception_ptr error) {
                                         EXPECT_TRUE(!path && !response && error);
                                         done();
                                     });
    ASSERT_EQ(bothDone.get_future().wait_for(10s), std::future_status::ready);
    platform::MainQueue::shared().drain();
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(onMain);
}

}  // namespace
}  // namespace ambrell

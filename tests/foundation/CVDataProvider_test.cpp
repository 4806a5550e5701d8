#include "foundation/CVDataProvider.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <thread>

#include "Ambrell/CVError.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/DateFormats.h"
#include "foundation/SdkVersion.h"
#include "platform/FileSystem.h"
#include "platform/NSErrorException.h"
#include "tests/foundation/WebServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using namespace std::chrono_literals;
using platform::Awaitable;
using Clock = std::chrono::system_clock;

class CVDataProviderTest : public test::WebServiceFixture {
protected:
    CVDataProviderTest() { settings()->setSessionToken("session-1"); }

    template <typename Error, typename T>
    static bool throwsError(Awaitable<T> work, std::function<bool(const Error&)> check = {}) {
        try {
            run(std::move(work));
        } catch (const Error& error) {
            return !check || check(error);
        } catch (...) {
            return false;
        }
        return false;
    }

    static std::function<bool(const CVError&)> isCase(CVErrorCase errorCase) {
        return [errorCase](const CVError& e) { return e.errorCase() == errorCase; };
    }

    std::filesystem::path target() const { return containerRoot() / "datasets" / "key" / "venues.json"; }
};

// MARK: - Headers

TEST_F(CVDataProviderTest, GetSendsTheSdkHeadersInOrder) {
    service.serveBody("/get", "{}");
    settings()->setAccessToken("jwt");
    run(CVDataProvider::data(service.url("/get"), "Sun, 06 Nov 1994 08:49:37 GMT",
                             CVDataProvider::Headers{{"Authorization", "caller"}, {"X-Extra", "1"}}));

    const auto request = service.lastRequest("/get");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("Ambrell-SDK-Version"), "IOS/" + sdkVersion());
    // A caller's Authorization goes beside the bearer value, not in its place.
    EXPECT_EQ(request->headerValues("Authorization"), (std::vector<std::string>{"Bearer jwt", "caller"}));
    EXPECT_EQ(request->header("X-Extra"), "1");
    EXPECT_EQ(request->header("If-Modified-Since"), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(request->header("Ambrell-Session-Token"), "session-1");
}

TEST_F(CVDataProviderTest, AnEmptyAccessTokenSendsNoAuthorization) {
    service.serveBody("/get", "{}");
    for (const auto& token : {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        settings()->setAccessToken(token);
        run(CVDataProvider::data(service.url("/get"), std::nullopt, std::nullopt));
        EXPECT_FALSE(service.lastRequest("/get")->header("Authorization"));
    }
}

TEST_F(CVDataProviderTest, WithoutTheWaitAnEmptySessionTokenIsStillSent) {
    service.serveBody("/gateway", "{}");
    settings()->setSessionToken("");
    run(CVDataProvider::data(service.url("/gateway"), std::nullopt, std::nullopt, false));
    EXPECT_EQ(service.lastRequest("/gateway")->header("Ambrell-Session-Token"), "");

    settings()->setSessionToken(std::nullopt);
    run(CVDataProvider::data(service.url("/gateway"), std::nullopt, std::nullopt, false));
    EXPECT_FALSE(service.lastRequest("/gateway")->header("Ambrell-Session-Token"));
}

// MARK: - Status mapping

TEST_F(CVDataProviderTest, GetMapsStatusesToErrors) {
    service.respond("/not-modified", {304, "", {}});
    auto notModified = run(CVDataProvider::data(service.url("/not-modified"), std::nullopt, std::nullopt));
    ASSERT_TRUE(notModified.response);
    EXPECT_EQ(notModified.response->statusCode, 304);
    EXPECT_TRUE(notModified.data->empty());

    service.respond("/forbidden", {403, "no", {}});
    EXPECT_TRUE(throwsError<CVError>(CVDataProvider::data(service.url("/forbidden"), std::nullopt,
                                                          CVDataProvider::Headers{{"X-Probe", "p"}}),
                                     isCase(CVErrorCase::invalidApiKey)));
    int errorLines = 0;
    for (const auto& entry : logs.sink().messages()) {
        if (entry.level != platform::LogLevel::error) continue;
        ++errorLines;
        EXPECT_NE(entry.message.find("Error fetching " + service.url("/forbidden")), std::string::npos);
        EXPECT_NE(entry.message.find("X-Probe"), std::string::npos);
    }
    EXPECT_EQ(errorLines, 1);

    service.respond("/broken", {500, "", {}});
    EXPECT_TRUE(throwsError<CVError>(CVDataProvider::data(service.url("/broken"), std::nullopt, std::nullopt),
                                     isCase(CVErrorCase::requestFailed)));
}

TEST_F(CVDataProviderTest, GetTransportErrorsPassThroughAndAreLogged) {
    service.dropConnection("/drop");
    EXPECT_TRUE(throwsError<platform::NSErrorException>(
        CVDataProvider::data(service.url("/drop"), std::nullopt, std::nullopt),
        [](const platform::NSErrorException& e) { return e.error().domain == "NSURLErrorDomain"; }));
    EXPECT_TRUE(logs.sink().contains("Error fetching " + service.url("/drop")));
}

// MARK: - Session-token wait

TEST_F(CVDataProviderTest, APresentTokenIsUsedEvenWithARecordedRefreshError) {
    service.serveBody("/get", "{}");
    settings()->setSessionTokenRefreshError(platform::NSError{"NSURLErrorDomain", -1009, {}});
    EXPECT_NO_THROW(run(CVDataProvider::data(service.url("/get"), std::nullopt, std::nullopt)));
}

TEST_F(CVDataProviderTest, TheWaitEndsWithTheRefreshErrorAndSendsNothing) {
    service.serveBody("/get", "{}");
    settings()->setSessionToken(std::nullopt);
    settings()->setSessionTokenRefreshError(platform::NSError{"com.corvay.Ambrell", 101500, {}});
    EXPECT_TRUE(throwsError<platform::NSErrorException>(
        CVDataProvider::data(service.url("/get"), std::nullopt, std::nullopt),
        [](const platform::NSErrorException& e) { return e.error().code == 101500; }));
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(CVDataProviderTest, RequestsWaitForTheTokenThenCarryIt) {
    service.serveBody("/get", "{}");
    settings()->setSessionToken(std::nullopt);
    auto waiting = test::startTask(CVDataProvider::data(service.url("/get"), std::nullopt, std::nullopt));
    EXPECT_FALSE(waiting.result(200ms));
    EXPECT_TRUE(service.requests().empty());

    settings()->setSessionToken("late-token");
    auto outcome = waiting.result();
    ASSERT_TRUE(outcome && outcome->hasValue());
    EXPECT_EQ(service.lastRequest("/get")->header("Ambrell-Session-Token"), "late-token");
}

TEST_F(CVDataProviderTest, CancellingAWaitingRequestThrowsCancellation) {
    settings()->setSessionToken(std::nullopt);
    auto waiting = test::startTask(CVDataProvider::data(service.url("/get"), std::nullopt, std::nullopt));
    waiting.task.cancel();
    EXPECT_TRUE(test::failedWith<platform::CancellationError>(waiting.result()));
    EXPECT_TRUE(service.requests().empty());
}

// MARK: - Download

TEST_F(CVDataProviderTest, DownloadStoresTheFileItsDateAndAttributes) {
    const auto lastModified = Clock::from_time_t(784111777);  // Sun, 06 Nov 1994 08:49:37 GMT
    service.serveBody("/sync/venues", R"({"venues":[]})", "application/json", lastModified);
    service.addResponseHeader("/sync/venues", "Content-Language", "da");

    const auto before = Clock::now() - 1s;
    auto result = run(CVDataProvider::downloadContents(service.url("/sync/venues?lr=da"), target(), std::nullopt));
    EXPECT_EQ(result.filePath, target());
    EXPECT_EQ(result.response->statusCode, 200);
    EXPECT_EQ(platform::readTextFile(target()), R"({"venues":[]})");
    EXPECT_EQ(platform::modificationDate(target()), lastModified);
    EXPECT_EQ(xattr_lastModified(target()), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(xattr_downloadUrl(target()), service.url("/sync/venues?lr=da"));
    EXPECT_EQ(xattr_apiEndpoint(target()), "/sync/venues");
    EXPECT_EQ(xattr_contentLanguage(target()), "da");
    ASSERT_TRUE(xattr_downloadDate(target()));
    EXPECT_GE(*xattr_downloadDate(target()), before);
    EXPECT_TRUE(logs.sink().contains("Saved file for url " + service.url("/sync/venues?lr=da") + " at "));
}

TEST_F(CVDataProviderTest, NotModifiedLeavesTheFileAndItsAttributesUntouched) {
    service.serveBody("/sync/venues", "first", "application/json", Clock::from_time_t(784111777));
    run(CVDataProvider::downloadContents(service.url("/sync/venues"), target(), std::nullopt));
    const auto storedDate = xattr_downloadDate(target());

    service.serveBody("/sync/venues", "second", "application/json", Clock::from_time_t(784111777));
    auto result = run(CVDataProvider::downloadContents(service.url("/sync/venues"), target(), std::nullopt));
    EXPECT_EQ(service.lastRequest("/sync/venues")->header("If-Modified-Since"), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(result.response->statusCode, 304);
    EXPECT_EQ(result.filePath, target());
    EXPECT_EQ(platform::readTextFile(target()), "first");
    EXPECT_EQ(xattr_downloadDate(target()), storedDate);
    // No temporary file is left beside the target.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target().parent_path()), {}), 1);
}

TEST_F(CVDataProviderTest, AMissingLastModifiedStoresTheEpochAndIsSentNextTime) {
    service.handle("/plain", [](const test::RecordedRequest&) { return test::LoopbackWebService::Response{200, "x", {}}; });
    std::filesystem::create_directories(target().parent_path());
    platform::writeFileAtomically(target(), std::string_view("old"));
    xattr_setContentLanguage(target(), "en");

    run(CVDataProvider::downloadContents(service.url("/plain"), target(), std::nullopt));
    EXPECT_EQ(platform::modificationDate(target()), Clock::time_point{});
    EXPECT_EQ(xattr_lastModified(target()), "Thu, 01 Jan 1970 00:00:00 GMT");
    // An answer without a language clears the one stored before.
    EXPECT_FALSE(xattr_contentLanguage(target()));

    run(CVDataProvider::downloadContents(service.url("/plain"), target(), std::nullopt));
    EXPECT_EQ(service.lastRequest("/plain")->header("If-Modified-Since"), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST_F(CVDataProviderTest, AnExplicitIfModifiedSinceWinsOverTheStoredOne) {
    service.serveBody("/sync/dataset", "{}", "application/json", Clock::from_time_t(784111777));
    run(CVDataProvider::downloadContents(service.url("/sync/dataset"), target(), std::nullopt));
    run(CVDataProvider::downloadContents(service.url("/sync/dataset"), target(), "Thu, 01 Jan 1970 00:00:00 GMT"));
    EXPECT_EQ(service.lastRequest("/sync/dataset")->header("If-Modified-Since"), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST_F(CVDataProviderTest, DownloadFailuresLeaveTheTargetAlone) {
    std::filesystem::create_directories(target().parent_path());
    platform::writeFileAtomically(target(), std::string_view("kept"));
    service.respond("/forbidden", {403, "denied", {}});
    service.respond("/broken", {500, "oops", {}});
    EXPECT_TRUE(throwsError<CVError>(CVDataProvider::downloadContents(service.url("/forbidden"), target(), std::nullopt),
                                     isCase(CVErrorCase::invalidApiKey)));
    EXPECT_TRUE(throwsError<CVError>(CVDataProvider::downloadContents(service.url("/broken"), target(), std::nullopt),
                                     isCase(CVErrorCase::requestFailed)));
    EXPECT_EQ(platform::readTextFile(target()), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target().parent_path()), {}), 1);
}

TEST_F(CVDataProviderTest, OfflineRefusesWithoutARequestButUnknownDoesNot) {
    service.serveBody("/sync/venues", "{}");
    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusNotReachable);
    EXPECT_TRUE(throwsError<CVError>(CVDataProvider::downloadContents(service.url("/sync/venues"), target(), std::nullopt),
                                     isCase(CVErrorCase::downloadFailed)));
    EXPECT_TRUE(service.requests().empty());

    CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusUnknown);
    EXPECT_NO_THROW(run(CVDataProvider::downloadContents(service.url("/sync/venues"), target(), std::nullopt)));
}

// MARK: - Upload, POST and DELETE

TEST_F(CVDataProviderTest, UploadNeitherWaitsForNorSendsTheTokenAndReturnsAnyStatus) {
    settings()->setSessionToken(std::nullopt);
    const auto file = containerRoot() / "package.json";
    platform::writeFileAtomically(file, std::string_view(R"({"entries":[]})"));
    service.respond("/api/logpackage", {500, "failed", {}});

    auto result = run(CVDataProvider::uploadContentsofFile(file, service.url("/api/logpackage")));
    EXPECT_EQ(result.response->statusCode, 500);
    const auto request = service.lastRequest("/api/logpackage");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "POST");
    EXPECT_EQ(request->bodyText(), R"({"entries":[]})");
    EXPECT_FALSE(request->header("Ambrell-Session-Token"));
    EXPECT_EQ(request->header("Content-Type"), "application/json");
    EXPECT_EQ(request->header("Accept"), "application/json");
}

TEST_F(CVDataProviderTest, JsonObjectsArePostedAndDeletedWithTheirHeaders) {
    service.respond("/api/booking", {201, R"({"ok":true})", {}});
    const auto body = boost::json::parse(R"({"id":"b1","count":2})");
    auto posted = run(CVDataProvider::postJsonObject(&body, service.url("/api/booking"),
                                                     CVDataProvider::Headers{{"user-access-token", "u"}}));
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
}

TEST_F(CVDataProviderTest, AValueJsonCannotCarryIsASerialisationError) {
    const boost::json::value body = {{"x", std::numeric_limits<double>::quiet_NaN()}};
    EXPECT_TRUE(throwsError<platform::NSErrorException>(
        CVDataProvider::postJsonObject(&body, service.url("/api/booking"), std::nullopt),
        [](const platform::NSErrorException& e) { return e.error().domain == "NSCocoaErrorDomain"; }));
    EXPECT_TRUE(service.requests().empty());
}

// MARK: - Completion forms

TEST_F(CVDataProviderTest, CompletionsRunOnceAndNeverOnTheMainQueue) {
    service.serveBody("/get", "{}");
    service.respond("/broken", {500, "", {}});
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{false};
    std::promise<void> bothDone;
    auto done = [&](std::exception_ptr) {
        if (platform::MainQueue::shared().isCurrent()) onMain = true;
        if (++calls == 2) bothDone.set_value();
    };
    CVDataProvider::data(service.url("/get"), std::nullopt, std::nullopt, true,
                         [&](auto data, auto response, std::exception_ptr error) {
                             EXPECT_TRUE(data && response && !error);
                             done(error);
                         });
    CVDataProvider::downloadContents(service.url("/broken"), target(), std::nullopt,
                                     [&](auto path, auto response, std::exception_ptr error) {
                                         EXPECT_TRUE(!path && !response && error);
                                         done(error);
                                     });
    ASSERT_EQ(bothDone.get_future().wait_for(10s), std::future_status::ready);
    platform::MainQueue::shared().drain();
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(onMain);
}

}  // namespace
}  // namespace ambrell

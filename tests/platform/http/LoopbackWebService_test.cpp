#include "tests/support/LoopbackWebService.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/http/HttpSession.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::test {
namespace {

using namespace std::chrono_literals;
using platform::await;
using platform::requestFor;
using platform::text;

class LoopbackWebServiceTest : public ::testing::Test {
protected:
    platform::HttpDataResult get(const std::string& pathAndQuery, platform::HttpHeaders headers = {}) {
        auto request = requestFor(service.url(pathAndQuery));
        request.headers = std::move(headers);
        return await(session.data(request));
    }

    TempDirectory folder;
    LoopbackWebService service;
    platform::HttpSession session;
};

TEST(HttpDate, FormatsAndParsesTheImfFixdate) {
    struct Case {
        std::int64_t seconds;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {1'709'251'199, "Thu, 29 Feb 2024 23:59:59 GMT"},
    };
    for (const auto& c : cases) {
        const auto time = std::chrono::system_clock::from_time_t(c.seconds);
        EXPECT_EQ(httpDate(time), c.text);
        EXPECT_EQ(parseHttpDate(c.text), time);
    }
    for (const std::string bad : {"", "yesterday", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Foo 1994 08:49:37 GMT",
                                  "Sun, 06 Nov 1994 08:49:37 GMT trailing"}) {
        EXPECT_EQ(parseHttpDate(bad), std::nullopt) << bad;
    }
}

TEST_F(LoopbackWebServiceTest, UrlsNameTheLoopbackPort) {
    EXPECT_EQ(service.baseUrl(), "http://127.0.0.1:" + std::to_string(service.port()) + "/");
    EXPECT_EQ(service.url("/a?b=c"), "http://127.0.0.1:" + std::to_string(service.port()) + "/a?b=c");
}

TEST_F(LoopbackWebServiceTest, AnExactQueryRouteWinsOverThePathRoute) {
    service.respond("/sync", {200, "any", {}});
    service.respond("/sync?lang=de", {200, "german", {}});
    EXPECT_EQ(text(get("/sync?lang=de").body), "german");
    EXPECT_EQ(text(get("/sync?lang=en").body), "any");
    EXPECT_EQ(text(get("/sync").body), "any");
    EXPECT_EQ(get("/other?lang=de").response.statusCode, 404);

    const auto recorded = service.requests();
    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_EQ(recorded[0].path, "/sync");
    EXPECT_EQ(recorded[0].query, "lang=de");
    EXPECT_EQ(recorded[3].path, "/other");
    EXPECT_EQ(service.requestsTo("/sync").size(), 3u);
    EXPECT_EQ(service.lastRequest("/sync")->query, "");
    service.clearRequests();
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(LoopbackWebServiceTest, ServedFilesFollowIfModifiedSince) {
    const auto file = folder / "venue.json";
    std::ofstream(file) << R"({"venue":1})";
    const auto modified = std::chrono::system_clock::from_time_t(1'650'000'000);
    std::filesystem::last_write_time(
        file,
        std::chrono::file_clock::from_sys(std::chrono::time_point_cast<std::chrono::file_clock::duration>(modified)));
    service.serveFile("/venue", file);

    const auto first = get("/venue");
    EXPECT_EQ(first.response.statusCode, 200);
    EXPECT_EQ(text(first.body), R"({"venue":1})");
    EXPECT_EQ(first.response.headers.value("Last-Modified"), httpDate(modified));

    struct Case {
        std::chrono::seconds offset;
        int status;
    };
    for (const auto& c : {Case{0s, 304}, Case{60s, 304}, Case{-1s, 200}}) {
        const auto answer = get("/venue", {{"If-Modified-Since", httpDate(modified + c.offset)}});
        EXPECT_EQ(answer.response.statusCode, c.status) << c.offset.count();
        EXPECT_EQ(answer.body.empty(), c.status == 304);
    }
    // An unparsable date is ignored.
    EXPECT_EQ(get("/venue", {{"If-Modified-Since", "garbage"}}).response.statusCode, 200);
    std::filesystem::remove(file);
    EXPECT_EQ(get("/venue").response.statusCode, 404);
}

TEST_F(LoopbackWebServiceTest, FoldersServeFilesByRelativePath) {
    std::filesystem::create_directories(folder / "data" / "nested");
    std::ofstream(folder / "data" / "nested" / "a.json") << "[1]";
    std::ofstream(folder / "secret.txt") << "secret";
    service.serveFolder("/content", folder / "data");

    const auto found = get("/content/nested/a.json");
    EXPECT_EQ(found.response.statusCode, 200);
    EXPECT_EQ(text(found.body), "[1]");
    EXPECT_EQ(found.response.headers.value("Content-Type"), "application/json");
    EXPECT_TRUE(found.response.headers.contains("Last-Modified"));
    EXPECT_EQ(get("/content/nested/missing.json").response.statusCode, 404);
    EXPECT_EQ(get("/content/nested").response.statusCode, 404);
    // Encoded so the client does not resolve the dots itself.
    EXPECT_EQ(get("/content/%2e%2e/secret.txt").response.statusCode, 404);
}

TEST_F(LoopbackWebServiceTest, HandlersSeeMethodHeadersAndBody) {
    service.handle("/booking", [](const RecordedRequest& request) {
        return LoopbackWebService::Response{request.method == "PUT" ? 200 : 405,
                                            request.bodyText() + "|" + request.header("x-token").value_or("-"),
                                            {{"Content-Type", "text/plain"}, {"Content-Language", "fr"}}};
    });
    auto request = requestFor(service.url("/booking"), "PUT");
    request.body = platform::bytes("seat=4");
    request.headers.add("X-Token", "t1");

    const auto answer = await(session.data(request));

    EXPECT_EQ(answer.response.statusCode, 200);
    EXPECT_EQ(text(answer.body), "seat=4|t1");
    EXPECT_EQ(answer.response.headers.value("Content-Type"), "text/plain");
    EXPECT_EQ(answer.response.headers.value("Content-Language"), "fr");
}

TEST_F(LoopbackWebServiceTest, AThrowingHandlerAnswers500) {
    service.handle("/broken",
                   [](const RecordedRequest&) -> LoopbackWebService::Response { throw std::runtime_error("no"); });
    EXPECT_EQ(get("/broken").response.statusCode, 500);
}

TEST_F(LoopbackWebServiceTest, RemovingARouteForgetsIt) {
    service.respond("/gone", {200, "here", {}});
    service.delay("/gone", 1ms);
    service.removeRoute("/gone");
    EXPECT_EQ(get("/gone").response.statusCode, 404);
}

}  // namespace
}  // namespace ambrell::test

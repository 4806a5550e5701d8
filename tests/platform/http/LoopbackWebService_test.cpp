#include "tests/support/LoopbackWebService.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/http/HttpSession.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::test {
namespace {

using namespace std::chrono_literals;
using platform::text;

class LoopbackWebServiceTest : public platform::LoopbackSessionTest {
protected:
    TempDirectory folder_;
};

TEST(HttpDate, FormatsAndParsesTheImfFixdate) {
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {1'709'251'199, "Thu, 29 Feb 2024 23:59:59 GMT"},
    };
    for (const auto& [seconds, date] : cases) {
        const auto time = std::chrono::system_clock::from_time_t(seconds);
        EXPECT_EQ(httpDate(time), date);
        EXPECT_EQ(parseHttpDate(date), time);
    }
    for (const std::string bad : {"", "yesterday", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Foo 1994 08:49:37 GMT",
                                  "Mon, 06 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 GMT trailing"}) {
        EXPECT_EQ(parseHttpDate(bad), std::nullopt) << bad;
    }
}

TEST_F(LoopbackWebServiceTest, AnExactQueryRouteWinsOverThePathRouteOnTheLoopbackPort) {
    EXPECT_EQ(service_.baseUrl(), "http://127.0.0.1:" + std::to_string(service_.port()) + "/");
    EXPECT_EQ(service_.url("/a?b=c"), "http://127.0.0.1:" + std::to_string(service_.port()) + "/a?b=c");
    service_.respond("/sync", {200, "any", {}});
    service_.respond("/sync?lang=de", {200, "german", {}});
    EXPECT_EQ(text(get("/sync?lang=de").body), "german");
    EXPECT_EQ(text(get("/sync?lang=en").body), "any");
    EXPECT_EQ(text(get("/sync").body), "any");
    EXPECT_EQ(get("/other?lang=de").response.statusCode, 404);
    const auto recorded = service_.requests();
    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_EQ(recorded[0].path, "/sync");
    EXPECT_EQ(recorded[0].query, "lang=de");
    EXPECT_EQ(recorded[3].path, "/other");
    EXPECT_EQ(service_.requestsTo("/sync").size(), 3u);
    EXPECT_EQ(service_.lastRequest("/sync")->query, "");
    service_.clearRequests();
    EXPECT_TRUE(service_.requests().empty());
}

TEST_F(LoopbackWebServiceTest, ServedFilesFollowIfModifiedSince) {
    const auto file = folder_ / "venue.json";
    const auto modified = std::chrono::system_clock::from_time_t(1'650'000'000);
    ASSERT_FALSE(platform::writeFileAtomically(file, R"({"venue":1})"));
    ASSERT_FALSE(platform::setModificationDate(file, modified));
    service_.serveFile("/venue", file);
    const auto first = get("/venue");
    EXPECT_EQ(first.response.statusCode, 200);
    EXPECT_EQ(text(first.body), R"({"venue":1})");
    EXPECT_EQ(first.response.headers.value("Last-Modified"), httpDate(modified));
    EXPECT_EQ(first.response.headers.value("Content-Type"), "application/json");
    for (const auto& [offset, status] : {std::pair{0s, 304}, std::pair{60s, 304}, std::pair{-1s, 200}}) {
        const auto answer = get("/venue", {{"If-Modified-Since", httpDate(modified + offset)}});
        EXPECT_EQ(answer.response.statusCode, status) << offset.count();
        EXPECT_EQ(answer.body.empty(), status == 304);
    }
    // An unparsable date is ignored.
    EXPECT_EQ(get("/venue", {{"If-Modified-Since", "garbage"}}).response.statusCode, 200);
    std::filesystem::remove(file);
    EXPECT_EQ(get("/venue").response.statusCode, 404);
}

TEST_F(LoopbackWebServiceTest, HandlersSeeTheRequestAndScriptTheAnswer) {
    service_.handle("/booking", [](const RecordedRequest& request) {
        if (request.method == "DELETE") throw std::runtime_error("no");
        return LoopbackWebService::Response{request.method == "PUT" ? 200 : 405,
                                            request.bodyText() + "|" + request.header("x-token").value_or("-"),
                                            {{"Content-Type", "text/plain"}, {"Content-Language", "fr"}}};
    });
    auto request = platform::requestFor(service_.url("/booking"), "PUT", {{"X-Token", "t1"}});
    request.body = platform::bytes("seat=4");
    const auto answer = platform::await(session_.data(request));
    EXPECT_EQ(answer.response.statusCode, 200);
    EXPECT_EQ(text(answer.body), "seat=4|t1");
    EXPECT_EQ(answer.response.headers.value("Content-Type"), "text/plain");
    EXPECT_EQ(answer.response.headers.value("Content-Language"), "fr");
    // A HEAD answer tells the length of the body it leaves out.
    const auto head = platform::await(session_.data(platform::requestFor(service_.url("/booking"), "HEAD")));
    EXPECT_EQ(head.response.statusCode, 405);
    EXPECT_EQ(head.response.headers.value("Content-Length"), "2");
    EXPECT_TRUE(head.body.empty());
    EXPECT_EQ(
        platform::await(session_.data(platform::requestFor(service_.url("/booking"), "DELETE"))).response.statusCode,
        500);
}

}  // namespace
}  // namespace ambrell::test

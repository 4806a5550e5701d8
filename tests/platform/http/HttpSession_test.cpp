#include "platform/http/HttpSession.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/http/HttpErrors.h"
#include "platform/runtime/Actor.h"
#include "tests/platform/http/HttpTestSupport.h"

namespace ambrell::platform {
namespace {

using test::LoopbackWebService;

class HttpSessionTest : public LoopbackSessionTest {};

TEST_F(HttpSessionTest, HeadersArriveAsSentInOrderEmptyAndRepeatedOnesIncluded) {
    service_.respond("/headers", {204, "", {}});
    // An empty Accept replaces libcurl's "*/*" rather than joining it.
    const auto result = get("/headers", {{"X-Third", "3"},
                                         {"Authorization", "Bearer token"},
                                         {"X-Empty", ""},
                                         {"X-First", "1%20one"},
                                         {"Authorization", "Caller value"},
                                         {"X-Third", "again"},
                                         {"Accept", ""}});
    EXPECT_EQ(result.response.statusCode, 204);
    const auto received = lastRequest("/headers");
    auto custom = received.headers;
    std::erase_if(custom, [](const auto& field) { return !field.first.starts_with("X-"); });
    EXPECT_EQ(custom,
              (test::HeaderList{{"X-Third", "3"}, {"X-Empty", ""}, {"X-First", "1%20one"}, {"X-Third", "again"}}));
    EXPECT_EQ(received.headerValues("Authorization"), (Strings{"Bearer token", "Caller value"}));
    EXPECT_EQ(received.headerValues("Accept"), Strings{""});
}

TEST_F(HttpSessionTest, BodiesArriveWithTheirMethod) {
    service_.handle("/echo", [](const test::RecordedRequest& request) {
        return LoopbackWebService::Response{
            200, request.method + " " + request.bodyText(), {{"Content-Type", "text/plain"}}};
    });
    struct Case {
        std::string method;
        std::optional<std::string> body;
        std::string answer;
    };
    const Case cases[] = {
        {"POST", R"({"a":1})", R"(POST {"a":1})"},
        {"DELETE", R"({"id":"x"})", R"(DELETE {"id":"x"})"},
        {"PUT", "plain", "PUT plain"},
        {"POST", std::nullopt, "POST "},
        {"DELETE", std::nullopt, "DELETE "},
        {"POST", "", "POST "},
    };
    for (const auto& c : cases) {
        auto request = requestFor(service_.url("/echo"), c.method, {{"Content-Type", "application/json"}});
        if (c.body) request.body = bytes(*c.body);
        request.timeout = std::chrono::seconds::max();  // any positive timeout is usable, however long
        EXPECT_EQ(text(await(session_.data(request)).body), c.answer) << c.method;
        const auto received = lastRequest("/echo");
        EXPECT_EQ(received.header("Content-Type"), "application/json");
        if (c.method == "POST") {
            EXPECT_EQ(received.header("Content-Length"), std::to_string(c.body.value_or("").size()));
        }
    }
}

TEST_F(HttpSessionTest, EveryStatusIsAResponseNotAnError) {
    for (const int status : {200, 201, 204, 304, 400, 403, 404, 500, 503}) {
        const std::string body = status == 204 || status == 304 ? "" : "body " + std::to_string(status);
        service_.respond("/status", {status, body, {}});
        const auto result = get("/status");
        EXPECT_EQ(result.response.statusCode, status);
        EXPECT_EQ(text(result.body), body);
    }
    EXPECT_EQ(get("/nothing-here").response.statusCode, 404);
}

TEST_F(HttpSessionTest, ResponseCarriesHeadersAndTheUrlThatAnswered) {
    service_.serveBody("/new", "moved here", "text/plain");
    for (const auto& [name, value] : test::HeaderList{{"Content-Language", "de"}, {"X-Multi", "a"}, {"X-Multi", "b"}}) {
        service_.addResponseHeader("/new", name, value);
    }
    service_.respond("/old", {302, "", {{"Location", "/new"}}});
    const auto result = get("/old?x=1");
    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_EQ(text(result.body), "moved here");
    EXPECT_EQ(result.response.url, service_.url("/new"));
    EXPECT_EQ(result.response.headers.value("content-language"), "de");
    EXPECT_EQ(result.response.headers.values("X-Multi"), (Strings{"a", "b"}));
    EXPECT_TRUE(result.response.headers.contains("Last-Modified"));
    EXPECT_FALSE(result.response.headers.contains("Location"));  // the redirect's fields are not the answer's
}

TEST_F(HttpSessionTest, ConnectionsAreReusedAcrossRequests) {
    for (int i = 0; i < 3; ++i) get("/ping");
    const auto received = service_.requestsTo("/ping");
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[1].remotePort, received[0].remotePort);
    EXPECT_EQ(received[2].remotePort, received[0].remotePort);
}

TEST_F(HttpSessionTest, TheAwaitingTaskResumesOnItsOwnExecutor) {
    auto strand = ThreadPool::shared().makeStrand();
    EXPECT_TRUE(blockingWait<bool>(strand, [](HttpSession& s, std::string url, Strand st) -> Awaitable<bool> {
        co_await s.data(requestFor(std::move(url)));
        co_return st.running_in_this_thread();
    }(session_, service_.url("/ping"), strand)));
}

TEST_F(HttpSessionTest, ConfiguredProxyCarriesHttpRequests) {
    service_.respond("/resource", {200, "via proxy", {}});
    HttpSession proxied(HttpSession::Configuration{HttpProxy{"127.0.0.1", service_.port()}});
    // The host does not exist: only the proxy can answer.
    const auto result = await(proxied.data(requestFor("http://ambrell-origin.invalid/resource?x=1")));
    EXPECT_EQ(text(result.body), "via proxy");
    const auto received = lastRequest("/resource");
    EXPECT_EQ(received.target, "http://ambrell-origin.invalid/resource?x=1");
    EXPECT_EQ(received.query, "x=1");
    EXPECT_EQ(received.header("Host"), "ambrell-origin.invalid");
}

TEST_F(HttpSessionTest, HttpsRequestsBypassTheProxy) {
    // Through the proxy, on a port where nothing listens, the request could
    // not connect; directly it reaches the plain-HTTP service, which cannot
    // speak TLS.
    HttpSession proxied(HttpSession::Configuration{HttpProxy{"127.0.0.1", closedPort()}});
    auto request = requestFor("https://127.0.0.1:" + std::to_string(service_.port()) + "/secure");
    request.timeout = std::chrono::seconds(5);
    const auto error = urlErrorOf(proxied.data(request));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NSURLErrorSecureConnectionFailed);
}

TEST(HttpSessionConfiguration, RefusesAProxyItCannotUse) {
    const auto make = [](HttpProxy proxy) { HttpSession(HttpSession::Configuration{std::move(proxy)}); };
    for (const auto& bad : {HttpProxy{"proxy host", 8080}, HttpProxy{"proxy/x", 8080}, HttpProxy{"proxy", 70000}}) {
        EXPECT_THROW(make(bad), std::invalid_argument) << bad.host;
    }
    // An empty host is no proxy; a port that is not positive is the default one.
    for (const auto& usable : {HttpProxy{"", 8080}, HttpProxy{"proxy", 0}, HttpProxy{"::1", std::nullopt}}) {
        EXPECT_NO_THROW(make(usable)) << usable.host;
    }
}

}  // namespace
}  // namespace ambrell::platform

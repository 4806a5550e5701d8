#include "platform/http/HttpSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/http/HttpErrors.h"
#include "platform/runtime/Actor.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/LoopbackWebService.h"

namespace ambrell::platform {
namespace {

using test::LoopbackWebService;

class HttpSessionTest : public ::testing::Test {
protected:
    LoopbackWebService service;
    HttpSession session;
};

// The fields of a recorded request whose names begin with "X-", in order.
test::HeaderList customFields(const test::RecordedRequest& request) {
    test::HeaderList fields;
    std::copy_if(request.headers.begin(), request.headers.end(), std::back_inserter(fields),
                 [](const auto& field) { return field.first.starts_with("X-"); });
    return fields;
}

TEST_F(HttpSessionTest, SendsHeadersInListOrderAnEmptyValueIncluded) {
    service.respond("/order", {204, "", {}});
    auto request = requestFor(service.url("/order"));
    request.headers.add("X-Third", "3");
    request.headers.add("X-Empty", "");
    request.headers.add("X-First", "1%20one");
    request.headers.add("X-Third", "again");

    const auto result = await(session.data(request));

    EXPECT_EQ(result.response.statusCode, 204);
    const auto received = service.lastRequest("/order");
    ASSERT_TRUE(received);
    EXPECT_EQ(customFields(*received),
              (test::HeaderList{{"X-Third", "3"}, {"X-Empty", ""}, {"X-First", "1%20one"}, {"X-Third", "again"}}));
}

TEST_F(HttpSessionTest, EmptyAndRepeatedHeadersArriveAsSent) {
    service.respond("/headers", {204, "", {}});
    auto request = requestFor(service.url("/headers"));
    request.headers.add("Authorization", "Bearer token");
    request.headers.add("X-Empty", "");
    request.headers.add("Authorization", "Caller value");
    // An empty Accept replaces libcurl's "*/*" rather than joining it.
    request.headers.add("Accept", "");

    await(session.data(request));

    const auto received = service.lastRequest("/headers");
    ASSERT_TRUE(received);
    EXPECT_EQ(received->headerValues("X-Empty"), std::vector<std::string>{""});
    EXPECT_EQ(received->headerValues("Authorization"), (std::vector<std::string>{"Bearer token", "Caller value"}));
    EXPECT_EQ(received->headerValues("Accept"), std::vector<std::string>{""});
}

TEST_F(HttpSessionTest, BodiesArriveWithTheirMethod) {
    service.handle("/echo", [](const test::RecordedRequest& request) {
        return LoopbackWebService::Response{
            200, request.method + " " + request.bodyText(), {{"Content-Type", "text/plain"}}};
    });
    struct Case {
        std::string method;
        std::optional<std::string> body;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"POST", R"({"a":1})", R"(POST {"a":1})"},
        {"DELETE", R"({"id":"x"})", R"(DELETE {"id":"x"})"},
        {"PUT", "plain", "PUT plain"},
        {"POST", std::nullopt, "POST "},
        {"DELETE", std::nullopt, "DELETE "},
        {"POST", "", "POST "},
    };
    for (const auto& c : cases) {
        auto request = requestFor(service.url("/echo"), c.method);
        if (c.body) request.body = bytes(*c.body);
        request.headers.add("Content-Type", "application/json");
        const auto result = await(session.data(request));
        EXPECT_EQ(text(result.body), c.answer) << c.method;
        const auto received = service.lastRequest("/echo");
        ASSERT_TRUE(received);
        EXPECT_EQ(received->header("Content-Type"), "application/json");
        if (c.method == "POST") {
            EXPECT_EQ(received->header("Content-Length"), std::to_string(c.body.value_or("").size()));
        }
    }
}

TEST_F(HttpSessionTest, EveryStatusIsAResponseNotAnError) {
    for (const int status : {200, 201, 204, 400, 403, 404, 500, 503}) {
        service.respond("/status", {status, status == 204 ? "" : "body " + std::to_string(status), {}});
        const auto result = await(session.data(requestFor(service.url("/status"))));
        EXPECT_EQ(result.response.statusCode, status);
        EXPECT_EQ(text(result.body), status == 204 ? "" : "body " + std::to_string(status));
    }
    const auto unknown = await(session.data(requestFor(service.url("/nothing-here"))));
    EXPECT_EQ(unknown.response.statusCode, 404);
}

TEST_F(HttpSessionTest, NotModifiedPassesThroughWithAnEmptyBody) {
    const auto modified = std::chrono::system_clock::from_time_t(1'700'000'000);
    service.serveBody("/sync", R"({"items":[]})", "application/json", modified);
    auto request = requestFor(service.url("/sync"));
    request.headers.add("If-Modified-Since", test::httpDate(modified));

    const auto result = await(session.data(request));

    EXPECT_EQ(result.response.statusCode, 304);
    EXPECT_TRUE(result.body.empty());
}

TEST_F(HttpSessionTest, ResponseCarriesHeadersAndTheUrlThatAnswered) {
    service.serveBody("/new", "moved here", "text/plain");
    service.addResponseHeader("/new", "Content-Language", "de");
    service.addResponseHeader("/new", "X-Multi", "a");
    service.addResponseHeader("/new", "X-Multi", "b");
    service.respond("/old", {302, "", {{"Location", "/new"}}});

    const auto result = await(session.data(requestFor(service.url("/old?x=1"))));

    EXPECT_EQ(result.response.statusCode, 200);
    EXPECT_EQ(text(result.body), "moved here");
    EXPECT_EQ(result.response.url, service.url("/new"));
    EXPECT_EQ(result.response.headers.value("content-language"), "de");
    EXPECT_EQ(result.response.headers.values("X-Multi"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(result.response.headers.contains("Last-Modified"));
    EXPECT_FALSE(result.response.headers.contains("Location"));  // the redirect's fields are not the answer's
}

TEST_F(HttpSessionTest, ARedirectLoopEndsWithAnError) {
    service.respond("/loop", {302, "", {{"Location", "/loop"}}});
    const auto error = urlErrorOf(session.data(requestFor(service.url("/loop"))));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NSURLErrorHTTPTooManyRedirects);
}

TEST_F(HttpSessionTest, ConnectionsAreReusedAcrossRequests) {
    service.respond("/ping", {200, "pong", {}});
    for (int i = 0; i < 3; ++i) await(session.data(requestFor(service.url("/ping"))));
    const auto received = service.requestsTo("/ping");
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[1].remotePort, received[0].remotePort);
    EXPECT_EQ(received[2].remotePort, received[0].remotePort);
}

TEST_F(HttpSessionTest, TheAwaitingTaskResumesOnItsOwnExecutor) {
    service.respond("/ping", {200, "pong", {}});
    auto strand = ThreadPool::shared().makeStrand();
    const bool onStrand = blockingWait<bool>(strand, [](HttpSession& s, std::string url, Strand st) -> Awaitable<bool> {
        co_await s.data(requestFor(std::move(url)));
        co_return st.running_in_this_thread();
    }(session, service.url("/ping"), strand));
    EXPECT_TRUE(onStrand);
}

TEST_F(HttpSessionTest, ConfiguredProxyCarriesHttpRequests) {
    service.respond("/resource", {200, "via proxy", {}});
    HttpSession proxied(HttpSession::Configuration{HttpProxy{"127.0.0.1", service.port()}});

    // The host does not exist: only the proxy can answer.
    const auto result = await(proxied.data(requestFor("http://ambrell-origin.invalid/resource?x=1")));

    EXPECT_EQ(text(result.body), "via proxy");
    const auto received = service.lastRequest("/resource");
    ASSERT_TRUE(received);
    EXPECT_EQ(received->target, "http://ambrell-origin.invalid/resource?x=1");
    EXPECT_EQ(received->query, "x=1");
    EXPECT_EQ(received->header("Host"), "ambrell-origin.invalid");
}

TEST_F(HttpSessionTest, HttpsRequestsBypassTheProxy) {
    // Through the proxy, on a port where nothing listens, the request could
    // not connect; directly it reaches the plain-HTTP service, which cannot
    // speak TLS.
    HttpSession proxied(HttpSession::Configuration{HttpProxy{"127.0.0.1", closedPort()}});
    auto request = requestFor("https://127.0.0.1:" + std::to_string(service.port()) + "/secure");
    request.timeout = std::chrono::seconds(5);

    const auto error = urlErrorOf(proxied.data(request));

    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NSURLErrorSecureConnectionFailed);
}

TEST(HttpSessionConfiguration, RefusesAProxyItCannotUse) {
    EXPECT_THROW(HttpSession(HttpSession::Configuration{HttpProxy{"proxy host", 8080}}), std::invalid_argument);
    EXPECT_THROW(HttpSession(HttpSession::Configuration{HttpProxy{"proxy/x", 8080}}), std::invalid_argument);
    EXPECT_THROW(HttpSession(HttpSession::Configuration{HttpProxy{"proxy", 70000}}), std::invalid_argument);
    // An empty host is no proxy; a port that is not positive is the default one.
    EXPECT_NO_THROW(HttpSession(HttpSession::Configuration{HttpProxy{"", 8080}}));
    EXPECT_NO_THROW(HttpSession(HttpSession::Configuration{HttpProxy{"proxy", 0}}));
    EXPECT_NO_THROW(HttpSession(HttpSession::Configuration{HttpProxy{"::1", std::nullopt}}));
}

}  // namespace
}  // namespace ambrell::platform

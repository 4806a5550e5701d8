#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include <boost/json/parse.hpp>

#include "jsonmodel/JSONModel/JSONAPI.h"
#include "jsonmodel/JSONModel/JSONHTTPClient.h"
#include "jsonmodel/JSONModel/JSONModelNetworking.h"
#include "platform/http/HttpErrors.h"
#include "platform/runtime/MainQueue.h"
#include "tests/jsonmodel/JSONModel/TestModels.h"
#include "tests/support/JsonEq.h"
#include "tests/support/LoopbackWebService.h"

namespace ambrell::test {
namespace {

namespace json = boost::json;
using Response = LoopbackWebService::Response;
using Net = JSONModelNetworking<Field>;

struct Outcome {
    std::optional<json::value> json;
    std::shared_ptr<Field> model;
    std::optional<JSONModelError> error;
    bool onMainQueue = false;
};

class JSONHTTPClientTest : public ::testing::Test {
protected:
    JSONHTTPClientTest() { reset(); }
    ~JSONHTTPClientTest() override { reset(); }
    static void reset() {
        JSONHTTPClient::resetForTesting();
        JSONAPI::resetForTesting();
    }

    // Starts a call with a completion, for JSON or for a Field, and gives back what it got and where.
    template <typename Call>
    static Outcome run(Call&& call) {
        auto promise = std::make_shared<std::promise<Outcome>>();
        auto future = promise->get_future();
        call([promise](auto value, std::optional<JSONModelError> error) {
            Outcome outcome{{}, nullptr, std::move(error), platform::MainQueue::shared().isCurrent()};
            if constexpr (std::is_same_v<decltype(value), std::shared_ptr<Field>>) {
                outcome.model = std::move(value);
            } else {
                outcome.json = std::move(value);
            }
            promise->set_value(std::move(outcome));
        });
        EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return future.get();
    }
    Outcome get(std::string_view path, std::optional<JSONHTTPParams> params = std::nullopt) {
        return run([&](auto done) {
            if (!params) return JSONHTTPClient::getJSONFromURLWithString(service_.url(path), done);
            JSONHTTPClient::getJSONFromURLWithString(service_.url(path), *params, done);
        });
    }

    platform::MainQueueThread mainQueue_;
    LoopbackWebService service_;
};

TEST_F(JSONHTTPClientTest, ParametersAreSortedEncodedAndAppendedToTheQuery) {
    service_.respond("/q", {200, R"({"ok": true})", {}});
    auto outcome = get("/q", JSONHTTPParams{{"b", 2}, {"a", "x y"}});
    EXPECT_EQ(std::tie(outcome.error, outcome.onMainQueue, outcome.json),
              std::tuple(std::nullopt, true, json::parse(R"({"ok": true})")));
    EXPECT_EQ(service_.lastRequest("/q")->query, "a=x%20y&b=2");
    get("/q?z=1", JSONHTTPParams{{"v", "a&b=c/é"}, {"n", -1.5}});
    EXPECT_EQ(service_.lastRequest("/q")->query, "z=1&n=-1.5&v=a%26b%3Dc%2F%C3%A9");
}

TEST_F(JSONHTTPClientTest, PostsCarryTheirContentTypeAndLength) {
    service_.respond("/p", {200, "[]", {}});
    JSONHTTPClient::setRequestHeader("X-Shared", "shared");
    JSONHTTPClient::setRequestHeader("X-Both", "shared");
    run([&](auto done) {
        JSONHTTPClient::JSONFromURLWithString(service_.url("/p"), "POST", std::nullopt, R"({"a": 1})",
                                              JSONHTTPHeaders{{"X-Both", "call"}}, done);
    });
    auto request = service_.lastRequest("/p");
    ASSERT_TRUE(request);
    EXPECT_EQ(std::tuple(request->header("Content-type"), request->header("X-Shared"), request->bodyText()),
              std::tuple("application/json; charset=utf-8", "shared", R"({"a": 1})"));
    EXPECT_EQ(request->headerValues("Content-Length"), std::vector<std::string>{"8"});
    EXPECT_EQ(request->headerValues("X-Both"), std::vector<std::string>{"call"});

    run([&](auto done) {
        JSONHTTPClient::postJSONFromURLWithString(service_.url("/p"), JSONHTTPParams{{"a", 1}, {"b", "x&y"}}, done);
    });
    request = service_.lastRequest("/p");
    EXPECT_EQ(std::tuple(request->header("Content-type"), request->bodyText(), request->query),
              std::tuple("application/x-www-form-urlencoded; charset=utf-8", "a=1&b=x%26y", ""));

    JSONAPI::setContentType("text/plain");
    get("/p");
    EXPECT_EQ(service_.lastRequest("/p")->header("Content-type"), "text/plain");
    EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString("[1]"), "text/plain; charset=utf-8");
}

TEST_F(JSONHTTPClientTest, FailuresCarryTheResponseAndItsBody) {
    service_.respond("/missing", {404, R"({"message": "nope"})", {}});
    auto outcome = get("/missing");
    ASSERT_TRUE(outcome.error && outcome.error->httpResponse && outcome.error->responseData);
    const auto& error = *outcome.error;
    EXPECT_EQ(std::tuple(error.code, error.localizedDescription(), error.httpResponse->statusCode),
              std::tuple(2, "Bad network response. Probably the JSON URL is unreachable.", 404));
    EXPECT_EQ(std::string(error.responseData->begin(), error.responseData->end()), R"({"message": "nope"})");
    EXPECT_THAT(outcome.json, testing::Optional(JsonEq(R"({"message": "nope"})")));

    // An unreadable body is the platform parser's error, not a mapping error.
    service_.respond("/broken", {200, R"({"a": x})", {}});
    outcome = get("/broken");
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(std::tuple(outcome.error->domain, outcome.error->code, outcome.json),
              std::tuple("NSCocoaErrorDomain", 3840, std::nullopt));
    EXPECT_EQ(outcome.error->localizedDescription(),
              "The data couldn't be read because it isn't in the correct format.");
    EXPECT_EQ(outcome.error->integerForKey("NSJSONSerializationErrorIndex"), 6);
    EXPECT_THAT(outcome.error->stringForKey("NSDebugDescription"), testing::Optional(testing::Not(testing::IsEmpty())));

    service_.respond("/empty", {200, "", {}});
    EXPECT_EQ(get("/empty").error->code, 2);  // no data and no error

    service_.dropConnection("/drop");
    outcome = get("/drop");
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(std::tie(outcome.error->domain, outcome.onMainQueue), std::tuple(platform::NSURLErrorDomain, true));

    outcome = run([](auto done) { JSONHTTPClient::getJSONFromURLWithString("not a url", done); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(std::tie(outcome.error->domain, outcome.error->httpResponse),
              std::tuple(platform::NSURLErrorDomain, std::nullopt));
}

TEST_F(JSONHTTPClientTest, RPCCallsNumberTheirIdsAndReadResultsAndErrors) {
    service_.handle("/rpc", [](const RecordedRequest& request) {
        const std::string method(json::parse(request.bodyText()).at("method").as_string());
        if (method == "sum") return Response{200, R"({"result": 3, "id": 1})", {}};
        if (method == "nothing") return Response{200, R"({"error": {"code": -32000}})", {}};
        if (method == "garbage") return Response{200, R"({"other": 1})", {}};
        return Response{404, R"({"error": {"code": -32601, "message": "Method not found", "data": [1]}})", {}};
    });
    JSONAPI::setAPIBaseURLWithString(service_.url("/rpc"));
    const auto rpc = [](std::string_view method, std::optional<json::array> arguments = {}) {
        return run([&](auto done) { JSONAPI::rpcWithMethodName(method, arguments, done); });
    };

    auto outcome = rpc("sum", json::array{1, 2});
    EXPECT_EQ(std::tie(outcome.error, outcome.json), std::tuple(std::nullopt, json::value(3)));

    outcome = run([](auto done) { JSONAPI::rpc2WithMethodName("missing", std::nullopt, done); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(std::tuple(outcome.error->domain, outcome.error->code, outcome.error->localizedDescription()),
              std::tuple("JSONModelErrorDomain", -32601, "Method not found"));

    EXPECT_EQ(rpc("nothing").error->localizedDescription(), "Generic json rpc error");
    EXPECT_EQ(rpc("garbage").error->code, 2);

    const auto requests = service_.requestsTo("/rpc");
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_THAT(json::parse(requests[0].bodyText()), JsonEq(R"({"id": 1, "params": [1, 2], "method": "sum"})"));
    EXPECT_THAT(json::parse(requests[1].bodyText()),
                JsonEq(R"({"id": 2, "params": [], "method": "missing", "jsonrpc": "2.0"})"));
    EXPECT_EQ(json::parse(requests[2].bodyText()).at("id"), 3);
    EXPECT_EQ(service_.lastRequest("/rpc")->header("Content-type"), "application/json; charset=utf-8");
}

TEST_F(JSONHTTPClientTest, PathsAreAppendedToTheBaseURL) {
    service_.respond("/api/items", {200, R"([1])", {}});
    JSONAPI::setAPIBaseURLWithString(service_.url("/api"));
    const auto items = run([](auto done) { JSONAPI::getWithPath("/items", {{"page", 2}}, done); });
    EXPECT_THAT(items.json, testing::Optional(JsonEq("[1]")));
    EXPECT_EQ(service_.lastRequest("/api/items")->query, "page=2");
    run([](auto done) { JSONAPI::postWithPath("/items", {{"name", "a b"}}, done); });
    EXPECT_EQ(std::tuple(service_.lastRequest("/api/items")->method, service_.lastRequest("/api/items")->bodyText()),
              std::tuple("POST", "name=a%20b"));
}

TEST_F(JSONHTTPClientTest, ModelsLoadAndPostOverHTTP) {
    service_.respond("/field", {200, R"({"value": "loaded"})", {}});
    service_.handle("/echo", [](const RecordedRequest& request) { return Response{200, request.bodyText(), {}}; });
    service_.respond("/wrong", {200, R"({"other": 1})", {}});

    auto outcome = run([&](auto done) { Net::getModelFromURLWithString(service_.url("/field"), done); });
    ASSERT_TRUE(outcome.model);
    EXPECT_EQ(outcome.model->value, "loaded");

    Field outgoing;
    outgoing.value = "sent";
    outcome = run([&](auto done) { Net::postModel(outgoing, service_.url("/echo"), done); });
    ASSERT_TRUE(outcome.model);
    EXPECT_EQ(outcome.model->value, "sent");
    EXPECT_EQ(service_.lastRequest("/echo")->bodyText(), R"({"value":"sent"})");

    // A model that does not import reports the import error.
    outcome = run([&](auto done) { Net::getModelFromURLWithString(service_.url("/wrong"), done); });
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->missingKeys(), std::vector<std::string>{"value"});

    service_.delay("/slow", std::chrono::milliseconds(100));
    service_.respond("/slow", {200, R"({"value": "later"})", {}});
    outcome = run([&](auto done) {
        Net::initFromURLWithString(service_.url("/slow"), done);
        EXPECT_TRUE(JSONModelIsLoading());
    });
    ASSERT_TRUE(outcome.model);
    EXPECT_EQ(std::tie(outcome.onMainQueue, outcome.error, outcome.model->value),
              std::tuple(true, std::nullopt, "later"));
    EXPECT_FALSE(JSONModelIsLoading());
}

TEST(JSONHTTPClientEncodingTest, EncodesAllButTheUnreservedCharacters) {
    EXPECT_EQ(JSONHTTPClient::urlEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(JSONHTTPClient::urlEncode(" !#$&'()*+,/:;=?@[]%"),
              "%20%21%23%24%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40%5B%5D%25");
    EXPECT_EQ(JSONHTTPClient::urlEncode(std::string_view("\xC3\xA9\x00", 3)), "%C3%A9%00");
    for (std::string_view body : {"{}", "[1, 2]"}) {
        EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString(body), "application/json; charset=utf-8");
    }
    for (std::string_view body : {"a=1", "{]"}) {
        EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString(body),
                  "application/x-www-form-urlencoded; charset=utf-8");
    }
}

}  // namespace
}  // namespace ambrell::test

#include <gtest/gtest.h>

#include <future>

#include <boost/json/parse.hpp>

#include "jsonmodel/JSONModel/JSONAPI.h"
#include "jsonmodel/JSONModel/JSONHTTPClient.h"
#include "jsonmodel/JSONModel/JSONModelNetworking.h"
#include "platform/http/HttpErrors.h"
#include "platform/runtime/MainQueue.h"
#include "tests/jsonmodel/JSONModel/TestModels.h"
#include "tests/support/LoopbackWebService.h"

namespace ambrell::test {
namespace {

namespace json = boost::json;

struct Outcome {
    std::optional<json::value> json;
    std::optional<JSONModelError> error;
    bool onMainQueue = false;
};

class JSONHTTPClientTest : public ::testing::Test {
protected:
    JSONHTTPClientTest() {
        JSONHTTPClient::resetForTesting();
        JSONAPI::resetForTesting();
    }
    ~JSONHTTPClientTest() override {
        JSONHTTPClient::resetForTesting();
        JSONAPI::resetForTesting();
    }

    // A completion that records what it got; `wait` gives it back.
    struct Recorder {
        std::shared_ptr<std::promise<Outcome>> promise = std::make_shared<std::promise<Outcome>>();
        std::future<Outcome> future = promise->get_future();

        JSONHTTPClient::JSONCompletion completion() {
            return [promise = promise](std::optional<json::value> json, std::optional<JSONModelError> error) {
                promise->set_value(Outcome{std::move(json), std::move(error), platform::MainQueue::shared().isCurrent()});
            };
        }
        Outcome wait() {
            EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
            return future.get();
        }
    };

    platform::MainQueueThread mainQueue_;
    LoopbackWebService service_;
};

TEST_F(JSONHTTPClientTest, ParametersAreSortedEncodedAndAppendedToTheQuery) {
    service_.respond("/q", {200, R"({"ok": true})", {}});
    Recorder plain;
    JSONHTTPClient::getJSONFromURLWithString(service_.url("/q"), {{"b", 2}, {"a", "x y"}}, plain.completion());
    auto outcome = plain.wait();
    EXPECT_FALSE(outcome.error);
    EXPECT_TRUE(outcome.onMainQueue);
    EXPECT_EQ(outcome.json, json::parse(R"({"ok": true})"));
    EXPECT_EQ(service_.lastRequest("/q")->query, "a=x%20y&b=2");

    Recorder withQuery;
    JSONHTTPClient::getJSONFromURLWithString(service_.url("/q?z=1"), {{"v", "a&b=c/é"}, {"n", -1.5}},
                                             withQuery.completion());
    withQuery.wait();
    EXPECT_EQ(service_.lastRequest("/q")->query, "z=1&n=-1.5&v=a%26b%3Dc%2F%C3%A9");
}

TEST_F(JSONHTTPClientTest, PostsCarryTheirContentTypeAndLength) {
    service_.respond("/p", {200, "[]", {}});
    JSONHTTPClient::setRequestHeader("X-Shared", "shared");
    JSONHTTPClient::setRequestHeader("X-Both", "shared");

    Recorder json;
    JSONHTTPClient::JSONFromURLWithString(service_.url("/p"), "POST", std::nullopt, R"({"a": 1})",
                                          JSONHTTPHeaders{{"X-Both", "call"}}, json.completion());
    json.wait();
    auto request = service_.lastRequest("/p");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("Content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(request->headerValues("Content-Length"), std::vector<std::string>{"8"});
    EXPECT_EQ(request->header("X-Shared"), "shared");
    EXPECT_EQ(request->headerValues("X-Both"), std::vector<std::string>{"call"});
    EXPECT_EQ(request->bodyText(), R"({"a": 1})");

    Recorder form;
    JSONHTTPClient::postJSONFromURLWithString(service_.url("/p"), JSONHTTPParams{{"a", 1}, {"b", "x&y"}},
                                              form.completion());
    form.wait();
    request = service_.lastRequest("/p");
    EXPECT_EQ(request->header("Content-type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(request->bodyText(), "a=1&b=x%26y");
    EXPECT_TRUE(request->query.empty());

    JSONAPI::setContentType("text/plain");
    Recorder fixed;
    JSONHTTPClient::getJSONFromURLWithString(service_.url("/p"), fixed.completion());
    fixed.wait();
    EXPECT_EQ(service_.lastRequest("/p")->header("Content-type"), "text/plain");
    EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString("[1]"), "text/plain; charset=utf-8");
}

TEST_F(JSONHTTPClientTest, FailuresCarryTheResponseAndItsBody) {
    service_.respond("/missing", {404, R"({"message": "nope"})", {}});
    Recorder notFound;
    JSONHTTPClient::getJSONFromURLWithString(service_.url("/missing"), notFound.completion());
    auto outcome = notFound.wait();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, 2);
    EXPECT_EQ(outcome.error->localizedDescription(), "Bad network response. Probably the JSON URL is unreachable.");
    ASSERT_TRUE(outcome.error->httpResponse);
    EXPECT_EQ(outcome.error->httpResponse->statusCode, 404);
    ASSERT_TRUE(outcome.error->responseData);
    EXPECT_EQ(std::string(outcome.error->responseData->begin(), outcome.error->responseData->end()),
              R"({"message": "nope"})");
    EXPECT_EQ(outcome.json, json::parse(R"({"message": "nope"})"));

    service_.respond("/broken", {200, R"({"a": )", {}});
    Recorder malformed;
    JSONHTTPClient::getJSONFromURLWithString(service_.url("/broken"), malformed.completion());
    outcome = malformed.wait();
    EXPECT_EQ(outcome.error->code, 3);
    EXPECT_FALSE(outcome.json);

    service_.respond("/empty", {200, "", {}});
    Recorder empty;
    JSONHTTPClient::getJSONFromURLWithString(service_.url("/empty"), empty.completion());
    outcome = empty.wait();
    EXPECT_EQ(outcome.error->code, 2);  // no data and no error

    service_.dropConnection("/drop");
    Recorder dropped;
    JSONHTTPClient::getJSONFromURLWithString(service_.url("/drop"), dropped.completion());
    outcome = dropped.wait();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, platform::NSURLErrorDomain);
    EXPECT_TRUE(outcome.onMainQueue);

    Recorder unusable;
    JSONHTTPClient::getJSONFromURLWithString("not a url", unusable.completion());
    outcome = unusable.wait();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, platform::NSURLErrorDomain);
    EXPECT_FALSE(outcome.error->httpResponse);
}

TEST_F(JSONHTTPClientTest, RPCCallsNumberTheirIdsAndReadResultsAndErrors) {
    std::vector<json::value> bodies;
    std::mutex mutex;
    service_.handle("/rpc", [&](const RecordedRequest& request) {
        json::value body = json::parse(request.bodyText());
        {
            std::lock_guard lock(mutex);
            bodies.push_back(body);
        }
        const std::string method(body.at("method").as_string());
        if (method == "sum") return LoopbackWebService::Response{200, R"({"result": 3, "id": 1})", {}};
        if (method == "nothing") return LoopbackWebService::Response{200, R"({"error": {"code": -32000}})", {}};
        if (method == "garbage") return LoopbackWebService::Response{200, R"({"other": 1})", {}};
        return LoopbackWebService::Response{
            404, R"({"error": {"code": -32601, "message": "Method not found", "data": [1]}})", {}};
    });
    JSONAPI::setAPIBaseURLWithString(service_.url("/rpc"));

    Recorder first;
    JSONAPI::rpcWithMethodName("sum", json::array{1, 2}, first.completion());
    auto outcome = first.wait();
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.json, json::value(3));

    Recorder second;
    JSONAPI::rpc2WithMethodName("missing", std::nullopt, second.completion());
    outcome = second.wait();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, "JSONModelErrorDomain");
    EXPECT_EQ(outcome.error->code, -32601);
    EXPECT_EQ(outcome.error->localizedDescription(), "Method not found");

    Recorder third;
    JSONAPI::rpcWithMethodName("nothing", std::nullopt, third.completion());
    EXPECT_EQ(third.wait().error->localizedDescription(), "Generic json rpc error");

    Recorder fourth;
    JSONAPI::rpcWithMethodName("garbage", std::nullopt, fourth.completion());
    EXPECT_EQ(fourth.wait().error->code, 2);

    std::lock_guard lock(mutex);
    ASSERT_EQ(bodies.size(), 4u);
    EXPECT_EQ(bodies[0], json::parse(R"({"id": 1, "params": [1, 2], "method": "sum"})"));
    EXPECT_EQ(bodies[1], json::parse(R"({"id": 2, "params": [], "method": "missing", "jsonrpc": "2.0"})"));
    EXPECT_EQ(bodies[2].at("id"), 3);
    EXPECT_EQ(service_.lastRequest("/rpc")->header("Content-type"), "application/json; charset=utf-8");
}

TEST_F(JSONHTTPClientTest, PathsAreAppendedToTheBaseURL) {
    service_.respond("/api/items", {200, R"([1])", {}});
    JSONAPI::setAPIBaseURLWithString(service_.url("/api"));
    Recorder get;
    JSONAPI::getWithPath("/items", {{"page", 2}}, get.completion());
    EXPECT_EQ(get.wait().json, json::parse("[1]"));
    EXPECT_EQ(service_.lastRequest("/api/items")->query, "page=2");
    Recorder post;
    JSONAPI::postWithPath("/items", {{"name", "a b"}}, post.completion());
    post.wait();
    EXPECT_EQ(service_.lastRequest("/api/items")->method, "POST");
    EXPECT_EQ(service_.lastRequest("/api/items")->bodyText(), "name=a%20b");
}

TEST_F(JSONHTTPClientTest, ModelsLoadAndPostOverHTTP) {
    service_.respond("/field", {200, R"({"value": "loaded"})", {}});
    service_.handle("/echo", [](const RecordedRequest& request) {
        return LoopbackWebService::Response{200, request.bodyText(), {}};
    });

    using Net = JSONModelNetworking<Field>;
    auto loaded = std::make_shared<std::promise<std::pair<std::shared_ptr<Field>, std::optional<JSONModelError>>>>();
    Net::getModelFromURLWithString(service_.url("/field"), [loaded](auto model, auto error) {
        loaded->set_value({std::move(model), std::move(error)});
    });
    auto [model, error] = loaded->get_future().get();
    ASSERT_TRUE(model);
    EXPECT_EQ(model->value, "loaded");

    Field outgoing;
    outgoing.value = "sent";
    auto posted = std::make_shared<std::promise<std::shared_ptr<Field>>>();
    Net::postModel(outgoing, service_.url("/echo"), [posted](auto model, auto) { posted->set_value(model); });
    auto echoed = posted->get_future().get();
    ASSERT_TRUE(echoed);
    EXPECT_EQ(echoed->value, "sent");
    EXPECT_EQ(service_.lastRequest("/echo")->bodyText(), R"({"value":"sent"})");

    // A model that does not import reports the import error.
    service_.respond("/wrong", {200, R"({"other": 1})", {}});
    auto failed = std::make_shared<std::promise<std::optional<JSONModelError>>>();
    Net::getModelFromURLWithString(service_.url("/wrong"), [failed](auto, auto error) { failed->set_value(error); });
    auto importError = failed->get_future().get();
    ASSERT_TRUE(importError);
    EXPECT_EQ(importError->missingKeys(), std::vector<std::string>{"value"});

    service_.delay("/slow", std::chrono::milliseconds(100));
    service_.respond("/slow", {200, R"({"value": "later"})", {}});
    auto filled = std::make_shared<std::promise<bool>>();
    auto pending = Net::initFromURLWithString(service_.url("/slow"), [filled](auto model, auto error) {
        filled->set_value(platform::MainQueue::shared().isCurrent() && !error && model->value == "later");
    });
    EXPECT_TRUE(JSONModelIsLoading());
    auto done = filled->get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(done.get());
    EXPECT_FALSE(JSONModelIsLoading());
}

TEST(JSONHTTPClientEncodingTest, EncodesAllButTheUnreservedCharacters) {
    EXPECT_EQ(JSONHTTPClient::urlEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(JSONHTTPClient::urlEncode(" !#$&'()*+,/:;=?@[]%"),
              "%20%21%23%24%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40%5B%5D%25");
    EXPECT_EQ(JSONHTTPClient::urlEncode(std::string_view("\xC3\xA9\x00", 3)), "%C3%A9%00");
    EXPECT_EQ(JSONHTTPClient::urlEncode(json::value(12)), "12");
    EXPECT_EQ(JSONHTTPClient::urlEncode(json::value(0.5)), "0.5");
    EXPECT_EQ(JSONHTTPClient::queryString({{"b", 2}, {"a", "x y"}}), "a=x%20y&b=2");
    EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString("{}"), "application/json; charset=utf-8");
    EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString("[1, 2]"), "application/json; charset=utf-8");
    EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString("a=1"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(JSONHTTPClient::contentTypeForRequestString("{]"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(json::value(JSONAPI::rpcRequest(7, "m", std::nullopt, true)),
              json::parse(R"({"id": 7, "params": [], "method": "m", "jsonrpc": "2.0"})"));
}

}  // namespace
}  // namespace ambrell::test

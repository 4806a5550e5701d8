#include "jsonmodel/JSONModel/JSONAPI.h"

#include <atomic>
#include <mutex>
#include <utility>

#include <boost/json/serialize.hpp>

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

AMBRELL_JSON_MODEL_DEFINE(ambrell::JSONAPIRPCErrorModel)

namespace ambrell {
namespace {

namespace json = boost::json;

struct State {
    std::mutex mutex;
    std::string baseURL;
    std::atomic<std::uint64_t> lastRPCId{0};
};

State& state() {
    static State instance;
    return instance;
}

void rpcCall(std::string_view method, std::optional<json::value> params, bool version2,
             JSONAPI::Completion completion) {
    const std::uint64_t id = state().lastRPCId.fetch_add(1) + 1;
    const std::string body = json::serialize(JSONAPI::rpcRequest(id, method, std::move(params), version2));
    JSONHTTPClient::JSONFromURLWithString(
        JSONAPI::baseURLString(), "POST", std::nullopt, body, std::nullopt,
        [completion = std::move(completion)](std::optional<json::value> answer, std::optional<JSONModelError> error) {
            std::optional<json::value> result;
            JSONAPI::rpcResult(answer, error, result);
            if (completion) completion(std::move(result), std::move(error));
        });
}

}  // namespace

void JSONAPI::setAPIBaseURLWithString(std::string base) {
    std::lock_guard lock(state().mutex);
    state().baseURL = std::move(base);
}

std::string JSONAPI::baseURLString() {
    std::lock_guard lock(state().mutex);
    return state().baseURL;
}

void JSONAPI::setContentType(std::string contentType) { JSONHTTPClient::setRequestContentType(std::move(contentType)); }

void JSONAPI::getWithPath(std::string_view path, const JSONHTTPParams& params, Completion completion) {
    JSONHTTPClient::getJSONFromURLWithString(baseURLString() + std::string(path), params, std::move(completion));
}

void JSONAPI::postWithPath(std::string_view path, const JSONHTTPParams& params, Completion completion) {
    JSONHTTPClient::postJSONFromURLWithString(baseURLString() + std::string(path), params, std::move(completion));
}

void JSONAPI::rpcWithMethodName(std::string_view method, std::optional<json::array> arguments, Completion completion) {
    std::optional<json::value> params;
    if (arguments) params = json::value(std::move(*arguments));
    rpcCall(method, std::move(params), false, std::move(completion));
}

void JSONAPI::rpc2WithMethodName(std::string_view method, std::optional<json::value> params, Completion completion) {
    rpcCall(method, std::move(params), true, std::move(completion));
}

json::object JSONAPI::rpcRequest(std::uint64_t id, std::string_view method, std::optional<json::value> params,
                                 bool version2) {
    json::object request;
    request["id"] = id;
    request["params"] = params ? std::move(*params) : json::value(json::array());
    request["method"] = method;
    if (version2) request["jsonrpc"] = "2.0";
    return request;
}

void JSONAPI::rpcResult(const std::optional<json::value>& answer, std::optional<JSONModelError>& error,
                        std::optional<json::value>& result) {
    result.reset();
    const json::object* object = answer ? answer->if_object() : nullptr;
    if (object != nullptr) {
        if (const json::value* found = object->if_contains("result")) {
            result = *found;
            return;
        }
    }
    auto rpcError = JSONAPIRPCErrorModel::fromDictionary(object != nullptr ? object->if_contains("error") : nullptr);
    if (!rpcError) {
        error = JSONModelError::errorBadResponse();
        return;
    }
    JSONModelError failure;
    failure.domain = std::string(JSONModelErrorDomain);
    failure.code = rpcError->code;
    failure.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey),
                             rpcError->message.value_or("Generic json rpc error"));
    error = std::move(failure);
}

void JSONAPI::resetForTesting() {
    std::lock_guard lock(state().mutex);
    state().baseURL.clear();
    state().lastRPCId = 0;
}

}  // namespace ambrell

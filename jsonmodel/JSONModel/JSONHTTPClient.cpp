#include "jsonmodel/JSONModel/JSONHTTPClient.h"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include <boost/json/serialize.hpp>

#include "jsonmodel/JSONModel/JSONParsing.h"
#include "jsonmodel/JSONModel/JSONValueTransformer.h"
#include "platform/NSErrorException.h"
#include "platform/http/HttpErrors.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell {
namespace {

namespace json = boost::json;

// The platform's code for an authentication the user cancelled.
constexpr std::int64_t kUserCancelledAuthentication = -1012;

struct Settings {
    std::mutex mutex;
    JSONHTTPHeaders headers;
    int timeoutSeconds = 60;
    std::string contentType{JSONHTTPClient::kAutomaticContentType};
};

Settings& settings() {
    static Settings instance;
    return instance;
}

// Lives for the whole process: completions may still be on their way when
// static objects are destroyed.
platform::HttpSession& sharedSession() {
    static auto* session = new platform::HttpSession();
    return *session;
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

JSONModelError transportError(const std::exception_ptr& failure) {
    platform::NSError error;
    try {
        std::rethrow_exception(failure);
    } catch (const platform::NSErrorException& exception) {
        error = exception.error();
    } catch (const platform::CancellationError&) {
        error = platform::makeURLError(platform::NSURLErrorCancelled, "cancelled", "");
    } catch (const std::exception& exception) {
        error = platform::makeURLError(platform::NSURLErrorUnknown, exception.what(), "");
    } catch (...) {
        // Runs on the network thread: nothing may escape from here.
        error = platform::makeURLError(platform::NSURLErrorUnknown, "unknown failure", "");
    }
    JSONModelError converted;
    converted.domain = std::move(error.domain);
    converted.code = error.code;
    converted.userInfo = std::move(error.userInfo);
    return converted;
}

std::string_view textOf(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::vector<std::uint8_t> bodyBytesOf(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace

JSONHTTPHeaders JSONHTTPClient::requestHeaders() {
    std::lock_guard lock(settings().mutex);
    return settings().headers;
}

void JSONHTTPClient::setRequestHeader(std::string name, std::string value) {
    std::lock_guard lock(settings().mutex);
    settings().headers.insert_or_assign(std::move(name), std::move(value));
}

void JSONHTTPClient::removeRequestHeader(std::string_view name) {
    std::lock_guard lock(settings().mutex);
    if (auto found = settings().headers.find(name); found != settings().headers.end()) settings().headers.erase(found);
}

void JSONHTTPClient::setTimeoutInSeconds(int seconds) {
    std::lock_guard lock(settings().mutex);
    settings().timeoutSeconds = seconds;
}

void JSONHTTPClient::setRequestContentType(std::string contentType) {
    std::lock_guard lock(settings().mutex);
    settings().contentType = std::move(contentType);
}

void JSONHTTPClient::resetForTesting() {
    std::lock_guard lock(settings().mutex);
    settings().headers.clear();
    settings().timeoutSeconds = 60;
    settings().contentType = std::string(kAutomaticContentType);
}

std::string JSONHTTPClient::contentTypeForRequestString(std::string_view body) {
    std::string contentType;
    {
        std::lock_guard lock(settings().mutex);
        contentType = settings().contentType;
    }
    if (contentType == kAutomaticContentType && !body.empty()) {
        const char first = body.front();
        const char last = body.back();
        const bool json = (first == '{' && last == '}') || (first == '[' && last == ']');
        contentType = json ? "application/json" : "application/x-www-form-urlencoded";
    }
    return contentType + "; charset=utf-8";
}

std::string JSONHTTPClient::urlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string JSONHTTPClient::urlEncode(const json::value& value) {
    if (const auto* text = value.if_string()) return urlEncode(std::string_view(text->data(), text->size()));
    if (value.is_number() || value.is_bool()) {
        return urlEncode(JSONValueTransformer::shared().NSStringFromNSNumber(value));
    }
    if (value.is_null()) return {};
    return urlEncode(json::serialize(value));
}

std::string JSONHTTPClient::queryString(const JSONHTTPParams& params) {
    std::string query;
    for (const auto& [key, value] : params) {
        if (!query.empty()) query += '&';
        query += key;
        query += '=';
        query += urlEncode(value);
    }
    return query;
}

void JSONHTTPClient::requestDataFromURL(const std::string& url, const std::string& method,
                                        std::optional<std::vector<std::uint8_t>> requestBody,
                                        const std::optional<JSONHTTPHeaders>& headers, DataHandler handler) {
    platform::HttpRequest request;
    request.url = url;
    request.method = method;
    std::string contentType;
    {
        std::lock_guard lock(settings().mutex);
        request.timeout = std::chrono::seconds(settings().timeoutSeconds);
        contentType = settings().contentType;
    }
    if (contentType != kAutomaticContentType) {
        request.headers.set("Content-type", contentType);
    } else if (requestBody) {
        request.headers.set("Content-type", contentTypeForRequestString(textOf(*requestBody)));
    }
    for (const auto& [name, value] : requestHeaders()) request.headers.set(name, value);
    if (headers) {
        for (const auto& [name, value] : *headers) request.headers.set(name, value);
    }
    if (requestBody) {
        request.headers.set("Content-Length", std::to_string(requestBody->size()));
        request.body = std::move(requestBody);
    }
    sharedSession().data(std::move(request),
                         [url, handler = std::move(handler)](platform::TaskResult<platform::HttpDataResult> result) {
                             std::optional<JSONModelError> error;
                             std::optional<platform::HttpResponse> response;
                             std::optional<std::vector<std::uint8_t>> data;
                             if (result.error()) {
                                 error = transportError(result.error());
                                 if (error->code == kUserCancelledAuthentication) {
                                     response = platform::HttpResponse{401, url, {}};
                                 }
                             } else {
                                 auto& answer = result.get();
                                 response = answer.response;
                                 if (answer.response.statusCode < 200 || answer.response.statusCode > 299) {
                                     error = JSONModelError::errorBadResponse();
                                 }
                                 if (!answer.body.empty()) data = std::move(answer.body);
                             }
                             if (error && response) error->httpResponse = response;
                             handler(std::move(data), std::move(error));
                         });
}

void JSONHTTPClient::requestDataFromURL(const std::string& url, const std::string& method, const JSONHTTPParams& params,
                                        const std::optional<JSONHTTPHeaders>& headers, DataHandler handler) {
    const std::string query = queryString(params);
    if (method == "GET") {
        std::string target = url;
        if (!query.empty()) target += (url.find('?') == std::string::npos ? "?" : "&") + query;
        requestDataFromURL(target, method, std::nullopt, headers, std::move(handler));
    } else if (method == "POST") {
        requestDataFromURL(url, method, bodyBytesOf(query), headers, std::move(handler));
    } else {
        requestDataFromURL(url, method, std::nullopt, headers, std::move(handler));
    }
}

void JSONHTTPClient::interpretResponse(std::optional<std::vector<std::uint8_t>> data,
                                       std::optional<JSONModelError>& error, std::optional<json::value>& json) {
    json.reset();
    if (!data && !error) {
        error = JSONModelError::errorBadResponse();
        return;
    }
    if (error) {
        if (data) {
            json = parseJSON(textOf(*data));
            error->responseData = std::move(data);
        }
        return;
    }
    if (data && !data->empty()) {
        JSONParseFailure failure;
        json = parseJSON(textOf(*data), failure);
        if (!json) error = JSONModelError::parseError(failure);
    }
}

void JSONHTTPClient::JSONFromURLWithString(const std::string& url, const std::string& method,
                                           const std::optional<JSONHTTPParams>& params,
                                           std::optional<std::vector<std::uint8_t>> bodyData,
                                           const std::optional<JSONHTTPHeaders>& headers, JSONCompletion completion) {
    DataHandler handler = [completion = std::move(completion)](std::optional<std::vector<std::uint8_t>> data,
                                                               std::optional<JSONModelError> error) {
        auto parsed = std::make_shared<std::optional<json::value>>();
        auto failure = std::make_shared<std::optional<JSONModelError>>(std::move(error));
        interpretResponse(std::move(data), *failure, *parsed);
        if (!completion) return;
        platform::MainQueue::shared().deliver(
            [completion, parsed, failure] { completion(std::move(*parsed), *failure); });
    };
    if (bodyData) {
        requestDataFromURL(url, method, std::move(bodyData), headers, std::move(handler));
    } else {
        requestDataFromURL(url, method, params.value_or(JSONHTTPParams{}), headers, std::move(handler));
    }
}

void JSONHTTPClient::JSONFromURLWithString(const std::string& url, const std::string& method,
                                           const std::optional<JSONHTTPParams>& params, std::string_view bodyString,
                                           const std::optional<JSONHTTPHeaders>& headers, JSONCompletion completion) {
    JSONFromURLWithString(url, method, params, bodyBytesOf(bodyString), headers, std::move(completion));
}

void JSONHTTPClient::getJSONFromURLWithString(const std::string& url, JSONCompletion completion) {
    JSONFromURLWithString(url, "GET", std::nullopt, std::nullopt, std::nullopt, std::move(completion));
}

void JSONHTTPClient::getJSONFromURLWithString(const std::string& url, const JSONHTTPParams& params,
                                              JSONCompletion completion) {
    JSONFromURLWithString(url, "GET", params, std::nullopt, std::nullopt, std::move(completion));
}

void JSONHTTPClient::postJSONFromURLWithString(const std::string& url, const JSONHTTPParams& params,
                                               JSONCompletion completion) {
    JSONFromURLWithString(url, "POST", params, std::nullopt, std::nullopt, std::move(completion));
}

void JSONHTTPClient::postJSONFromURLWithString(const std::string& url, std::string_view bodyString,
                                               JSONCompletion completion) {
    JSONFromURLWithString(url, "POST", std::nullopt, bodyString, std::nullopt, std::move(completion));
}

void JSONHTTPClient::postJSONFromURLWithString(const std::string& url, const std::vector<std::uint8_t>& bodyData,
                                               JSONCompletion completion) {
    postJSONFromURLWithString(url, textOf(bodyData), std::move(completion));
}

}  // namespace ambrell

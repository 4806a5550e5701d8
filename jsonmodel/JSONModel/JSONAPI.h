#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONHTTPClient.h"
#include "jsonmodel/JSONModel/JSONModel.h"

namespace ambrell {

// The "error" object of a JSON-RPC answer.
struct JSONAPIRPCErrorModel : JSONModelOf<JSONAPIRPCErrorModel> {
    std::int32_t code = 0;
    std::optional<std::string> message;
    std::optional<boost::json::value> data;
};
BOOST_DESCRIBE_STRUCT(JSONAPIRPCErrorModel, (JSONModel), (code, message, data))

// Calls on one web service: GET and POST by path under a base URL, and
// JSON-RPC calls posted to the base URL.
//   Completes, Errors, Cancelling: as JSONHTTPClient's JSON requests; an RPC
//     answer's "error" also arrives as a JSONModelError.
class JSONAPI {
public:
    using Completion = JSONHTTPClient::JSONCompletion;

    static void setAPIBaseURLWithString(std::string base);
    [[nodiscard]] static std::string baseURLString();
    // Sets the HTTP client's request content type.
    static void setContentType(std::string contentType);

    // The base URL followed directly by the path.
    static void getWithPath(std::string_view path, const JSONHTTPParams& params, Completion completion);
    static void postWithPath(std::string_view path, const JSONHTTPParams& params, Completion completion);

    // Posts {"id": next id, "params": arguments or [], "method": name}. The
    // completion gets the answer's "result", or the answer's "error" as a
    // JSONModelError with the RPC code and message.
    static void rpcWithMethodName(std::string_view method, std::optional<boost::json::array> arguments,
                                  Completion completion);
    // The same with "jsonrpc": "2.0"; the parameters may be an array or an object.
    static void rpc2WithMethodName(std::string_view method, std::optional<boost::json::value> params,
                                   Completion completion);

    // The request body of a call with the given id.
    [[nodiscard]] static boost::json::object rpcRequest(std::uint64_t id, std::string_view method,
                                                        std::optional<boost::json::value> params, bool version2);
    // (result, error) of a call from the parsed answer and the transport error.
    static void rpcResult(const std::optional<boost::json::value>& answer, std::optional<JSONModelError>& error,
                          std::optional<boost::json::value>& result);

    // Base URL empty and the id counter at 0 again: for tests.
    static void resetForTesting();
};

}  // namespace ambrell

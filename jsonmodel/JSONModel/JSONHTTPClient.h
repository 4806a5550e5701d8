#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONModelError.h"

namespace ambrell {

// Query or form parameters: texts or numbers.
using JSONHTTPParams = std::map<std::string, boost::json::value, std::less<>>;
using JSONHTTPHeaders = std::map<std::string, std::string, std::less<>>;

// The mapping library's own small HTTP layer: sends a request on a shared
// HTTP session and hands back the body, or the parsed JSON on the main queue.
// Settings are process-wide and guarded, so any thread may change them.
//
// For every request below:
//   Completes: a DataHandler once, on the network thread; a JSONCompletion
//     once, on the main queue (on the network thread once the runtime has
//     shut down and the main queue closed).
//   Errors: a JSONModelError for a transport failure, a status of 400 and
//     above, or a body that is not JSON where JSON was asked for.
//   Cancelling: requests cannot be cancelled one by one; the runtime's
//     shutdown aborts them all with a cancelled transport error.
class JSONHTTPClient {
public:
    // (body or none when empty, error or none), called on the network thread.
    using DataHandler = std::function<void(std::optional<std::vector<std::uint8_t>>, std::optional<JSONModelError>)>;
    // (JSON or none, error or none), called on the main queue.
    using JSONCompletion = std::function<void(std::optional<boost::json::value>, std::optional<JSONModelError>)>;

    static constexpr std::string_view kAutomaticContentType = "jsonmodel/automatic";

    // Headers added to every request; a request's own headers win.
    [[nodiscard]] static JSONHTTPHeaders requestHeaders();
    static void setRequestHeader(std::string name, std::string value);
    static void removeRequestHeader(std::string_view name);
    static void setTimeoutInSeconds(int seconds);
    // "jsonmodel/automatic" (the start value) decides per body.
    static void setRequestContentType(std::string contentType);
    // Puts every setting back as at start: for tests. (JSONAPI resets its own id counter.)
    static void resetForTesting();

    // For the automatic type and a non-empty body: "application/json" when the
    // text is enclosed in {} or [], else "application/x-www-form-urlencoded";
    // otherwise the configured type. Then "; charset=utf-8".
    [[nodiscard]] static std::string contentTypeForRequestString(std::string_view body);
    // Every byte outside the unreserved characters of RFC 3986 (letters,
    // digits, "-", ".", "_", "~") as %XX, so "&" and "=" cannot split parameters.
    [[nodiscard]] static std::string urlEncode(std::string_view text);
    [[nodiscard]] static std::string urlEncode(const char* text) { return urlEncode(std::string_view(text)); }
    // A number as its text, then encoded; a string as above; null as "".
    [[nodiscard]] static std::string urlEncode(const boost::json::value& value);
    // "a=x%20y&b=2": keys in ascending order, values encoded.
    [[nodiscard]] static std::string queryString(const JSONHTTPParams& params);

    static void requestDataFromURL(const std::string& url, const std::string& method,
                                   std::optional<std::vector<std::uint8_t>> requestBody,
                                   const std::optional<JSONHTTPHeaders>& headers, DataHandler handler);
    // GET appends the parameters to the URL, POST sends them as the body,
    // other methods send none.
    static void requestDataFromURL(const std::string& url, const std::string& method, const JSONHTTPParams& params,
                                   const std::optional<JSONHTTPHeaders>& headers, DataHandler handler);

    // With body data the body is sent, else the parameters.
    static void JSONFromURLWithString(const std::string& url, const std::string& method,
                                      const std::optional<JSONHTTPParams>& params,
                                      std::optional<std::vector<std::uint8_t>> bodyData,
                                      const std::optional<JSONHTTPHeaders>& headers, JSONCompletion completion);
    static void JSONFromURLWithString(const std::string& url, const std::string& method,
                                      const std::optional<JSONHTTPParams>& params, std::string_view bodyString,
                                      const std::optional<JSONHTTPHeaders>& headers, JSONCompletion completion);

    static void getJSONFromURLWithString(const std::string& url, JSONCompletion completion);
    static void getJSONFromURLWithString(const std::string& url, const JSONHTTPParams& params,
                                         JSONCompletion completion);
    static void postJSONFromURLWithString(const std::string& url, const JSONHTTPParams& params,
                                          JSONCompletion completion);
    static void postJSONFromURLWithString(const std::string& url, std::string_view bodyString,
                                          JSONCompletion completion);
    static void postJSONFromURLWithString(const std::string& url, const std::vector<std::uint8_t>& bodyData,
                                          JSONCompletion completion);

    // How a finished request becomes (JSON, error), as the JSON operations see
    // it. A body that is no JSON gives the platform parser's error (see
    // JSONModelError::parseError), with the parser's reason and offset.
    static void interpretResponse(std::optional<std::vector<std::uint8_t>> data, std::optional<JSONModelError>& error,
                                  std::optional<boost::json::value>& json);
};

}  // namespace ambrell

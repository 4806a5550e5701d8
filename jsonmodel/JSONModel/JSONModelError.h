#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jsonmodel/JSONModel/JSONParsing.h"
#include "platform/Error.h"
#include "platform/http/HttpTypes.h"

namespace ambrell {

inline constexpr std::string_view JSONModelErrorDomain = "JSONModelErrorDomain";
inline constexpr std::string_view kJSONModelMissingKeys = "kJSONModelMissingKeys";
inline constexpr std::string_view kJSONModelTypeMismatch = "kJSONModelTypeMismatch";
inline constexpr std::string_view kJSONModelKeyPath = "kJSONModelKeyPath";
// Where an error about text that is no JSON carries the parser's reason and
// the byte offset at which it gave up: the platform parser's own keys.
inline constexpr std::string_view kJSONParseReasonKey = "NSDebugDescription";
inline constexpr std::string_view kJSONParseOffsetKey = "NSJSONSerializationErrorIndex";
inline constexpr std::string_view kJSONParseErrorDomain = "NSCocoaErrorDomain";
inline constexpr std::int64_t kJSONParseErrorCode = 3840;

enum JSONModelErrorCode : std::int64_t {
    kJSONModelErrorInvalidData = 1,
    kJSONModelErrorBadResponse = 2,
    kJSONModelErrorBadJSON = 3,
    kJSONModelErrorModelIsInvalid = 4,
    kJSONModelErrorNilInput = 5,
};

// A failure of the JSON object mapping. The key path under kJSONModelKeyPath
// locates the failing value from the outermost model and grows as the error
// travels outwards through nested models and collections.
struct JSONModelError : platform::NSError {
    // Set only by the JSON HTTP client: the response that came with the failure and its body.
    std::optional<platform::HttpResponse> httpResponse;
    std::optional<std::vector<std::uint8_t>> responseData;

    [[nodiscard]] static JSONModelError errorInvalidDataWithMessage(std::string_view message);
    // The missing names travel in the user info as a list of texts under
    // kJSONModelMissingKeys; missingKeys() gives them back.
    [[nodiscard]] static JSONModelError errorInvalidDataWithMissingKeys(std::span<const std::string> keys);
    [[nodiscard]] static JSONModelError errorInvalidDataWithTypeMismatch(std::string_view mismatch);
    [[nodiscard]] static JSONModelError errorBadResponse();
    [[nodiscard]] static JSONModelError errorBadJSON();
    // Error 3 with the parser's reason and offset in the user info, so a
    // caller can tell a truncated answer from a bad number.
    [[nodiscard]] static JSONModelError errorBadJSON(const JSONParseFailure& failure);
    // The platform parser's own error (domain kJSONParseErrorDomain, code
    // kJSONParseErrorCode), as the JSON HTTP client reports an unreadable body.
    [[nodiscard]] static JSONModelError parseError(const JSONParseFailure& failure);
    [[nodiscard]] static JSONModelError errorModelIsInvalid();
    [[nodiscard]] static JSONModelError errorInputIsNil();

    // A copy whose key path starts with the component: "a" before "b" gives
    // "a.b", before "[0]" gives "a[0]"; the response fields are not carried over.
    [[nodiscard]] JSONModelError errorByPrependingKeyPathComponent(std::string_view component) const;

    [[nodiscard]] std::optional<std::string> keyPath() const { return stringForKey(kJSONModelKeyPath); }
    [[nodiscard]] std::optional<std::string> typeMismatch() const { return stringForKey(kJSONModelTypeMismatch); }
    [[nodiscard]] std::vector<std::string> missingKeys() const {
        return stringsForKey(kJSONModelMissingKeys).value_or(std::vector<std::string>());
    }
};

// Where a mapping operation reports its failure: the caller passes the address
// of an empty optional, or nullptr when it does not want the error.
using JSONModelErrorOut = std::optional<JSONModelError>*;

inline void setJSONModelError(JSONModelErrorOut out, JSONModelError error) {
    if (out != nullptr) *out = std::move(error);
}

}  // namespace ambrell

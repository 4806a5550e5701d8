#include "jsonmodel/JSONModel/JSONModelError.h"

#include <utility>

namespace ambrell {
namespace {

JSONModelError makeError(std::int64_t code, std::string description) {
    JSONModelError error;
    error.domain = std::string(JSONModelErrorDomain);
    error.code = code;
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), std::move(description));
    return error;
}

void addParseFailure(JSONModelError& error, const JSONParseFailure& failure) {
    error.userInfo.insert_or_assign(std::string(kJSONParseReasonKey), failure.reason);
    error.userInfo.insert_or_assign(std::string(kJSONParseOffsetKey), static_cast<std::int64_t>(failure.offset));
}

}  // namespace

JSONModelError JSONModelError::errorInvalidDataWithMessage(std::string_view message) {
    return makeError(kJSONModelErrorInvalidData, "Invalid JSON data: " + std::string(message));
}

JSONModelError JSONModelError::errorInvalidDataWithMissingKeys(std::span<const std::string> keys) {
    auto error = makeError(kJSONModelErrorInvalidData,
                           "Invalid JSON data. Required JSON keys are missing from the input. Check the error user "
                           "information.");
    error.userInfo.emplace(std::string(kJSONModelMissingKeys), std::vector<std::string>(keys.begin(), keys.end()));
    return error;
}

JSONModelError JSONModelError::errorInvalidDataWithTypeMismatch(std::string_view mismatch) {
    auto error = makeError(kJSONModelErrorInvalidData,
                           "Invalid JSON data. The JSON type mismatches the expected type. Check the error user "
                           "information.");
    error.userInfo.emplace(std::string(kJSONModelTypeMismatch), std::string(mismatch));
    return error;
}

JSONModelError JSONModelError::errorBadResponse() {
    return makeError(kJSONModelErrorBadResponse, "Bad network response. Probably the JSON URL is unreachable.");
}

JSONModelError JSONModelError::errorBadJSON() {
    return makeError(kJSONModelErrorBadJSON, "Malformed JSON. Check the JSONModel data input.");
}

JSONModelError JSONModelError::errorBadJSON(const JSONParseFailure& failure) {
    auto error = errorBadJSON();
    addParseFailure(error, failure);
    return error;
}

JSONModelError JSONModelError::parseError(const JSONParseFailure& failure) {
    JSONModelError error;
    error.domain = std::string(kJSONParseErrorDomain);
    error.code = kJSONParseErrorCode;
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey),
                           "The data couldn't be read because it isn't in the correct format.");
    addParseFailure(error, failure);
    return error;
}

JSONModelError JSONModelError::errorModelIsInvalid() {
    return makeError(kJSONModelErrorModelIsInvalid,
                     "Model does not validate. The custom validation for the input data failed.");
}

JSONModelError JSONModelError::errorInputIsNil() {
    return makeError(kJSONModelErrorNilInput, "Initializing model with nil input object.");
}

JSONModelError JSONModelError::errorByPrependingKeyPathComponent(std::string_view component) const {
    JSONModelError copy;
    copy.domain = domain;
    copy.code = code;
    copy.userInfo = userInfo;
    std::string path(component);
    if (auto old = keyPath()) {
        if (!old->starts_with('[')) path += '.';
        path += *old;
    }
    copy.userInfo.insert_or_assign(std::string(kJSONModelKeyPath), std::move(path));
    return copy;
}

}  // namespace ambrell

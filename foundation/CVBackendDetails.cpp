#include "foundation/CVBackendDetails.h"

#include <cstdint>
#include <string_view>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/ErrorObjects.h"
#include "platform/NSErrorException.h"

namespace ambrell {

namespace {

// The codes the platform's decoders report, so callers that compare codes see
// what they would see on the platform.
constexpr std::string_view kDecodingErrorDomain = "NSCocoaErrorDomain";
constexpr std::int64_t kValueNotFoundCode = 4865;
constexpr std::int64_t kWrongTypeCode = 4864;

std::string_view kindName(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::null: return "null";
        case boost::json::kind::bool_: return "a Boolean";
        case boost::json::kind::int64:
        case boost::json::kind::uint64:
        case boost::json::kind::double_: return "a number";
        case boost::json::kind::string: return "a string";
        case boost::json::kind::array: return "an array";
        case boost::json::kind::object: return "an object";
    }
    return "an unknown value";
}

[[noreturn]] void fail(std::int64_t code, std::string description) {
    throw platform::NSErrorException(
        errorWithDescription(std::string(kDecodingErrorDomain), code, std::move(description)));
}

[[noreturn]] void failMissing(const std::string& path) {
    fail(kValueNotFoundCode, "The data couldn't be read because it is missing: no value for \"" + path + "\".");
}

[[noreturn]] void failWrongType(const std::string& path, std::string_view expected, const boost::json::value& found) {
    fail(kWrongTypeCode, "The data couldn't be read because it isn't in the correct format: \"" + path +
                             "\" should be " + std::string(expected) + ", not " + std::string(kindName(found)) + ".");
}

std::string pathOf(std::string_view parent, std::string_view key) {
    return parent.empty() ? std::string(key) : std::string(parent) + "." + std::string(key);
}

// Null counts as absent, as it does for the platform's optional decoding.
const boost::json::value* presentValue(const boost::json::object& object, std::string_view key) {
    const auto* value = object.if_contains(key);
    return value == nullptr || value->is_null() ? nullptr : value;
}

const boost::json::value& requiredValue(const boost::json::object& object, std::string_view key,
                                        const std::string& path) {
    const auto* value = presentValue(object, key);
    if (value == nullptr) failMissing(path);
    return *value;
}

std::string stringValue(const boost::json::value& value, const std::string& path) {
    if (!value.is_string()) failWrongType(path, "a string", value);
    const auto& text = value.get_string();
    return std::string(text.data(), text.size());
}

std::vector<std::string> stringArray(const boost::json::value& value, const std::string& path) {
    if (!value.is_array()) failWrongType(path, "an array", value);
    std::vector<std::string> strings;
    const auto& array = value.get_array();
    strings.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) {
        const auto elementPath = path + "[" + std::to_string(i) + "]";
        if (array[i].is_null()) failMissing(elementPath);
        strings.push_back(stringValue(array[i], elementPath));
    }
    return strings;
}

std::shared_ptr<const CVAuthClientInfo> authClient(const boost::json::value& value, const std::string& path) {
    if (value.is_null()) failMissing(path);
    if (!value.is_object()) failWrongType(path, "an object", value);
    const auto& object = value.get_object();
    const auto idPath = pathOf(path, "clientId");
    const auto providersPath = pathOf(path, "preferredIDPs");
    auto clientID = stringValue(requiredValue(object, "clientId", idPath), idPath);
    auto providers = stringArray(requiredValue(object, "preferredIDPs", providersPath), providersPath);
    return std::make_shared<const CVAuthClientInfoInternal>(std::move(clientID), std::move(providers));
}

}  // namespace

std::shared_ptr<CVBackendDetails> CVBackendDetails::fromJSONDictionary(const boost::json::object& dictionary) {
    std::shared_ptr<CVBackendDetails> details(new CVBackendDetails());

    if (const auto* issuer = presentValue(dictionary, "authIssuer")) {
        details->authIssuer_ = stringValue(*issuer, "authIssuer");
    }
    if (const auto* required = presentValue(dictionary, "authRequired")) {
        if (!required->is_bool()) failWrongType("authRequired", "a Boolean", *required);
        details->isAuthRequired_ = required->get_bool();
    }
    if (const auto* clients = presentValue(dictionary, "authClients")) {
        if (!clients->is_array()) failWrongType("authClients", "an array", *clients);
        const auto& array = clients->get_array();
        details->authClients_.reserve(array.size());
        for (std::size_t i = 0; i < array.size(); ++i) {
            details->authClients_.push_back(authClient(array[i], "authClients[" + std::to_string(i) + "]"));
        }
    }
    if (const auto* token = presentValue(dictionary, "sessionToken")) {
        details->sessionToken_ = stringValue(*token, "sessionToken");
    }
    return details;
}

}  // namespace ambrell

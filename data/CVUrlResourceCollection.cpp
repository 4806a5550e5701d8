#include "data/CVUrlResourceCollection.h"

#include <array>
#include <cctype>
#include <cmath>
#include <limits>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

namespace ambrell {

namespace {

namespace json = boost::json;

// A number's integer value, truncated and held to the 64-bit range, as the
// platform reads a long long from any number; anything else is 0.
std::int64_t integerValue(const json::value* value) {
    if (value == nullptr) return 0;
    switch (value->kind()) {
        case json::kind::int64: return value->get_int64();
        case json::kind::uint64: {
            const std::uint64_t number = value->get_uint64();
            constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
            return number > kMax ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(number);
        }
        case json::kind::double_: {
            const double number = std::trunc(value->get_double());
            if (number >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
            if (number <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
            return static_cast<std::int64_t>(number);
        }
        default: return 0;
    }
}

std::optional<std::string> textOf(const json::value* value) {
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return std::string(value->get_string());
}

std::optional<std::string> canonicalType(std::optional<std::string> type) {
    if (!type) return type;
    std::string lower = *type;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    constexpr std::array<std::string_view, 4> kKinds{CVUrlResourceGroup::kTypeJson, CVUrlResourceGroup::kTypeImages,
                                                     CVUrlResourceGroup::kTypeExternalImages,
                                                     CVUrlResourceGroup::kTypeTiles};
    for (const auto kind : kKinds) {
        if (lower == kind) return std::string(kind);
    }
    return type;
}

}  // namespace

CVUrlResourceGroup::CVUrlResourceGroup(std::optional<std::string> type, std::optional<std::vector<std::string>> urls,
                                       std::int64_t estimatedSize)
    : type_(canonicalType(std::move(type))), urls_(std::move(urls)), estimatedSize_(estimatedSize) {}

std::optional<std::string> CVUrlResourceGroup::typeFromThing(const boost::json::value& thing) {
    return canonicalType(textOf(&thing));
}

std::optional<CVUrlResourceGroup> CVUrlResourceGroup::initWithJsonValue(const boost::json::value& value) {
    if (!value.is_object()) return std::nullopt;
    return initWithJsonDictionary(value.get_object());
}

CVUrlResourceGroup CVUrlResourceGroup::initWithJsonDictionary(const boost::json::object& dictionary) {
    std::optional<std::vector<std::string>> urls;
    if (const auto* list = dictionary.if_contains("urls"); list != nullptr && list->is_array()) {
        urls.emplace();
        for (const auto& url : list->get_array()) {
            if (url.is_string()) urls->emplace_back(url.get_string());
        }
    }
    // The constructor makes a known type its constant.
    return CVUrlResourceGroup(textOf(dictionary.if_contains("type")), std::move(urls),
                              integerValue(dictionary.if_contains("estimatedSize")));
}

std::optional<CVUrlResourceCollection> CVUrlResourceCollection::initWithJsonValue(const boost::json::value& value) {
    if (!value.is_object()) return std::nullopt;
    return initWithJsonDictionary(value.get_object());
}

CVUrlResourceCollection CVUrlResourceCollection::initWithJsonDictionary(const boost::json::object& dictionary) {
    CVUrlResourceCollection collection;
    if (const auto* resources = dictionary.if_contains("resources"); resources != nullptr && resources->is_array()) {
        for (const auto& element : resources->get_array()) {
            auto group = CVUrlResourceGroup::initWithJsonValue(element);
            // A group of no type has nowhere to be filed.
            if (!group || !group->type()) continue;
            const std::string type = *group->type();
            collection.resources_.insert_or_assign(type, std::move(*group));
        }
    }
    collection.totalEstimatedSize_ = integerValue(dictionary.if_contains("totalEstimatedSize"));
    collection.name_ = textOf(dictionary.if_contains("name"));
    collection.datasetId_ = textOf(dictionary.if_contains("id"));
    return collection;
}

}  // namespace ambrell

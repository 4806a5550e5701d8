#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

namespace ambrell {

// One kind of downloadable resource of a data set, as the "dataset" sync
// document lists it: {"type": "images", "urls": [...], "estimatedSize": 52311}.
// Read-only once made.
class CVUrlResourceGroup {
public:
    static constexpr std::string_view kTypeJson = "json";
    static constexpr std::string_view kTypeImages = "images";
    static constexpr std::string_view kTypeExternalImages = "externalimages";
    static constexpr std::string_view kTypeTiles = "tiles";

    // The type and its urls copied; a type naming a known kind in any letter
    // case becomes that kind's constant.
    CVUrlResourceGroup(std::optional<std::string> type, std::optional<std::vector<std::string>> urls,
                       std::int64_t estimatedSize);

    // None unless the value is an object.
    [[nodiscard]] static std::optional<CVUrlResourceGroup> initWithJsonValue(const boost::json::value& value);
    // "urls": its text elements in order (none when it is no array);
    // "estimatedSize": its integer value when it is a number, else 0.
    [[nodiscard]] static CVUrlResourceGroup initWithJsonDictionary(const boost::json::object& dictionary);

    // A known kind, a text as it came, or none when the document's "type" is
    // not a text.
    [[nodiscard]] const std::optional<std::string>& type() const { return type_; }
    [[nodiscard]] const std::optional<std::vector<std::string>>& urls() const { return urls_; }
    [[nodiscard]] std::int64_t estimatedSize() const { return estimatedSize_; }

    // A text matching a known kind, ignoring letter case, is that kind; any
    // other text is kept as it is; anything else is no type.
    [[nodiscard]] static std::optional<std::string> typeFromThing(const boost::json::value& thing);

private:
    std::optional<std::string> type_;
    std::optional<std::vector<std::string>> urls_;
    std::int64_t estimatedSize_ = 0;
};

// The "dataset" sync document: what a data set holds and how big it is.
// {"id": "...", "name": "...", "totalEstimatedSize": 1234, "resources": [group, ...]}.
// Read-only once made.
class CVUrlResourceCollection {
public:
    // None unless the value is an object.
    [[nodiscard]] static std::optional<CVUrlResourceCollection> initWithJsonValue(const boost::json::value& value);
    // Each group is filed under its type (a later group of a type replaces an
    // earlier one; a group without a type is left out); "totalEstimatedSize"
    // is its integer value when it is a number, else 0.
    [[nodiscard]] static CVUrlResourceCollection initWithJsonDictionary(const boost::json::object& dictionary);

    [[nodiscard]] const std::map<std::string, CVUrlResourceGroup>& resources() const { return resources_; }
    [[nodiscard]] std::int64_t totalEstimatedSize() const { return totalEstimatedSize_; }
    // The texts of "name" and "id"; none when they are not texts.
    [[nodiscard]] const std::optional<std::string>& name() const { return name_; }
    [[nodiscard]] const std::optional<std::string>& datasetId() const { return datasetId_; }

private:
    CVUrlResourceCollection() = default;

    std::map<std::string, CVUrlResourceGroup> resources_;
    std::int64_t totalEstimatedSize_ = 0;
    std::optional<std::string> name_;
    std::optional<std::string> datasetId_;
};

}  // namespace ambrell

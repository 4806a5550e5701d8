#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "viewmodels/CVModelPropertyKey.h"
#include "viewmodels/CVRenderedFeatureType.h"
#include "viewmodels/CVViewModelFeatureGeometry.h"

namespace ambrell {

// The kinds of value a feature property holds, each written to JSON by its
// own encoding: text as a string, the numbers as numbers, a Boolean as
// true/false, an array of numbers as an array, a rendered feature kind as
// its raw string. Give unsigned values as std::uint64_t.
using CVFeaturePropertyValue =
    std::variant<std::string, bool, std::int64_t, std::uint64_t, double, std::vector<double>, CVRenderedFeatureType>;

// Ordered by key case, so that a feature's text does not depend on the order
// in which its properties were set.
using CVFeatureProperties = std::map<CVModelPropertyKey, CVFeaturePropertyValue>;

// One drawable part of a view model: a GeoJSON Feature with an id, its
// properties and its geometry. A value type.
class CVViewModelFeature {
public:
    // Builders give the type "Feature".
    CVViewModelFeature(std::string type, std::string id, CVFeatureProperties properties,
                       CVViewModelFeatureGeometry geometry);

    [[nodiscard]] const std::string& type() const { return type_; }

    [[nodiscard]] const std::string& id() const { return id_; }
    void setId(std::string id) { id_ = std::move(id); }

    [[nodiscard]] const CVFeatureProperties& properties() const { return properties_; }
    [[nodiscard]] CVFeatureProperties& properties() { return properties_; }

    [[nodiscard]] const CVViewModelFeatureGeometry& geometry() const { return geometry_; }
    void setGeometry(CVViewModelFeatureGeometry geometry) { geometry_ = std::move(geometry); }

    // The feature's GeoJSON text: "id", "type", "geometry" and, when there is
    // at least one property, "properties" in key case order. Pretty output
    // differs from compact output only in whitespace. A number that is not
    // finite cannot be written: the text is then an error message naming the
    // feature's id and the key (or "coordinates"), which is also logged.
    [[nodiscard]] std::string toGeoJson(bool pretty = false) const;

    // Equal when the compact texts are equal.
    friend bool operator==(const CVViewModelFeature& lhs, const CVViewModelFeature& rhs);

private:
    // The compact text, or the error message, without logging it.
    [[nodiscard]] std::string geoJsonText(bool pretty, bool logFailure) const;

    std::string type_;
    std::string id_;
    CVFeatureProperties properties_;
    CVViewModelFeatureGeometry geometry_;
};

}  // namespace ambrell

// By id alone: equal texts imply equal ids.
template <>
struct std::hash<ambrell::CVViewModelFeature> {
    std::size_t operator()(const ambrell::CVViewModelFeature& feature) const noexcept {
        return std::hash<std::string>()(feature.id());
    }
};

#include "viewmodels/CVRenderedFeatureType.h"

#include <array>

#include <boost/json/value.hpp>

namespace ambrell {

namespace rendered_feature_type {
namespace {

constexpr std::array<std::string_view, 8> rawStrings = {
    "undefined", "marker", "polygon", "model2d", "model3d", "floorplan", "featureExtrusion", "wallExtrusion",
};

}  // namespace
}  // namespace rendered_feature_type

std::string_view rawValue(CVRenderedFeatureType type) noexcept {
    const auto index = static_cast<std::size_t>(type);
    return index < rendered_feature_type::rawStrings.size() ? rendered_feature_type::rawStrings[index]
                                                            : std::string_view();
}

std::optional<CVRenderedFeatureType> renderedFeatureTypeFromRawValue(std::string_view rawValue) noexcept {
    for (std::size_t index = 0; index < rendered_feature_type::rawStrings.size(); ++index) {
        if (rendered_feature_type::rawStrings[index] == rawValue) return static_cast<CVRenderedFeatureType>(index);
    }
    return std::nullopt;
}

std::optional<CVRenderedFeatureType> renderedFeatureTypeFromJson(const boost::json::value& json) noexcept {
    const auto* text = json.if_string();
    if (text == nullptr) return std::nullopt;
    return renderedFeatureTypeFromRawValue(std::string_view(*text));
}

}  // namespace ambrell

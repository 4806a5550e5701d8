#pragma once

// View models written out whole as text, so that the benchmarks can tell
// whether two arms made the same thing: equality of view models goes by id
// alone. Each model gives its id, its flags, every feature it has as GeoJSON
// and its side data's keys, an image by its size and a hash of its pixels.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Image.h"
#include "viewmodels/ClusterEngine.h"
#include "viewmodels/ViewModel.h"

namespace ambrell::bench {

inline void appendImageText(std::string& text, const platform::Image& image) {
    // FNV-1a over the pixels: two different icons that hash alike are not a worry here.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const std::uint32_t pixel : image.pixels()) {
        hash = (hash ^ pixel) * 1099511628211ULL;
    }
    text += std::to_string(image.width()) + "x" + std::to_string(image.height()) + "@" + std::to_string(image.scale()) +
            "#" + std::to_string(hash);
}

inline std::string textOf(const ViewModel& model) {
    std::string text = model.id;
    text += model.showInfoWindow ? " info" : "";
    text += model.isClickable ? " clickable" : "";
    const std::pair<const char*, const std::optional<CVViewModelFeature>*> features[] = {
        {"marker", &model.marker},
        {"polygon", &model.polygon},
        {"polyline", &model.polyline},
        {"model2D", &model.model2D},
        {"model3D", &model.model3D},
        {"wallExtrusion", &model.wallExtrusion},
        {"floorPlanExtrusion", &model.floorPlanExtrusion},
        {"featureExtrusion", &model.featureExtrusion},
    };
    for (const auto& [name, feature] : features) {
        if (*feature) text += std::string(" ") + name + " " + (*feature)->toGeoJson();
    }
    for (const auto& [key, value] : model.data) {
        text += " data" + std::to_string(static_cast<int>(key)) + " ";
        if (const platform::Image* image = viewModelImage(model, key)) {
            appendImageText(text, *image);
        } else {
            text += value.has_value() ? value.type().name() : "empty";
        }
    }
    return text;
}

// One line per model, in the list's order.
inline std::string textOf(const std::vector<ViewModel>& models) {
    std::string text;
    for (const auto& model : models) {
        text += textOf(model);
        text += '\n';
    }
    return text;
}

}  // namespace ambrell::bench

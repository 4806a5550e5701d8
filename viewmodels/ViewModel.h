#pragma once

#include <any>
#include <concepts>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "viewmodels/CVViewModelFeature.h"

namespace ambrell {

// The keys of a view model's side data.
enum class CVModelData {
    // The marker's icon, a platform::Image.
    icon,
    // The 2D model's image, a platform::Image.
    model2D,
    // Kept for adapters; the library stores nothing under it.
    model3D,
};

// What every view model offers the map-provider adapter: an id that is its
// identity, the feature slots (an empty slot draws nothing of that kind), the
// side data and the two flags. Equality and hashing go by id alone, so sets
// and maps of view models hold one per id.
template <typename Model>
concept CVViewModel = std::equality_comparable<Model> && requires(Model model) {
    { model.id } -> std::convertible_to<std::string>;
    { model.marker } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.polygon } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.polyline } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.model2D } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.model3D } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.wallExtrusion } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.floorPlanExtrusion } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.featureExtrusion } -> std::convertible_to<std::optional<CVViewModelFeature>>;
    { model.data } -> std::convertible_to<std::map<CVModelData, std::any>>;
    { model.showInfoWindow } -> std::convertible_to<bool>;
    { model.isClickable } -> std::convertible_to<bool>;
    { std::hash<Model>()(model) } -> std::convertible_to<std::size_t>;
};

// The bundle that stands for one object on the map (a location, a building,
// a cluster, a route marker). A value type: a copy shares nothing with the
// original. Producers fill it field by field.
struct ViewModel {
    // A location's id for a location; other producers choose their own.
    std::string id;
    std::optional<CVViewModelFeature> marker;
    std::optional<CVViewModelFeature> polygon;
    std::optional<CVViewModelFeature> polyline;
    std::optional<CVViewModelFeature> model2D;
    std::optional<CVViewModelFeature> model3D;
    std::optional<CVViewModelFeature> wallExtrusion;
    std::optional<CVViewModelFeature> floorPlanExtrusion;
    std::optional<CVViewModelFeature> featureExtrusion;
    // An empty std::any is a present key with no value.
    std::map<CVModelData, std::any> data;
    // Whether the adapter is to open an info window for this object.
    bool showInfoWindow = false;
    // Whether taps on this object are reported.
    bool isClickable = false;

    // By id alone: features, data and flags are ignored.
    friend bool operator==(const ViewModel& lhs, const ViewModel& rhs) { return lhs.id == rhs.id; }
};

}  // namespace ambrell

template <>
struct std::hash<ambrell::ViewModel> {
    std::size_t operator()(const ambrell::ViewModel& model) const noexcept {
        return std::hash<std::string>()(model.id);
    }
};

static_assert(ambrell::CVViewModel<ambrell::ViewModel>);

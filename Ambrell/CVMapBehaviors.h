#pragma once

#include <cstdint>

namespace ambrell {

// How a selection shows on the map.
struct CVSelectionBehavior {
    bool moveCamera = true;
    bool showInfoWindow = true;
    bool allowFloorChange = true;
    // With moveCamera: fit the camera to the whole entity and take its floor,
    // rather than only centre on it.
    bool zoomToFit = true;

    [[nodiscard]] static CVSelectionBehavior defaultBehavior() { return {}; }
    friend bool operator==(const CVSelectionBehavior&, const CVSelectionBehavior&) = default;
};

// Whether setting a filter fits the camera to what the filter lets through.
struct CVFilterBehavior {
    bool moveCamera = false;

    [[nodiscard]] static CVFilterBehavior defaultBehavior() { return {}; }
    friend bool operator==(const CVFilterBehavior&, const CVFilterBehavior&) = default;
};

// Whether setting a highlight fits the camera to the highlighted locations.
struct CVHighlightBehavior {
    bool moveCamera = false;

    [[nodiscard]] static CVHighlightBehavior defaultBehavior() { return {}; }
    friend bool operator==(const CVHighlightBehavior&, const CVHighlightBehavior&) = default;
};

// Who picks the floor (or building) the map shows: the camera, or the host
// and the user alone.
enum class CVSelectionMode : std::int32_t {
    manual = 0,
    automatic = 1,
};

}  // namespace ambrell

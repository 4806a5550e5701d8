#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "Ambrell/CVCustomClusterIcon.h"
#include "Ambrell/CVCustomInfoWindow.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVMapBehaviors.h"
#include "Ambrell/CVMapControlDelegate.h"
#include "Ambrell/CVMapStyle.h"
#include "Ambrell/CVQuery.h"
#include "viewmodels/CVMapProvider.h"
#include "viewmodels/FontStyle.h"

namespace ambrell {

// The state of one map, owned by its map control, which guards it.
struct MapState {
    std::shared_ptr<CVCameraOperator> camera;
    std::shared_ptr<CVMapControlDelegate> developerDelegate;
    CVSelectionBehavior currentSelectionBehavior = CVSelectionBehavior::defaultBehavior();
    CVFilterBehavior currentFilterBehavior = CVFilterBehavior::defaultBehavior();
    CVHighlightBehavior currentHighlightBehavior = CVHighlightBehavior::defaultBehavior();
    std::vector<std::shared_ptr<CVLocation>> currentHighlight;
    // The host's own object: renders write into it.
    std::shared_ptr<CVFilter> filter;
    std::shared_ptr<CVMapStyle> mapStyle;
    std::shared_ptr<CVCustomClusterIcon> customClusterIcon;
    std::shared_ptr<CVCustomInfoWindow> customInfoWindow;
    std::optional<FontStyle> internalFontStyle;
    std::chrono::steady_clock::time_point lastUpdateTimestamp;
    CVSelectionMode floorSelectionMode = CVSelectionMode::automatic;
    CVSelectionMode buildingSelectionMode = CVSelectionMode::automatic;
};

}  // namespace ambrell

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVCameraPosition.h"
#include "Ambrell/CVCustomClusterIcon.h"
#include "Ambrell/CVCustomFloorSelector.h"
#include "Ambrell/CVCustomInfoWindow.h"
#include "Ambrell/CVDirectionsRenderer.h"
#include "Ambrell/CVLiveUpdate.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVMapBehaviors.h"
#include "Ambrell/CVMapControlDelegate.h"
#include "Ambrell/CVMapStyle.h"
#include "Ambrell/CVPositionProvider.h"
#include "Ambrell/CVQuery.h"
#include "Ambrell/CVVenue.h"
#include "platform/CGRect.h"
#include "platform/Color.h"
#include "platform/Text.h"

namespace ambrell {

// Takes the live updates of one domain type, on the thread live data
// delivers them on.
using CVLiveUpdateListener = std::function<void(const std::shared_ptr<const CVLiveUpdate>&)>;

// One map on screen, as the host drives it. Safe from any thread.
class CVMapControl {
public:
    virtual ~CVMapControl() = default;

    [[nodiscard]] virtual CVSelectionMode floorSelectionMode() const = 0;
    virtual void setFloorSelectionMode(CVSelectionMode mode) = 0;
    [[nodiscard]] virtual CVSelectionMode buildingSelectionMode() const = 0;
    virtual void setBuildingSelectionMode(CVSelectionMode mode) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVCustomClusterIcon> customClusterIcon() const = 0;
    virtual void setCustomClusterIcon(std::shared_ptr<CVCustomClusterIcon> icon) = 0;
    // The host's, or a new default one (not kept) when it gave none.
    [[nodiscard]] virtual std::shared_ptr<CVCustomInfoWindow> customInfoWindow() const = 0;
    virtual void setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVMapControlDelegate> delegate() const = 0;
    virtual void setDelegate(std::shared_ptr<CVMapControlDelegate> delegate) = 0;
    // Raw CVFeatureType values the map does not draw, from the next render on.
    [[nodiscard]] virtual std::vector<std::int64_t> hiddenFeatures() const = 0;
    virtual void setHiddenFeatures(std::vector<std::int64_t> features) = 0;
    // The adapter's padding; a write reaches the adapter at once.
    [[nodiscard]] virtual platform::EdgeInsets mapPadding() const = 0;
    virtual void setMapPadding(platform::EdgeInsets padding) = 0;
    [[nodiscard]] virtual CVCameraPosition cameraPosition() const = 0;
    [[nodiscard]] virtual float ambrellZoom() const = 0;
    // Throws std::invalid_argument, storing nothing, when a number is not
    // finite or beyond a 64-bit integer.
    virtual void setMapLabelFont(const platform::Font& font, double textSize, std::optional<platform::Color> color,
                                 std::optional<platform::Color> haloColor, double haloWidth, double haloBlur) = 0;

    virtual void setHighlight(std::vector<std::shared_ptr<CVLocation>> locations, CVHighlightBehavior behavior) = 0;
    virtual void setHighlight(CVFilter filter, CVHighlightBehavior behavior) = 0;
    virtual void clearHighlight() = 0;
    virtual void setFilter(const std::vector<std::shared_ptr<CVLocation>>& locations, CVFilterBehavior behavior) = 0;
    // The filter object stays the host's: renders write the visible bounds
    // and the floor into it.
    virtual void setFilter(std::shared_ptr<CVFilter> filter, CVFilterBehavior behavior) = 0;
    virtual void clearFilter() = 0;

    [[nodiscard]] virtual std::shared_ptr<CVVenue> currentVenue() const = 0;
    virtual void setCurrentVenue(std::shared_ptr<CVVenue> venue) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVBuilding> currentBuilding() const = 0;
    virtual void setCurrentBuilding(std::shared_ptr<CVBuilding> building) = 0;
    [[nodiscard]] virtual std::int64_t currentFloorIndex() const = 0;
    virtual void setCurrentFloorIndex(std::int64_t floorIndex) = 0;
    virtual void selectWithFloorIndex(std::int64_t floorIndex) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVMapStyle> mapStyle() const = 0;
    virtual void setMapStyle(std::shared_ptr<CVMapStyle> style) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVCustomFloorSelector> floorSelector() const = 0;
    virtual void setFloorSelector(std::shared_ptr<CVCustomFloorSelector> selector) = 0;
    [[nodiscard]] virtual bool hideFloorSelector() const = 0;
    virtual void setHideFloorSelector(bool hide) = 0;
    // Redraws the map and looks again for the venue, building and floor
    // under the camera; returns at once.
    virtual void refresh() = 0;

    // Keeps the map subscribed to the domain's live data for what it shows;
    // each update of the domain goes to the listener. Enabling again without
    // a listener drops the earlier one.
    virtual void enableLiveDataWithDomain(const std::string& domainType, CVLiveUpdateListener listener) = 0;
    // Once no domain is left the map stops planning its topics, but keeps
    // those it has until a domain is enabled again.
    virtual void disableLiveDataWithDomain(const std::string& domainType) = 0;
    // Selection. The selected location is drawn as such from the next
    // render on; the host's delegate hears of a change of location id.
    [[nodiscard]] virtual std::shared_ptr<CVLocation> selectedLocation() const = 0;
    virtual void setSelectedLocation(std::shared_ptr<CVLocation> location) = 0;
    // Selects the location when it is selectable, else deselects; the
    // behaviour says whether the camera moves to it.
    virtual void selectWithLocation(std::shared_ptr<CVLocation> location, CVSelectionBehavior behavior) = 0;
    virtual void selectWithBuilding(std::shared_ptr<CVBuilding> building, CVSelectionBehavior behavior) = 0;
    virtual void selectWithVenue(std::shared_ptr<CVVenue> venue, CVSelectionBehavior behavior) = 0;
    // Fits the camera to the entity and shows its floor, whatever the
    // selection behaviour. An entity without geometry leaves the camera.
    virtual void goToEntity(const CVVenue& venue) = 0;
    virtual void goToEntity(const CVBuilding& building) = 0;
    virtual void goToEntity(const CVFloor& floor) = 0;
    virtual void goToEntity(const CVLocation& location) = 0;
    // Whether a tapped location shows its info window (with the selection
    // behaviour's own flag).
    [[nodiscard]] virtual bool showInfoWindowOnClickedLocation() const = 0;
    virtual void setShowInfoWindowOnClickedLocation(bool show) = 0;
    // The source of the user's position; the map becomes its delegate.
    [[nodiscard]] virtual std::shared_ptr<CVPositionProvider> positionProvider() const = 0;
    virtual void setPositionProvider(std::shared_ptr<CVPositionProvider> provider) = 0;
    // Whether the user's position is drawn; off at first. Switching it on
    // draws the last known position at once.
    [[nodiscard]] virtual bool showUserPosition() const = 0;
    virtual void setShowUserPosition(bool show) = 0;
    // A new renderer of routes on this map; the newest one follows the map's
    // floor changes.
    [[nodiscard]] virtual std::shared_ptr<CVDirectionsRenderer> newDirectionsRenderer() = 0;
};

}  // namespace ambrell

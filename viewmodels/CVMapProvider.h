#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Ambrell/CVCameraPosition.h"
#include "Ambrell/CVCustomInfoWindow.h"
#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVSolutionConfig.h"
#include "Ambrell/CVTileProviding.h"
#include "platform/CGRect.h"
#include "platform/View.h"
#include "platform/runtime/Executor.h"
#include "routemodel/CVExternalDirectionsService.h"
#include "routemodel/CVExternalDistanceMatrixService.h"
#include "viewmodels/CVMapProviderDelegate.h"
#include "viewmodels/CVProjection.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

class CVPositionPresenter;
class CVRouteRenderer;

// The adapter's camera. Called on any thread.
class CVCameraOperator {
public:
    virtual ~CVCameraOperator() = default;

    virtual void move(platform::CLLocationCoordinate2D target, float zoom) = 0;
    virtual void animate(const CVCameraPosition& position) = 0;
    virtual void animate(const CVGeoBounds& bounds) = 0;
    // Without a zoom the camera keeps its own.
    virtual void animate(platform::CLLocationCoordinate2D target, std::optional<float> zoom) = 0;
    [[nodiscard]] virtual CVCameraPosition position() const = 0;
    // The projection of the current camera, or null while the map cannot
    // project (not laid out yet, say).
    [[nodiscard]] virtual platform::Awaitable<std::shared_ptr<CVProjection>> projection() = 0;
    // The camera that shows the bounds inside the insets.
    [[nodiscard]] virtual CVCameraPosition camera(const CVGeoBounds& bounds,
                                                  const platform::EdgeInsets& insets) const = 0;
};

// The map-provider adapter: the host's bridge to an outdoor map engine, which
// draws what the library hands it. Called on any thread: the adapter moves
// its drawing to the main thread itself.
class CVMapProvider {
public:
    virtual ~CVMapProvider() = default;

    // The adapter's map view, where the map's own controls go; null while it
    // has none. Read from any thread.
    [[nodiscard]] virtual std::shared_ptr<platform::View> view() const = 0;
    [[nodiscard]] virtual platform::EdgeInsets padding() const = 0;
    virtual void setPadding(platform::EdgeInsets padding) = 0;
    [[nodiscard]] virtual bool CVaccessibilityElementsHidden() const = 0;
    virtual void setCVaccessibilityElementsHidden(bool hidden) = 0;
    // Held weakly: the map control sets itself once, when it is made.
    [[nodiscard]] virtual std::shared_ptr<CVMapProviderDelegate> delegate() const = 0;
    virtual void setDelegate(std::weak_ptr<CVMapProviderDelegate> delegate) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVCustomInfoWindow> customInfoWindow() const = 0;
    virtual void setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) = 0;
    [[nodiscard]] virtual CVCollisionHandling collisionHandling() const = 0;
    virtual void setCollisionHandling(CVCollisionHandling handling) = 0;
    [[nodiscard]] virtual double wallExtrusionOpacity() const = 0;
    virtual void setWallExtrusionOpacity(double opacity) = 0;
    [[nodiscard]] virtual double featureExtrusionOpacity() const = 0;
    virtual void setFeatureExtrusionOpacity(double opacity) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVCameraOperator> cameraOperator() const = 0;
    // The largest side, in pixels, of a realised 2D-model image.
    [[nodiscard]] virtual std::int64_t model2DResolutionLimit() const = 0;
    // Null when the adapter draws no routes.
    [[nodiscard]] virtual std::shared_ptr<CVRouteRenderer> routeRenderer() const = 0;
    // Null when the adapter draws no user position.
    [[nodiscard]] virtual std::shared_ptr<CVPositionPresenter> positionPresenter() const = 0;
    [[nodiscard]] virtual bool enableNativeMapBuildings() const = 0;
    virtual void setEnableNativeMapBuildings(bool enable) = 0;
    // Null when the adapter offers no outdoor directions (or matrices).
    [[nodiscard]] virtual std::shared_ptr<CVExternalDirectionsService> routingService() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVExternalDistanceMatrixService> distanceMatrixService() const = 0;
    // Replaces what the adapter draws with the view models of one render;
    // `forceClear` drops the adapter's own caches of earlier models first.
    virtual void setViewModels(std::vector<ViewModel> models, bool forceClear) = 0;
    // The tiles of the shown venue floor.
    virtual void setTileProvider(std::shared_ptr<CVTileProviding> tileProvider) = 0;
    virtual void reloadTilesForFloorChange() = 0;
};

}  // namespace ambrell

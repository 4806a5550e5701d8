#pragma once

#include <cairo.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "WebMercatorCamera.h"
#include "platform/Color.h"
#include "viewmodels/CVMapProvider.h"
#include "viewmodels/CVRouteRenderer.h"

namespace ambrell::cairo_map {

// A map-provider adapter without a map engine: it keeps what the map control
// and the directions renderer hand it (the view models of the last render,
// the drawn route) and paints them with cairo into a picture, through a
// plain Web-Mercator camera. It has no view, so the map control adds no logo
// or floor selector, and it draws no tiles, 3D features or user position.
//
// Make it with std::make_shared: it is its own camera and route renderer.
// Every member is safe from any thread; camera events go to the map control
// on the main queue, as a map engine would send them from its UI thread.
class CairoMapAdapter final : public CVMapProvider,
                              public CVCameraOperator,
                              public CVRouteRenderer,
                              public std::enable_shared_from_this<CairoMapAdapter> {
public:
    explicit CairoMapAdapter(WebMercatorCamera camera);

    [[nodiscard]] WebMercatorCamera webMercatorCamera() const;
    // Moves the camera at once, and tells the map control as a map engine does.
    void setWebMercatorCamera(WebMercatorCamera camera);

    // How many times the map control has handed over view models.
    [[nodiscard]] std::uint64_t renders() const;
    // Waits until no view models have come for `quiet`; false when they kept
    // coming until `bound` ran out.
    bool waitUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds bound) const;

    // Paints the current view models, then the route, into a PNG of the
    // camera's size; false when cairo could not write it.
    bool writePng(const std::filesystem::path& path) const;
    // Where the picture's labels stand, in its pixels, also those that run
    // past its edges; a label kept out by a neighbour's is not among them.
    [[nodiscard]] std::vector<platform::CGRect> labelBoxes() const;

    // CVMapProvider
    [[nodiscard]] std::shared_ptr<platform::View> view() const override { return nullptr; }
    [[nodiscard]] platform::EdgeInsets padding() const override;
    void setPadding(platform::EdgeInsets padding) override;
    [[nodiscard]] bool CVaccessibilityElementsHidden() const override { return true; }
    void setCVaccessibilityElementsHidden(bool /*hidden*/) override {}
    [[nodiscard]] std::shared_ptr<CVMapProviderDelegate> delegate() const override;
    void setDelegate(std::weak_ptr<CVMapProviderDelegate> delegate) override;
    [[nodiscard]] std::shared_ptr<CVCustomInfoWindow> customInfoWindow() const override;
    void setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) override;
    [[nodiscard]] CVCollisionHandling collisionHandling() const override;
    void setCollisionHandling(CVCollisionHandling handling) override;
    [[nodiscard]] double wallExtrusionOpacity() const override { return 0; }
    void setWallExtrusionOpacity(double /*opacity*/) override {}
    [[nodiscard]] double featureExtrusionOpacity() const override { return 0; }
    void setFeatureExtrusionOpacity(double /*opacity*/) override {}
    [[nodiscard]] std::shared_ptr<CVCameraOperator> cameraOperator() const override;
    [[nodiscard]] std::int64_t model2DResolutionLimit() const override { return 512; }
    [[nodiscard]] std::shared_ptr<CVRouteRenderer> routeRenderer() const override;
    [[nodiscard]] std::shared_ptr<CVPositionPresenter> positionPresenter() const override { return nullptr; }
    [[nodiscard]] bool enableNativeMapBuildings() const override { return false; }
    void setEnableNativeMapBuildings(bool /*enable*/) override {}
    [[nodiscard]] std::shared_ptr<CVExternalDirectionsService> routingService() const override { return nullptr; }
    [[nodiscard]] std::shared_ptr<CVExternalDistanceMatrixService> distanceMatrixService() const override {
        return nullptr;
    }
    void setViewModels(std::vector<ViewModel> models, bool forceClear) override;
    void setTileProvider(std::shared_ptr<CVTileProviding> /*tileProvider*/) override {}
    void reloadTilesForFloorChange() override {}

    // CVCameraOperator: no animations, every move is at once.
    void move(platform::CLLocationCoordinate2D target, float zoom) override;
    void animate(const CVCameraPosition& position) override;
    void animate(const CVGeoBounds& bounds) override;
    void animate(platform::CLLocationCoordinate2D target, std::optional<float> zoom) override;
    [[nodiscard]] CVCameraPosition position() const override;
    [[nodiscard]] platform::Awaitable<std::shared_ptr<CVProjection>> projection() override;
    [[nodiscard]] CVCameraPosition camera(const CVGeoBounds& bounds, const platform::EdgeInsets& insets) const override;

    // CVRouteRenderer
    [[nodiscard]] std::shared_ptr<CVRouteMarkerDelegate> routeMarkerDelegate() const override;
    void setRouteMarkerDelegate(std::weak_ptr<CVRouteMarkerDelegate> delegate) override;
    void apply(std::shared_ptr<const RouteViewModelProducer> model, bool animate, double duration, bool repeating,
               platform::Color primaryColor, platform::Color secondaryColor, float primaryWidth, float secondaryWidth,
               bool pathSmoothing) override;
    void moveCamera(std::vector<CLLocationCoordinate2D> points, bool animate, std::int64_t durationMs, float tilt,
                    CVCameraViewFitMode fitMode, UIEdgeInsets padding) override;
    void clear() override;

private:
    struct Route {
        std::shared_ptr<const RouteViewModelProducer> model;
        platform::Color under;
        platform::Color over;
        double underWidth = 0;
        double overWidth = 0;
    };

    void cameraMoved(WebMercatorCamera camera);
    // Paints the picture; answers where its labels went.
    std::vector<platform::CGRect> paint(cairo_t* cr) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable rendered_;
    WebMercatorCamera camera_;
    platform::EdgeInsets padding_;
    std::weak_ptr<CVMapProviderDelegate> delegate_;
    std::weak_ptr<CVRouteMarkerDelegate> routeMarkerDelegate_;
    std::shared_ptr<CVCustomInfoWindow> customInfoWindow_;
    CVCollisionHandling collisionHandling_ = CVCollisionHandling::removeLabelFirst;
    std::vector<ViewModel> models_;
    std::uint64_t renders_ = 0;
    std::chrono::steady_clock::time_point lastRender_ = std::chrono::steady_clock::now();
    std::optional<Route> route_;
};

}  // namespace ambrell::cairo_map

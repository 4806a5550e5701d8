#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/View.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/RecordingPositionPresenter.h"
#include "tests/support/RecordingRouteRenderer.h"
#include "viewmodels/CVMapControlSeam.h"
#include "viewmodels/CVMapProvider.h"
#include "viewmodels/CVProjection.h"

namespace ambrell::test {

// A gate that threads wait at until the test opens it, for calls that cannot
// suspend. A thread waits at most the shared bound, so a test that forgets
// to open it fails instead of hanging.
class ThreadGate {
public:
    void pass() {
        std::unique_lock lock(mutex_);
        ++arrivals_;
        arrived_.notify_all();
        (void)opened_.wait_for(lock, kWaitBound, [this] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    // Waits, bounded, until `count` threads have come to the gate.
    bool waitForArrivals(int count) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, kWaitBound, [&] { return arrivals_ >= count; });
    }
    [[nodiscard]] int arrivals() const {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    std::condition_variable arrived_;
    bool open_ = false;
    int arrivals_ = 0;
};

// A map control and its adapter in one object, for tests of what the view
// models read of them and hand to them: the map control's facts, the camera
// and its projection are set by the test; every setViewModels call is kept.
// Make it with std::make_shared: it hands itself out as the adapter, the
// camera operator and the projection. Safe to use from any thread.
class RecordingMapAdapter : public CVMapControlSeam,
                            public CVMapProvider,
                            public CVCameraOperator,
                            public CVProjection,
                            public std::enable_shared_from_this<RecordingMapAdapter> {
public:
    using ProjectionFunction = std::function<platform::CGPoint(platform::CLLocationCoordinate2D)>;

    struct SetViewModelsCall {
        std::vector<ViewModel> models;
        bool forceClear = false;
    };
    struct Call {
        std::string name;
        std::thread::id thread;
    };

    // The camera's zoom and bearing.
    void setCamera(double zoom, double bearing);
    // Null makes the camera answer no projection (a map not laid out yet).
    void setProjection(ProjectionFunction projection);
    void setInfoWindows(bool selectionBehaviorShowsInfoWindow, bool showInfoWindowOnClickedLocation);
    void setFontStyle(std::optional<FontStyle> fontStyle);
    void setCustomClusterIcon(std::shared_ptr<CVCustomClusterIcon> icon);
    void setCurrentBuildingId(std::optional<std::string> buildingId);
    void setModel2DResolutionLimit(std::int64_t limit);

    void setCameraPosition(CVCameraPosition position);
    void setVisibleBounds(CVGeoBounds bounds);
    // While a gate is set, visibleRegion waits at it.
    void setVisibleRegionGate(std::shared_ptr<AsyncGate> gate);
    // While a gate is set, setViewModels waits at it before it records.
    void setViewModelsGate(std::shared_ptr<ThreadGate> gate);
    // Gives the adapter a map view of the size, safe area and margins (none
    // until then); the view is main-thread only from here on.
    std::shared_ptr<platform::View> attachView(platform::CGSize size, platform::EdgeInsets safeArea = {},
                                               platform::EdgeInsets margins = {8, 8, 8, 8});
    void setServices(std::shared_ptr<CVExternalDirectionsService> directions,
                     std::shared_ptr<CVExternalDistanceMatrixService> matrix);

    [[nodiscard]] std::vector<SetViewModelsCall> setViewModelsCalls() const;
    [[nodiscard]] std::vector<Call> calls() const;
    // The names of calls() alone.
    [[nodiscard]] std::vector<std::string> callNames() const;
    [[nodiscard]] std::vector<CVGeoBounds> animatedBounds() const;
    [[nodiscard]] int tileProvidersSet() const;
    // How often the projection was asked for, and points of it.
    [[nodiscard]] int projectionRequests() const;
    [[nodiscard]] int pointRequests() const;
    // Whether two pointFor calls ever overlapped: callers await one at a time.
    [[nodiscard]] bool pointRequestsOverlapped() const;
    // What the adapter's route renderer and position presenter were asked to do.
    [[nodiscard]] RecordingRouteRenderer& recordingRouteRenderer() const { return *routeRenderer_; }
    [[nodiscard]] RecordingPositionPresenter& recordingPositionPresenter() const { return *positionPresenter_; }

    // CVMapControlSeam
    [[nodiscard]] std::shared_ptr<CVMapProvider> map() const override;
    [[nodiscard]] bool showInfoWindowOnClickedLocation() const override;
    [[nodiscard]] bool selectionBehaviorShowsInfoWindow() const override;
    [[nodiscard]] std::shared_ptr<CVCustomClusterIcon> customClusterIcon() const override;
    [[nodiscard]] std::optional<FontStyle> internalFontStyle() const override;
    [[nodiscard]] std::optional<std::string> currentBuildingId() const override;
    [[nodiscard]] double cameraZoom() const override;
    [[nodiscard]] double cameraBearing() const override;

    // CVMapProvider
    [[nodiscard]] std::shared_ptr<CVCameraOperator> cameraOperator() const override;
    [[nodiscard]] std::int64_t model2DResolutionLimit() const override;
    // None until attachView().
    [[nodiscard]] std::shared_ptr<platform::View> view() const override;
    [[nodiscard]] std::shared_ptr<CVRouteRenderer> routeRenderer() const override { return routeRenderer_; }
    [[nodiscard]] std::shared_ptr<CVPositionPresenter> positionPresenter() const override { return positionPresenter_; }
    void setViewModels(std::vector<ViewModel> models, bool forceClear) override;
    [[nodiscard]] platform::EdgeInsets padding() const override;
    void setPadding(platform::EdgeInsets padding) override;
    [[nodiscard]] bool CVaccessibilityElementsHidden() const override;
    void setCVaccessibilityElementsHidden(bool hidden) override;
    [[nodiscard]] std::shared_ptr<CVMapProviderDelegate> delegate() const override;
    void setDelegate(std::weak_ptr<CVMapProviderDelegate> delegate) override;
    [[nodiscard]] std::shared_ptr<CVCustomInfoWindow> customInfoWindow() const override;
    void setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) override;
    [[nodiscard]] CVCollisionHandling collisionHandling() const override;
    void setCollisionHandling(CVCollisionHandling handling) override;
    [[nodiscard]] double wallExtrusionOpacity() const override;
    void setWallExtrusionOpacity(double opacity) override;
    [[nodiscard]] double featureExtrusionOpacity() const override;
    void setFeatureExtrusionOpacity(double opacity) override;
    [[nodiscard]] bool enableNativeMapBuildings() const override;
    void setEnableNativeMapBuildings(bool enable) override;
    [[nodiscard]] std::shared_ptr<CVExternalDirectionsService> routingService() const override;
    [[nodiscard]] std::shared_ptr<CVExternalDistanceMatrixService> distanceMatrixService() const override;
    void setTileProvider(std::shared_ptr<CVTileProviding> tileProvider) override;
    void reloadTilesForFloorChange() override;

    // CVCameraOperator
    void move(platform::CLLocationCoordinate2D target, float zoom) override;
    void animate(const CVCameraPosition& position) override;
    void animate(const CVGeoBounds& bounds) override;
    void animate(platform::CLLocationCoordinate2D target, std::optional<float> zoom) override;
    [[nodiscard]] CVCameraPosition position() const override;
    [[nodiscard]] platform::Awaitable<std::shared_ptr<CVProjection>> projection() override;
    [[nodiscard]] CVCameraPosition camera(const CVGeoBounds& bounds, const platform::EdgeInsets& insets) const override;

    // CVProjection
    [[nodiscard]] platform::Awaitable<CVGeoRegion> visibleRegion() override;
    [[nodiscard]] platform::Awaitable<platform::CLLocationCoordinate2D> coordinateFor(platform::CGPoint point) override;
    [[nodiscard]] platform::Awaitable<platform::CGPoint> pointFor(platform::CLLocationCoordinate2D coordinate) override;

private:
    [[nodiscard]] std::shared_ptr<RecordingMapAdapter> self() const;
    // Under the lock.
    void record(std::string name) const;

    mutable std::mutex mutex_;
    double zoom_ = 20;
    double bearing_ = 0;
    ProjectionFunction projection_;
    bool selectionBehaviorShowsInfoWindow_ = true;
    bool showInfoWindowOnClickedLocation_ = true;
    std::optional<FontStyle> fontStyle_;
    std::shared_ptr<CVCustomClusterIcon> customClusterIcon_;
    std::optional<std::string> currentBuildingId_;
    std::int64_t model2DResolutionLimit_ = 1000;
    std::vector<SetViewModelsCall> setViewModelsCalls_;
    mutable std::vector<Call> calls_;
    CVCameraPosition position_;
    CVGeoBounds visibleBounds_;
    std::shared_ptr<AsyncGate> visibleRegionGate_;
    std::shared_ptr<ThreadGate> setViewModelsGate_;
    std::shared_ptr<platform::View> view_;
    platform::EdgeInsets padding_;
    bool accessibilityElementsHidden_ = false;
    std::weak_ptr<CVMapProviderDelegate> delegate_;
    std::shared_ptr<CVCustomInfoWindow> customInfoWindow_;
    CVCollisionHandling collisionHandling_ = CVCollisionHandling::allowOverlap;
    double wallExtrusionOpacity_ = 1;
    double featureExtrusionOpacity_ = 1;
    bool enableNativeMapBuildings_ = true;
    std::shared_ptr<CVExternalDirectionsService> routingService_;
    std::shared_ptr<CVExternalDistanceMatrixService> distanceMatrixService_;
    std::vector<CVGeoBounds> animatedBounds_;
    int tileProvidersSet_ = 0;
    int projectionRequests_ = 0;
    int pointRequests_ = 0;
    int pointRequestsRunning_ = 0;
    bool pointRequestsOverlapped_ = false;
    const std::shared_ptr<RecordingRouteRenderer> routeRenderer_ = std::make_shared<RecordingRouteRenderer>();
    const std::shared_ptr<RecordingPositionPresenter> positionPresenter_ =
        std::make_shared<RecordingPositionPresenter>();
};

}  // namespace ambrell::test

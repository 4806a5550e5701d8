#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "viewmodels/CVMapControlSeam.h"
#include "viewmodels/CVMapProvider.h"
#include "viewmodels/CVProjection.h"

namespace ambrell::test {

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

    // The camera's zoom and bearing.
    void setCamera(double zoom, double bearing);
    // Null makes the camera answer no projection (a map not laid out yet).
    void setProjection(ProjectionFunction projection);
    void setInfoWindows(bool selectionBehaviorShowsInfoWindow, bool showInfoWindowOnClickedLocation);
    void setFontStyle(std::optional<FontStyle> fontStyle);
    void setCustomClusterIcon(std::shared_ptr<CVCustomClusterIcon> icon);
    void setCurrentBuildingId(std::optional<std::string> buildingId);
    void setModel2DResolutionLimit(std::int64_t limit);

    [[nodiscard]] std::vector<SetViewModelsCall> setViewModelsCalls() const;
    // How often the projection was asked for, and points of it.
    [[nodiscard]] int projectionRequests() const;
    [[nodiscard]] int pointRequests() const;
    // Whether two pointFor calls ever overlapped: callers await one at a time.
    [[nodiscard]] bool pointRequestsOverlapped() const;

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
    [[nodiscard]] std::shared_ptr<CVRouteRenderer> routeRenderer() const override { return nullptr; }
    void setViewModels(std::vector<ViewModel> models, bool forceClear) override;

    // CVCameraOperator
    [[nodiscard]] platform::Awaitable<std::shared_ptr<CVProjection>> projection() override;

    // CVProjection
    [[nodiscard]] platform::Awaitable<platform::CGPoint> pointFor(platform::CLLocationCoordinate2D coordinate) override;

private:
    [[nodiscard]] std::shared_ptr<RecordingMapAdapter> self() const;

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
    std::vector<SetViewModelsCall> calls_;
    int projectionRequests_ = 0;
    int pointRequests_ = 0;
    int pointRequestsRunning_ = 0;
    bool pointRequestsOverlapped_ = false;
};

}  // namespace ambrell::test

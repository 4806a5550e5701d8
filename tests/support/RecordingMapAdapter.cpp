#include "tests/support/RecordingMapAdapter.h"

#include <utility>

namespace ambrell::test {

void RecordingMapAdapter::setCamera(double zoom, double bearing) {
    std::lock_guard lock(mutex_);
    zoom_ = zoom;
    bearing_ = bearing;
}

void RecordingMapAdapter::setProjection(ProjectionFunction projection) {
    std::lock_guard lock(mutex_);
    projection_ = std::move(projection);
}

void RecordingMapAdapter::setInfoWindows(bool selectionBehaviorShowsInfoWindow, bool showInfoWindowOnClickedLocation) {
    std::lock_guard lock(mutex_);
    selectionBehaviorShowsInfoWindow_ = selectionBehaviorShowsInfoWindow;
    showInfoWindowOnClickedLocation_ = showInfoWindowOnClickedLocation;
}

void RecordingMapAdapter::setFontStyle(std::optional<FontStyle> fontStyle) {
    std::lock_guard lock(mutex_);
    fontStyle_ = std::move(fontStyle);
}

void RecordingMapAdapter::setCustomClusterIcon(std::shared_ptr<CVCustomClusterIcon> icon) {
    std::lock_guard lock(mutex_);
    customClusterIcon_ = std::move(icon);
}

void RecordingMapAdapter::setCurrentBuildingId(std::optional<std::string> buildingId) {
    std::lock_guard lock(mutex_);
    currentBuildingId_ = std::move(buildingId);
}

void RecordingMapAdapter::setModel2DResolutionLimit(std::int64_t limit) {
    std::lock_guard lock(mutex_);
    model2DResolutionLimit_ = limit;
}

std::vector<RecordingMapAdapter::SetViewModelsCall> RecordingMapAdapter::setViewModelsCalls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int RecordingMapAdapter::projectionRequests() const {
    std::lock_guard lock(mutex_);
    return projectionRequests_;
}

int RecordingMapAdapter::pointRequests() const {
    std::lock_guard lock(mutex_);
    return pointRequests_;
}

bool RecordingMapAdapter::pointRequestsOverlapped() const {
    std::lock_guard lock(mutex_);
    return pointRequestsOverlapped_;
}

std::shared_ptr<RecordingMapAdapter> RecordingMapAdapter::self() const {
    // Every role of the adapter is this one object; handing out a const view
    // would not let callers use it as the roles declare.
    return std::const_pointer_cast<RecordingMapAdapter>(shared_from_this());
}

std::shared_ptr<CVMapProvider> RecordingMapAdapter::map() const { return self(); }

bool RecordingMapAdapter::showInfoWindowOnClickedLocation() const {
    std::lock_guard lock(mutex_);
    return showInfoWindowOnClickedLocation_;
}

bool RecordingMapAdapter::selectionBehaviorShowsInfoWindow() const {
    std::lock_guard lock(mutex_);
    return selectionBehaviorShowsInfoWindow_;
}

std::shared_ptr<CVCustomClusterIcon> RecordingMapAdapter::customClusterIcon() const {
    std::lock_guard lock(mutex_);
    return customClusterIcon_;
}

std::optional<FontStyle> RecordingMapAdapter::internalFontStyle() const {
    std::lock_guard lock(mutex_);
    return fontStyle_;
}

std::optional<std::string> RecordingMapAdapter::currentBuildingId() const {
    std::lock_guard lock(mutex_);
    return currentBuildingId_;
}

double RecordingMapAdapter::cameraZoom() const {
    std::lock_guard lock(mutex_);
    return zoom_;
}

double RecordingMapAdapter::cameraBearing() const {
    std::lock_guard lock(mutex_);
    return bearing_;
}

std::shared_ptr<CVCameraOperator> RecordingMapAdapter::cameraOperator() const { return self(); }

std::int64_t RecordingMapAdapter::model2DResolutionLimit() const {
    std::lock_guard lock(mutex_);
    return model2DResolutionLimit_;
}

void RecordingMapAdapter::setViewModels(std::vector<ViewModel> models, bool forceClear) {
    std::lock_guard lock(mutex_);
    calls_.push_back(SetViewModelsCall{std::move(models), forceClear});
}

platform::Awaitable<std::shared_ptr<CVProjection>> RecordingMapAdapter::projection() {
    bool projects = false;
    {
        std::lock_guard lock(mutex_);
        ++projectionRequests_;
        projects = static_cast<bool>(projection_);
    }
    if (!projects) co_return nullptr;
    co_return self();
}

platform::Awaitable<platform::CGPoint> RecordingMapAdapter::pointFor(platform::CLLocationCoordinate2D coordinate) {
    ProjectionFunction projection;
    {
        std::lock_guard lock(mutex_);
        ++pointRequests_;
        if (++pointRequestsRunning_ > 1) pointRequestsOverlapped_ = true;
        projection = projection_;
    }
    const platform::CGPoint point = projection ? projection(coordinate) : platform::CGPoint{};
    {
        std::lock_guard lock(mutex_);
        --pointRequestsRunning_;
    }
    co_return point;
}

}  // namespace ambrell::test

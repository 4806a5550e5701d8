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
    return setViewModelsCalls_;
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
    std::shared_ptr<ThreadGate> gate;
    {
        std::lock_guard lock(mutex_);
        gate = setViewModelsGate_;
    }
    if (gate) gate->pass();
    std::lock_guard lock(mutex_);
    record("setViewModels");
    setViewModelsCalls_.push_back(SetViewModelsCall{std::move(models), forceClear});
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

void RecordingMapAdapter::setCameraPosition(CVCameraPosition position) {
    std::lock_guard lock(mutex_);
    position_ = position;
}

void RecordingMapAdapter::setVisibleBounds(CVGeoBounds bounds) {
    std::lock_guard lock(mutex_);
    visibleBounds_ = bounds;
}

void RecordingMapAdapter::setVisibleRegionGate(std::shared_ptr<AsyncGate> gate) {
    std::lock_guard lock(mutex_);
    visibleRegionGate_ = std::move(gate);
}

void RecordingMapAdapter::setViewModelsGate(std::shared_ptr<ThreadGate> gate) {
    std::lock_guard lock(mutex_);
    setViewModelsGate_ = std::move(gate);
}

std::shared_ptr<platform::View> RecordingMapAdapter::attachView(platform::CGSize size, platform::EdgeInsets safeArea,
                                                                platform::EdgeInsets margins) {
    auto view = std::make_shared<platform::View>(platform::CGRect{{0, 0}, size});
    view->setSafeAreaInsets(safeArea);
    view->setLayoutMargins(margins);
    std::lock_guard lock(mutex_);
    view_ = view;
    return view;
}

std::shared_ptr<platform::View> RecordingMapAdapter::view() const {
    std::lock_guard lock(mutex_);
    return view_;
}

void RecordingMapAdapter::setServices(std::shared_ptr<CVExternalDirectionsService> directions,
                                      std::shared_ptr<CVExternalDistanceMatrixService> matrix) {
    std::lock_guard lock(mutex_);
    routingService_ = std::move(directions);
    distanceMatrixService_ = std::move(matrix);
}

void RecordingMapAdapter::record(std::string name) const {
    calls_.push_back(Call{std::move(name), std::this_thread::get_id()});
}

std::vector<RecordingMapAdapter::Call> RecordingMapAdapter::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> RecordingMapAdapter::callNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const Call& call : calls_) names.push_back(call.name);
    return names;
}

std::vector<CVGeoBounds> RecordingMapAdapter::animatedBounds() const {
    std::lock_guard lock(mutex_);
    return animatedBounds_;
}

int RecordingMapAdapter::tileProvidersSet() const {
    std::lock_guard lock(mutex_);
    return tileProvidersSet_;
}

platform::EdgeInsets RecordingMapAdapter::padding() const {
    std::lock_guard lock(mutex_);
    return padding_;
}

void RecordingMapAdapter::setPadding(platform::EdgeInsets padding) {
    std::lock_guard lock(mutex_);
    record("setPadding");
    padding_ = padding;
}

bool RecordingMapAdapter::CVaccessibilityElementsHidden() const {
    std::lock_guard lock(mutex_);
    return accessibilityElementsHidden_;
}

void RecordingMapAdapter::setCVaccessibilityElementsHidden(bool hidden) {
    std::lock_guard lock(mutex_);
    accessibilityElementsHidden_ = hidden;
}

std::shared_ptr<CVMapProviderDelegate> RecordingMapAdapter::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void RecordingMapAdapter::setDelegate(std::weak_ptr<CVMapProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    record("setDelegate");
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVCustomInfoWindow> RecordingMapAdapter::customInfoWindow() const {
    std::lock_guard lock(mutex_);
    return customInfoWindow_;
}

void RecordingMapAdapter::setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) {
    std::lock_guard lock(mutex_);
    record("setCustomInfoWindow");
    customInfoWindow_ = std::move(infoWindow);
}

CVCollisionHandling RecordingMapAdapter::collisionHandling() const {
    std::lock_guard lock(mutex_);
    return collisionHandling_;
}

void RecordingMapAdapter::setCollisionHandling(CVCollisionHandling handling) {
    std::lock_guard lock(mutex_);
    record("setCollisionHandling");
    collisionHandling_ = handling;
}

double RecordingMapAdapter::wallExtrusionOpacity() const {
    std::lock_guard lock(mutex_);
    return wallExtrusionOpacity_;
}

void RecordingMapAdapter::setWallExtrusionOpacity(double opacity) {
    std::lock_guard lock(mutex_);
    record("setWallExtrusionOpacity");
    wallExtrusionOpacity_ = opacity;
}

double RecordingMapAdapter::featureExtrusionOpacity() const {
    std::lock_guard lock(mutex_);
    return featureExtrusionOpacity_;
}

void RecordingMapAdapter::setFeatureExtrusionOpacity(double opacity) {
    std::lock_guard lock(mutex_);
    record("setFeatureExtrusionOpacity");
    featureExtrusionOpacity_ = opacity;
}

bool RecordingMapAdapter::enableNativeMapBuildings() const {
    std::lock_guard lock(mutex_);
    return enableNativeMapBuildings_;
}

void RecordingMapAdapter::setEnableNativeMapBuildings(bool enable) {
    std::lock_guard lock(mutex_);
    record("setEnableNativeMapBuildings");
    enableNativeMapBuildings_ = enable;
}

std::shared_ptr<CVExternalDirectionsService> RecordingMapAdapter::routingService() const {
    std::lock_guard lock(mutex_);
    return routingService_;
}

std::shared_ptr<CVExternalDistanceMatrixService> RecordingMapAdapter::distanceMatrixService() const {
    std::lock_guard lock(mutex_);
    return distanceMatrixService_;
}

void RecordingMapAdapter::setTileProvider(std::shared_ptr<CVTileProviding> /*tileProvider*/) {
    std::lock_guard lock(mutex_);
    record("setTileProvider");
    ++tileProvidersSet_;
}

void RecordingMapAdapter::reloadTilesForFloorChange() {
    std::lock_guard lock(mutex_);
    record("reloadTilesForFloorChange");
}

void RecordingMapAdapter::move(platform::CLLocationCoordinate2D target, float zoom) {
    std::lock_guard lock(mutex_);
    record("move");
    position_.target = target;
    position_.zoom = zoom;
}

void RecordingMapAdapter::animate(const CVCameraPosition& position) {
    std::lock_guard lock(mutex_);
    record("animatePosition");
    position_ = position;
}

void RecordingMapAdapter::animate(const CVGeoBounds& bounds) {
    std::lock_guard lock(mutex_);
    record("animateBounds");
    animatedBounds_.push_back(bounds);
}

void RecordingMapAdapter::animate(platform::CLLocationCoordinate2D target, std::optional<float> zoom) {
    std::lock_guard lock(mutex_);
    record("animateTarget");
    position_.target = target;
    if (zoom) position_.zoom = *zoom;
}

CVCameraPosition RecordingMapAdapter::position() const {
    std::lock_guard lock(mutex_);
    return position_;
}

CVCameraPosition RecordingMapAdapter::camera(const CVGeoBounds& bounds, const platform::EdgeInsets& /*insets*/) const {
    std::lock_guard lock(mutex_);
    CVCameraPosition camera = position_;
    camera.target = bounds.center();
    return camera;
}

platform::Awaitable<CVGeoRegion> RecordingMapAdapter::visibleRegion() {
    std::shared_ptr<AsyncGate> gate;
    {
        std::lock_guard lock(mutex_);
        record("visibleRegion");
        gate = visibleRegionGate_;
    }
    if (gate) co_await gate->wait();
    std::lock_guard lock(mutex_);
    co_return CVGeoRegion{visibleBounds_};
}

platform::Awaitable<platform::CLLocationCoordinate2D> RecordingMapAdapter::coordinateFor(platform::CGPoint /*point*/) {
    std::lock_guard lock(mutex_);
    co_return position_.target;
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

#include "mapcontrol/CVMapControlInternal.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "Ambrell/CVFeatureType.h"
#include "Ambrell/CVLog.h"
#include "core/AmbrellInternal.h"
#include "core/CVAwaitCallback.h"
#include "mapcontrol/CVMapConfigMapProvider.h"
#include "mapcontrol/DefaultInfoWindowGenerator.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Task.h"
#include "viewmodels/CVViewModelProducer.h"

namespace ambrell {

namespace map_control_internal {
namespace {

// A label-font number as a whole number, cut towards zero; refused when it
// is not finite or does not fit.
std::int64_t wholeLabelNumber(double value, const char* what) {
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(value) || std::trunc(value) >= kLimit || std::trunc(value) < -kLimit) {
        throw std::invalid_argument(std::string("The label font's ") + what + " is not a number the map can use");
    }
    return static_cast<std::int64_t>(std::trunc(value));
}

}  // namespace
}  // namespace map_control_internal

std::shared_ptr<CVMapControlInternal> CVMapControlInternal::create(const CVMapConfig& config,
                                                                   Dependencies dependencies) {
    auto map = mapProvider(config);
    if (!map) {
        CVLog::core().error("A map control needs a map-provider adapter in the map configuration; none was set");
        return nullptr;
    }
    if (!dependencies.entry) dependencies.entry = CVMapControlEntry::of(AmbrellInternal::shared());
    if (!dependencies.clock) dependencies.clock = [] { return std::chrono::steady_clock::now(); };
    auto control = std::make_shared<CVMapControlInternal>(Private{}, std::move(map), config, std::move(dependencies));
    control->makePositionController();
    control->map_->setDelegate(std::weak_ptr<CVMapProviderDelegate>(control));
    control->installLogo();
    control->startTracked([control] { return start(control); });
    control->entry_->setActiveMapControl(control);
    return control;
}

CVMapControlInternal::CVMapControlInternal(Private, std::shared_ptr<CVMapProvider> map, const CVMapConfig& config,
                                           Dependencies dependencies)
    : map_(std::move(map)), entry_(std::move(dependencies.entry)), clock_(std::move(dependencies.clock)) {
    mapState_.camera = map_->cameraOperator();
    mapState_.lastUpdateTimestamp = clock_();
    mapState_.floorSelectionMode = config.floorSelectionMode;
    mapState_.buildingSelectionMode = config.buildingSelectionMode;
}

CVMapControlInternal::~CVMapControlInternal() { removeViews(); }

platform::Awaitable<void> CVMapControlInternal::start(std::shared_ptr<CVMapControlInternal> self) {
    auto venues = co_await awaitCallback<std::vector<std::shared_ptr<CVVenue>>>(
        [&self](auto answer) { self->entry_->venues(std::move(answer)); });
    if (!venues.empty()) self->setCurrentVenue(venues.front());
    co_await installDefaultFloorSelector(self);
    self->refresh();
}

void CVMapControlInternal::onMain(std::function<void()> work) const {
    platform::MainQueue::shared().async(std::move(work));
}

bool CVMapControlInternal::delegateResponds(CVMapControlDelegateMember member,
                                            std::shared_ptr<CVMapControlDelegate>& delegate) const {
    {
        std::lock_guard lock(mutex_);
        delegate = mapState_.developerDelegate;
    }
    return delegate && delegate->respondsTo(member);
}

// Properties that only store or read.

CVSelectionMode CVMapControlInternal::floorSelectionMode() const {
    std::lock_guard lock(mutex_);
    return mapState_.floorSelectionMode;
}

void CVMapControlInternal::setFloorSelectionMode(CVSelectionMode mode) {
    std::lock_guard lock(mutex_);
    mapState_.floorSelectionMode = mode;
}

CVSelectionMode CVMapControlInternal::buildingSelectionMode() const {
    std::lock_guard lock(mutex_);
    return mapState_.buildingSelectionMode;
}

void CVMapControlInternal::setBuildingSelectionMode(CVSelectionMode mode) {
    std::lock_guard lock(mutex_);
    mapState_.buildingSelectionMode = mode;
}

std::shared_ptr<CVCustomClusterIcon> CVMapControlInternal::customClusterIcon() const {
    std::lock_guard lock(mutex_);
    return mapState_.customClusterIcon;
}

void CVMapControlInternal::setCustomClusterIcon(std::shared_ptr<CVCustomClusterIcon> icon) {
    std::lock_guard lock(mutex_);
    mapState_.customClusterIcon = std::move(icon);
}

std::shared_ptr<CVCustomInfoWindow> CVMapControlInternal::customInfoWindow() const {
    {
        std::lock_guard lock(mutex_);
        if (mapState_.customInfoWindow) return mapState_.customInfoWindow;
    }
    return std::make_shared<DefaultInfoWindowGenerator>();
}

void CVMapControlInternal::setCustomInfoWindow(std::shared_ptr<CVCustomInfoWindow> infoWindow) {
    std::lock_guard lock(mutex_);
    mapState_.customInfoWindow = std::move(infoWindow);
}

std::shared_ptr<CVMapControlDelegate> CVMapControlInternal::delegate() const {
    std::lock_guard lock(mutex_);
    return mapState_.developerDelegate;
}

void CVMapControlInternal::setDelegate(std::shared_ptr<CVMapControlDelegate> delegate) {
    std::lock_guard lock(mutex_);
    mapState_.developerDelegate = std::move(delegate);
}

std::vector<std::int64_t> CVMapControlInternal::hiddenFeatures() const {
    std::lock_guard lock(mutex_);
    return hiddenFeatures_;
}

void CVMapControlInternal::setHiddenFeatures(std::vector<std::int64_t> features) {
    std::lock_guard lock(mutex_);
    hiddenFeatures_ = std::move(features);
}

CVCameraPosition CVMapControlInternal::cameraPosition() const {
    // The camera operator is the adapter's, which answers on any thread.
    return mapState_.camera ? mapState_.camera->position() : CVCameraPosition{};
}

float CVMapControlInternal::ambrellZoom() const { return cameraPosition().zoom; }

void CVMapControlInternal::setMapLabelFont(const platform::Font& font, double textSize,
                                           std::optional<platform::Color> color,
                                           std::optional<platform::Color> haloColor, double haloWidth,
                                           double haloBlur) {
    const std::int64_t size = map_control_internal::wholeLabelNumber(textSize, "size");
    const std::int64_t width = map_control_internal::wholeLabelNumber(haloWidth, "halo width");
    const std::int64_t blur = map_control_internal::wholeLabelNumber(haloBlur, "halo blur");
    std::lock_guard lock(mutex_);
    mapState_.internalFontStyle = FontStyle(font, size, color, haloColor, width, blur);
}

MapState CVMapControlInternal::mapStateSnapshot() const {
    std::lock_guard lock(mutex_);
    return mapState_;
}

bool CVMapControlInternal::isFloorSelectorVisible() const {
    std::lock_guard lock(mutex_);
    return isFloorSelectorVisible_;
}

// What the view models read.

bool CVMapControlInternal::showInfoWindowOnClickedLocation() const {
    std::lock_guard lock(mutex_);
    return showInfoWindowOnClickedLocation_;
}

bool CVMapControlInternal::selectionBehaviorShowsInfoWindow() const {
    std::lock_guard lock(mutex_);
    return mapState_.currentSelectionBehavior.showInfoWindow;
}

std::optional<FontStyle> CVMapControlInternal::internalFontStyle() const {
    std::lock_guard lock(mutex_);
    return mapState_.internalFontStyle;
}

std::optional<std::string> CVMapControlInternal::currentBuildingId() const {
    std::lock_guard lock(mutex_);
    if (!currentBuilding_) return std::nullopt;
    return currentBuilding_->getBuildingId();
}

double CVMapControlInternal::cameraZoom() const { return cameraPosition().zoom; }

double CVMapControlInternal::cameraBearing() const { return cameraPosition().bearing; }

std::shared_ptr<CVExternalDirectionsService> CVMapControlInternal::externalDirectionService() const {
    return map_->routingService();
}

std::shared_ptr<CVExternalDistanceMatrixService> CVMapControlInternal::externalMatrixService() const {
    return map_->distanceMatrixService();
}

// The render pipeline.

void CVMapControlInternal::requestRender(bool forceClear) {
    auto self = shared_from_this();
    startTracked([self, forceClear]() -> platform::Awaitable<void> {
        auto queue = self->renderQueue_;
        try {
            // A dropped request is dropped whole, its forceClear with it: the
            // waiting render keeps its own.
            (void)co_await queue->enqueue(0, [&self, forceClear] { return renderOperation(self, forceClear); });
        } catch (const std::exception& error) {
            CVLog::core().error("A map render failed: {}", error.what());
        }
    });
}

platform::Awaitable<void> CVMapControlInternal::renderOperation(std::shared_ptr<CVMapControlInternal> self,
                                                                bool forceClear) {
    auto filter = co_await visibleAreaFilter(self);
    co_await render(self, std::move(filter), forceClear);
}

platform::Awaitable<std::shared_ptr<CVFilter>> CVMapControlInternal::visibleAreaFilter(
    std::shared_ptr<CVMapControlInternal> self) {
    co_return co_await platform::runOn(
        platform::SerialExecutor::mainQueue(), [&self]() -> platform::Awaitable<std::shared_ptr<CVFilter>> {
            std::shared_ptr<CVFilter> filter;
            {
                std::lock_guard lock(self->mutex_);
                filter = self->mapState_.filter ? self->mapState_.filter : std::make_shared<CVFilter>();
            }
            const auto camera = self->map_->cameraOperator();
            std::shared_ptr<CVProjection> projection;
            if (camera) projection = co_await camera->projection();
            if (projection) {
                const CVGeoRegion region = co_await projection->visibleRegion();
                std::lock_guard lock(self->mutex_);
                filter->bounds = region.bounds;
            }
            co_return filter;
        });
}

platform::Awaitable<CVMapControlEntry::Locations> CVMapControlInternal::lookUp(CVFilter filter) const {
    // Lambdas in awaited expressions capture by reference: the compiler
    // destroys non-trivial temporaries of a co_await twice.
    co_return co_await awaitCallback<CVMapControlEntry::Locations>(
        [this, &filter](auto answer) { entry_->lookUpLocations(filter, std::move(answer)); });
}

platform::Awaitable<void> CVMapControlInternal::render(std::shared_ptr<CVMapControlInternal> self,
                                                       std::shared_ptr<CVFilter> filter, bool forceClear) {
    CVFilter query;
    std::vector<std::int64_t> hiddenNumbers;
    std::optional<FontStyle> fontStyle;
    std::shared_ptr<CVCustomInfoWindow> infoWindow;
    {
        std::lock_guard lock(self->mutex_);
        filter->floorIndex = static_cast<double>(self->currentFloorIndex_);
        filter->ignoreSearchableStatus = true;
        query = *filter;
        hiddenNumbers = self->hiddenFeatures_;
        fontStyle = self->mapState_.internalFontStyle;
        infoWindow = self->mapState_.customInfoWindow;
    }
    const auto config = self->entry_->solutionConfig();
    const bool clear = forceClear || (config && config->enableClustering);
    auto locations = co_await self->lookUp(std::move(query));

    std::vector<CVFeatureType> hidden;
    bool hidesBuildings = false;
    for (const std::int64_t number : hiddenNumbers) {
        if (number < 0 || number > static_cast<std::int64_t>(CVFeatureType::buildings)) continue;
        hidden.push_back(static_cast<CVFeatureType>(number));
        hidesBuildings = hidesBuildings || hidden.back() == CVFeatureType::buildings;
    }

    auto producer = co_await platform::runOn(
        platform::SerialExecutor::mainQueue(),
        [&self, &locations, &fontStyle, &hidden]() -> platform::Awaitable<std::shared_ptr<CVViewModelProducer>> {
            co_return std::make_shared<CVViewModelProducer>(locations, self, fontStyle, hidden);
        });
    auto models = co_await producer->produceViewModels();
    producer.reset();

    self->map_->setCustomInfoWindow(infoWindow ? infoWindow : std::make_shared<DefaultInfoWindowGenerator>());
    const auto latest = self->entry_->solutionConfig();
    if (latest) {
        self->map_->setCollisionHandling(latest->collisionHandling);
        self->map_->setWallExtrusionOpacity(latest->settings3D.wallOpacity);
        self->map_->setFeatureExtrusionOpacity(latest->settings3D.extrusionOpacity);
    }
    self->map_->setEnableNativeMapBuildings(!hidesBuildings);
    self->map_->setViewModels(std::move(models), clear);
    self->redrawPosition();
}

}  // namespace ambrell

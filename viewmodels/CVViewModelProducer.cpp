#include "viewmodels/CVViewModelProducer.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocationState.h"
#include "Ambrell/CVLog.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "platform/Error.h"
#include "platform/runtime/TaskGroup.h"
#include "viewmodels/ClusterEngine.h"
#include "viewmodels/DerivedGeometryFeatures.h"
#include "viewmodels/DisplayRuleImages.h"
#include "viewmodels/MarkerFeatureBuilder.h"
#include "viewmodels/ModelFeatures.h"
#include "viewmodels/PolygonFeatureBuilder.h"

namespace ambrell {

namespace view_model_producer {
namespace {

// Base types beyond the venue's are none the map knows how to draw.
constexpr auto kLastDrawnBaseType = static_cast<std::uint32_t>(CVLocationBaseType::venue);

// What the clustering of one run is set up with.
constexpr int kClusterSplitStrategy = 3;
constexpr int kMaxClusterRunLimit = 10;

}  // namespace
}  // namespace view_model_producer

CVViewModelProducer::CVViewModelProducer(std::vector<std::shared_ptr<CVLocation>> locations,
                                         const std::shared_ptr<CVMapControlSeam>& mapControl,
                                         std::optional<FontStyle> fontStyle, std::vector<CVFeatureType> hiddenFeatures)
    : locations_(std::move(locations)),
      mapControl_(mapControl),
      fontStyle_(std::move(fontStyle)),
      hiddenFeatures_(std::move(hiddenFeatures)) {
    if (mapControl) {
        zoom_ = mapControl->cameraZoom();
        cameraBearing_ = mapControl->cameraBearing();
    }
}

platform::Awaitable<std::vector<ViewModel>> CVViewModelProducer::produceViewModels() {
    {
        std::lock_guard lock(chunkMutex_);
        if (openChunk_) openChunk_->cancelled = true;
    }
    std::vector<ViewModel> result;
    result.reserve(locations_.size());

    for (std::size_t first = 0; first < locations_.size(); first += kChunkSize) {
        const std::size_t end = std::min(first + kChunkSize, locations_.size());
        auto chunk = std::make_shared<Chunk>();
        {
            std::lock_guard lock(chunkMutex_);
            openChunk_ = chunk;
        }
        std::vector<platform::ChildTask<std::optional<ViewModel>>> children;
        children.reserve(end - first);
        for (std::size_t index = first; index < end; ++index) {
            children.emplace_back(
                [this, location = locations_[index], chunk] { return locationStep(location, chunk); });
        }
        // The group hands back its children's results in their order, so the
        // list keeps the locations' order whatever order they finish in.
        std::vector<std::optional<ViewModel>> produced;
        try {
            produced = co_await platform::runTaskGroup(std::move(children));
        } catch (const std::exception& error) {
            // Only cancellation of the render reaches here: each location's
            // own failures stay with it.
            CVLog::core().debug("View-model production stopped: {}", error.what());
            std::lock_guard lock(chunkMutex_);
            if (openChunk_ == chunk) openChunk_.reset();
            co_return std::vector<ViewModel>();
        }
        for (auto& viewModel : produced) {
            if (viewModel) result.push_back(std::move(*viewModel));
        }
        std::lock_guard lock(chunkMutex_);
        if (openChunk_ == chunk) openChunk_.reset();
    }
    co_return co_await clusteredViewModels(std::move(result));
}

platform::Awaitable<std::vector<ViewModel>> CVViewModelProducer::clusteredViewModels(
    std::vector<ViewModel> viewModels) {
    using namespace view_model_producer;
    const auto entry = CVEntryObjectSeam::installed();
    if (!entry || !entry->enableClustering()) co_return viewModels;
    auto mapControl = mapControl_.lock();
    if (!mapControl) co_return std::vector<ViewModel>();
    const auto map = mapControl->map();
    const auto camera = map ? map->cameraOperator() : nullptr;
    mapControl.reset();
    std::shared_ptr<CVProjection> projection;
    if (camera) projection = co_await camera->projection();
    if (!projection) co_return std::vector<ViewModel>();
    mapControl = mapControl_.lock();
    ClusterEngine engine(kClusterSplitStrategy, kMaxClusterRunLimit, std::move(projection), CVClusterRelation(),
                         mapControl ? mapControl->customClusterIcon() : nullptr);
    mapControl.reset();
    co_return co_await engine.cluster(std::move(viewModels));
}

platform::Awaitable<std::optional<ViewModel>> CVViewModelProducer::produceViewModel(
    std::shared_ptr<CVLocation> location) {
    co_return co_await locationStep(std::move(location), nullptr);
}

platform::Awaitable<std::optional<ViewModel>> CVViewModelProducer::locationStep(std::shared_ptr<CVLocation> location,
                                                                                std::shared_ptr<const Chunk> chunk) {
    using namespace view_model_producer;
    if (!location || (chunk && chunk->cancelled)) co_return std::nullopt;
    const CVLocationBaseType baseType = location->baseType();
    if (baseType == CVLocationBaseType::building) co_return co_await buildingViewModel(location);
    if (static_cast<std::uint32_t>(baseType) > kLastDrawnBaseType) co_return std::nullopt;
    try {
        co_return co_await locationViewModel(*location);
    } catch (const platform::CancellationError&) {
        co_return std::nullopt;
    } catch (const std::exception& error) {
        CVLog::core().error("No view model for location {}: {}", location->getLocationId(), error.what());
        co_return std::nullopt;
    }
}

platform::Awaitable<std::optional<ViewModel>> CVViewModelProducer::buildingViewModel(
    std::shared_ptr<CVLocation> location) {
    std::optional<std::string> currentBuildingId;
    if (const auto mapControl = mapControl_.lock()) currentBuildingId = mapControl->currentBuildingId();
    // The location is held here until the builder is done with it.
    co_return co_await ambrell::buildingViewModel(*location, std::move(currentBuildingId), zoom_,
                                                  DerivedGeometrySwitches::hiding(hiddenFeatures_));
}

bool CVViewModelProducer::hides(CVFeatureType kind) const {
    return std::find(hiddenFeatures_.begin(), hiddenFeatures_.end(), kind) != hiddenFeatures_.end();
}

platform::Awaitable<std::optional<ViewModel>> CVViewModelProducer::locationViewModel(const CVLocation& location) {
    const auto entry = CVEntryObjectSeam::installed();
    if (!entry) co_return std::nullopt;
    const auto locationRule = entry->displayRuleForLocation(location);
    if (!locationRule || !locationRule->isVisible()) co_return std::nullopt;

    std::shared_ptr<CVMapProvider> map;
    bool showInfoWindow = false;
    {
        const auto mapControl = mapControl_.lock();
        if (!mapControl) co_return std::nullopt;
        map = mapControl->map();
        showInfoWindow =
            mapControl->selectionBehaviorShowsInfoWindow() && mapControl->showInfoWindowOnClickedLocation();
    }

    const auto* internal = dynamic_cast<const CVLocationInternal*>(&location);
    const std::int64_t state = internal != nullptr ? internal->state : 0;
    const bool selected = state == static_cast<std::int64_t>(CVLocationState::selected);
    const CVDisplayRuleType selectionRuleType =
        entry->newSelection() ? CVDisplayRuleType::selectionState : CVDisplayRuleType::oldSelection;

    std::shared_ptr<CVDisplayRule> rule = locationRule;
    if (state == static_cast<std::int64_t>(CVLocationState::highlighted) || selected) {
        const CVDisplayRuleType stateRuleType = selected ? selectionRuleType : CVDisplayRuleType::highlightState;
        const auto stateRule = entry->displayRuleForDisplayRuleType(static_cast<int>(stateRuleType));
        if (!stateRule) co_return std::nullopt;
        rule = stateRule->copy(locationRule);
    }
    if (!rule || !rule->isVisible()) co_return std::nullopt;

    ViewModel viewModel;
    viewModel.id = location.getLocationId();
    viewModel.isClickable = true;

    co_await buildMarkerFeature(location, rule, fontStyle_, selected, showInfoWindow, viewModel, zoom_, cameraBearing_);
    // Markers and polygons are drawn whatever kinds the map hides.
    buildPolygonFeature(location, *rule, zoom_, viewModel);
    if (!hides(CVFeatureType::model2D) && rule->showModel2DWithZoom(zoom_)) {
        const std::int64_t resolutionLimit = map ? map->model2DResolutionLimit() : 0;
        const auto image = co_await realized2DModel(rule, resolutionLimit);
        buildModel2D(location, *rule, image, resolutionLimit, zoom_, viewModel);
    }
    if (!hides(CVFeatureType::model3D)) buildModel3D(location, *rule, viewModel, zoom_);
    buildDerivedGeometryFeatures(location, *rule, zoom_, DerivedGeometrySwitches::hiding(hiddenFeatures_), viewModel);
    co_return viewModel;
}

}  // namespace ambrell

#include "viewmodels/CVViewModelProducer.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocationState.h"
#include "Ambrell/CVLog.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "platform/Error.h"
#include "platform/runtime/TaskGroup.h"
#include "viewmodels/ClusterEngine.h"
#include "viewmodels/MarkerFeatureBuilder.h"
#include "viewmodels/PolygonFeatureBuilder.h"

namespace ambrell {

namespace view_model_producer {
namespace {

// The raw base types the producer tells apart; the public enumeration names
// them differently, but stored view models have always gone by these values.
constexpr std::uint32_t kBuildingBaseType = 3;
constexpr std::uint32_t kLastDrawnBaseType = 5;

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
    const auto baseType = static_cast<std::uint32_t>(location->baseType());
    if (baseType == kBuildingBaseType) co_return co_await buildingViewModel(*location);
    if (baseType > kLastDrawnBaseType) co_return std::nullopt;
    try {
        co_return co_await locationViewModel(*location);
    } catch (const platform::CancellationError&) {
        co_return std::nullopt;
    } catch (const std::exception& error) {
        CVLog::core().error("No view model for location {}: {}", location->getLocationId(), error.what());
        co_return std::nullopt;
    }
}

platform::Awaitable<std::optional<ViewModel>> CVViewModelProducer::buildingViewModel(const CVLocation& /*location*/) {
    // A building draws as the outline of its derived geometry; until that
    // builder is here, a building location draws nothing.
    co_return std::nullopt;
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
    buildPolygonFeature(location, *rule, zoom_, viewModel);
    // The 2D and 3D models and the derived geometry (floor plans, walls,
    // extrusions) come after the polygon, each unless its kind is hidden;
    // markers and polygons are never hidden.
    co_return viewModel;
}

}  // namespace ambrell

#include "viewmodels/CVViewModelProducer.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocationState.h"
#include "Ambrell/CVLog.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "platform/Error.h"
#include "platform/runtime/Continuation.h"
#include "platform/runtime/TaskGroup.h"
#include "platform/runtime/ThreadPool.h"
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

// One chunk's locations being built at once, shared by the threads that
// build them: each takes the next location left until none is.
struct CVViewModelProducer::ImmediateWork {
    // `produced` and `waits` have room for `count` entries and outlive every
    // location the work hands out.
    ImmediateWork(CVViewModelProducer& producer, std::shared_ptr<const Chunk> chunk, ChunkSettings settings,
                  std::size_t first, std::size_t count, std::optional<ViewModel>* produced, char* waits)
        : producer(producer),
          chunk(std::move(chunk)),
          settings(std::move(settings)),
          first(first),
          count(count),
          produced(produced),
          waits(waits) {}

    // True for the call that finished the chunk's last location.
    bool buildSome() {
        bool finishedLast = false;
        for (std::size_t i = next.fetch_add(1, std::memory_order_relaxed); i < count;
             i = next.fetch_add(1, std::memory_order_relaxed)) {
            const auto outcome = producer.immediateStep(producer.locations_[first + i], *chunk, settings, produced[i]);
            waits[i] = outcome == Immediate::waits ? 1 : 0;
            finishedLast = finished.fetch_add(1, std::memory_order_acq_rel) + 1 == count;
        }
        return finishedLast;
    }

    CVViewModelProducer& producer;
    const std::shared_ptr<const Chunk> chunk;
    const ChunkSettings settings;
    const std::size_t first;
    const std::size_t count;
    std::optional<ViewModel>* const produced;
    char* const waits;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    // Resumed by the helper that finishes the last location.
    std::shared_ptr<platform::Continuation> allFinished;
};

platform::Awaitable<std::vector<ViewModel>> CVViewModelProducer::produceViewModels() {
    {
        std::lock_guard lock(chunkMutex_);
        if (openChunk_) openChunk_->cancelled = true;
    }
    std::vector<ViewModel> result;
    result.reserve(locations_.size());
    // One chunk's results at a time, kept from chunk to chunk: a helper that
    // starts late finds no location left and touches none of it.
    std::vector<std::optional<ViewModel>> produced(std::min(kChunkSize, locations_.size()));
    std::vector<char> waits(produced.size(), 0);

    for (std::size_t first = 0; first < locations_.size(); first += kChunkSize) {
        const std::size_t end = std::min(first + kChunkSize, locations_.size());
        auto chunk = std::make_shared<Chunk>();
        {
            std::lock_guard lock(chunkMutex_);
            openChunk_ = chunk;
        }
        // Most locations need nothing that waits (their icons are cached):
        // they are built at once, spread over the pool's threads, without a
        // task each. Only those that must wait become the chunk's concurrent
        // children.
        auto work = std::make_shared<ImmediateWork>(*this, chunk, chunkSettings(), first, end - first, produced.data(),
                                                    waits.data());
        const std::size_t helpers = std::min<std::size_t>(
            std::max(platform::ThreadPool::shared().threadCount(), 1U) - 1, (work->count - 1) / kLocationsPerHelper);
        if (helpers > 0) {
            try {
                work->allFinished = co_await platform::Continuation::makeForCurrentExecutor();
            } catch (const std::logic_error&) {
                // Off a serial executor nothing could wait for helpers: this
                // thread builds them all.
            }
        }
        if (work->allFinished) {
            const auto pool = platform::ThreadPool::shared().executor();
            for (std::size_t helper = 0; helper < helpers; ++helper) {
                std::function<void()> help = [work] {
                    if (work->buildSome()) work->allFinished->resume();
                };
                // A pool that has stopped leaves the work to this thread.
                if (!platform::ThreadPool::shared().tryPost(pool, help)) break;
            }
        }
        if (!work->buildSome()) co_await work->allFinished->waitIgnoringCancellation();
        std::vector<std::size_t> waiting;
        for (std::size_t index = first; index < end; ++index) {
            if (waits[index - first] != 0) waiting.push_back(index);
        }
        if (!waiting.empty()) {
            std::vector<platform::ChildTask<std::optional<ViewModel>>> children;
            children.reserve(waiting.size());
            for (const std::size_t index : waiting) {
                children.emplace_back(
                    [this, location = locations_[index], chunk] { return locationStep(location, chunk); });
            }
            // The group hands back its children's results in their order, so
            // the list keeps the locations' order whatever order they finish in.
            std::vector<std::optional<ViewModel>> awaited;
            try {
                awaited = co_await platform::runTaskGroup(std::move(children));
            } catch (const std::exception& error) {
                // Only cancellation of the render reaches here: each location's
                // own failures stay with it.
                CVLog::core().debug("View-model production stopped: {}", error.what());
                std::lock_guard lock(chunkMutex_);
                if (openChunk_ == chunk) openChunk_.reset();
                co_return std::vector<ViewModel>();
            }
            for (std::size_t i = 0; i < waiting.size(); ++i) produced[waiting[i] - first] = std::move(awaited[i]);
        }
        for (std::size_t i = 0; i < end - first; ++i) {
            if (produced[i]) result.push_back(std::move(*produced[i]));
            produced[i].reset();
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

CVViewModelProducer::ChunkSettings CVViewModelProducer::chunkSettings() const {
    ChunkSettings settings;
    settings.entry = CVEntryObjectSeam::installed();
    if (const auto mapControl = mapControl_.lock()) {
        settings.mapControlAlive = true;
        settings.map = mapControl->map();
        settings.showInfoWindow =
            mapControl->selectionBehaviorShowsInfoWindow() && mapControl->showInfoWindowOnClickedLocation();
    }
    return settings;
}

std::optional<CVViewModelProducer::ResolvedLocation> CVViewModelProducer::resolvedLocation(
    const CVLocation& location, const ChunkSettings& settings) {
    if (!settings.entry) return std::nullopt;
    const CVEntryObjectSeam& entry = *settings.entry;
    auto locationRule = entry.displayRuleForLocation(location);
    if (!locationRule || !locationRule->isVisible()) return std::nullopt;
    if (!settings.mapControlAlive) return std::nullopt;

    ResolvedLocation resolved;
    resolved.map = settings.map.get();
    resolved.showInfoWindow = settings.showInfoWindow;

    const auto* internal = dynamic_cast<const CVLocationInternal*>(&location);
    const std::int64_t state = internal != nullptr ? internal->state : 0;
    resolved.selected = state == static_cast<std::int64_t>(CVLocationState::selected);

    if (state == static_cast<std::int64_t>(CVLocationState::highlighted) || resolved.selected) {
        const CVDisplayRuleType selectionRuleType =
            entry.newSelection() ? CVDisplayRuleType::selectionState : CVDisplayRuleType::oldSelection;
        const CVDisplayRuleType stateRuleType =
            resolved.selected ? selectionRuleType : CVDisplayRuleType::highlightState;
        const auto stateRule = entry.displayRuleForDisplayRuleType(static_cast<int>(stateRuleType));
        if (!stateRule) return std::nullopt;
        resolved.rule = stateRule->copy(locationRule);
    } else {
        resolved.rule = std::move(locationRule);
    }
    if (!resolved.rule || !resolved.rule->isVisible()) return std::nullopt;
    return resolved;
}

bool CVViewModelProducer::shows2DModel(const CVDisplayRule& rule) const {
    return !hides(CVFeatureType::model2D) && rule.showModel2DWithZoom(zoom_);
}

void CVViewModelProducer::buildModelsAndDerivedGeometry(const CVLocation& location, const ResolvedLocation& resolved,
                                                        const std::shared_ptr<const platform::Image>* model2DImage,
                                                        std::int64_t resolutionLimit, ViewModel& viewModel) const {
    const CVDisplayRule& rule = *resolved.rule;
    if (model2DImage != nullptr) buildModel2D(location, rule, *model2DImage, resolutionLimit, zoom_, viewModel);
    if (!hides(CVFeatureType::model3D)) buildModel3D(location, rule, viewModel, zoom_);
    buildDerivedGeometryFeatures(location, rule, zoom_, DerivedGeometrySwitches::hiding(hiddenFeatures_), viewModel);
}

platform::Awaitable<std::optional<ViewModel>> CVViewModelProducer::locationViewModel(const CVLocation& location) {
    const ChunkSettings settings = chunkSettings();
    const auto resolved = resolvedLocation(location, settings);
    if (!resolved) co_return std::nullopt;
    const auto& rule = resolved->rule;

    ViewModel viewModel;
    viewModel.id = location.getLocationId();
    viewModel.isClickable = true;

    co_await buildMarkerFeature(location, rule, fontStyle_, resolved->selected, resolved->showInfoWindow, viewModel,
                                zoom_, cameraBearing_);
    // Markers and polygons are drawn whatever kinds the map hides.
    buildPolygonFeature(location, *rule, zoom_, viewModel);
    std::shared_ptr<const platform::Image> model2DImage;
    const bool withModel2D = shows2DModel(*rule);
    const std::int64_t resolutionLimit = withModel2D && resolved->map ? resolved->map->model2DResolutionLimit() : 0;
    if (withModel2D) model2DImage = co_await realized2DModel(rule, resolutionLimit);
    buildModelsAndDerivedGeometry(location, *resolved, withModel2D ? &model2DImage : nullptr, resolutionLimit,
                                  viewModel);
    co_return viewModel;
}

CVViewModelProducer::Immediate CVViewModelProducer::immediateStep(const std::shared_ptr<CVLocation>& location,
                                                                  const Chunk& chunk, const ChunkSettings& settings,
                                                                  std::optional<ViewModel>& viewModel) {
    using namespace view_model_producer;
    if (!location || chunk.cancelled) return Immediate::built;
    const CVLocationBaseType baseType = location->baseType();
    if (baseType == CVLocationBaseType::building) return Immediate::waits;
    if (static_cast<std::uint32_t>(baseType) > kLastDrawnBaseType) return Immediate::built;
    try {
        return immediateLocationViewModel(*location, settings, viewModel);
    } catch (const platform::CancellationError&) {
        viewModel.reset();
        return Immediate::built;
    } catch (const std::exception& error) {
        CVLog::core().error("No view model for location {}: {}", location->getLocationId(), error.what());
        viewModel.reset();
        return Immediate::built;
    } catch (...) {
        // Helpers on other threads must never unwind: the chunk waits for them.
        CVLog::core().error("No view model for location {}", location->getLocationId());
        viewModel.reset();
        return Immediate::built;
    }
}

CVViewModelProducer::Immediate CVViewModelProducer::immediateLocationViewModel(const CVLocation& location,
                                                                               const ChunkSettings& settings,
                                                                               std::optional<ViewModel>& viewModel) {
    const auto resolved = resolvedLocation(location, settings);
    if (!resolved) return Immediate::built;
    const CVDisplayRule& rule = *resolved->rule;

    // The images first: a location whose images are not at hand waits for
    // them in a task, built from the start there.
    std::shared_ptr<const platform::Image> icon;
    if (markerShowsIcon(rule, resolved->selected, zoom_)) {
        auto atHand = displayRuleIconAtHand(rule);
        if (!atHand) return Immediate::waits;
        icon = std::move(*atHand);
    }
    std::shared_ptr<const platform::Image> model2DImage;
    const bool withModel2D = shows2DModel(rule);
    const std::int64_t resolutionLimit = withModel2D && resolved->map ? resolved->map->model2DResolutionLimit() : 0;
    if (withModel2D) {
        auto atHand = realized2DModelAtHand(rule, resolutionLimit);
        if (!atHand) return Immediate::waits;
        model2DImage = std::move(*atHand);
    }

    ViewModel& built = viewModel.emplace();
    built.id = location.getLocationId();
    built.isClickable = true;
    auto draft = draftMarkerFeature(location, rule, fontStyle_, resolved->selected, resolved->showInfoWindow, built,
                                    zoom_, cameraBearing_);
    if (draft) finishMarkerFeature(std::move(*draft), location, rule, icon, zoom_, built);
    buildPolygonFeature(location, rule, zoom_, built);
    buildModelsAndDerivedGeometry(location, *resolved, withModel2D ? &model2DImage : nullptr, resolutionLimit, built);
    return Immediate::built;
}

}  // namespace ambrell

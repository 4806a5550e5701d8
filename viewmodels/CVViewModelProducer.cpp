#include "viewmodels/CVViewModelProducer.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
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

// The run's locations built at once, shared by this run's coroutine and the
// pool's helpers: each takes the next location left until none is. Helpers
// run ahead of the chunk being handed out, so that they never wait at a
// chunk's end; the coroutine takes locations of its own chunk only and hands
// out the results in location order.
struct CVViewModelProducer::ImmediateWork {
    // What a waiter waits for that is no chunk: every helper has stopped.
    static constexpr std::size_t kHelpersStopped = std::numeric_limits<std::size_t>::max() - 1;
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

    ImmediateWork(CVViewModelProducer& producer, std::size_t count)
        : producer(producer),
          count(count),
          chunkCount((count + kChunkSize - 1) / kChunkSize),
          produced(count),
          waits(count, 0),
          limit(count),
          chunks(chunkCount),
          settings(chunkCount),
          settingsRead(std::make_unique<std::once_flag[]>(chunkCount)),
          chunkFinished(std::make_unique<std::atomic<std::size_t>[]>(chunkCount)),
          chunkWaits(std::make_unique<std::atomic<bool>[]>(chunkCount)) {
        for (auto& chunk : chunks) chunk = std::make_shared<Chunk>();
    }

    [[nodiscard]] static std::size_t chunkOf(std::size_t index) { return index / kChunkSize; }
    [[nodiscard]] std::size_t chunkEnd(std::size_t chunk) const { return std::min((chunk + 1) * kChunkSize, count); }
    [[nodiscard]] std::size_t chunkLength(std::size_t chunk) const { return chunkEnd(chunk) - chunk * kChunkSize; }

    // The next location below `bound` no one has taken, or kNone. Taken
    // locations are never given back: whoever takes one finishes it.
    std::size_t take(std::size_t bound) {
        std::size_t index = next.load();
        while (index < bound && index < limit.load()) {
            if (next.compare_exchange_weak(index, index + 1)) return index;
        }
        return kNone;
    }

    // Read once per chunk, by whoever first builds one of its locations, as
    // the chunk's turn would have read them.
    const ChunkSettings& settingsOf(std::size_t chunk) {
        std::call_once(settingsRead[chunk], [&] { settings[chunk] = producer.chunkSettings(); });
        return settings[chunk];
    }

    void build(std::size_t index) {
        const std::size_t chunk = chunkOf(index);
        const auto outcome =
            producer.immediateStep(producer.locations_[index], *chunks[chunk], settingsOf(chunk), produced[index]);
        waits[index] = outcome == Immediate::waits ? 1 : 0;
        // No one goes past a chunk with a location that waits: those after
        // it are built once its waits are over, when the images they share
        // are at hand.
        if (outcome == Immediate::waits) {
            chunkWaits[chunk].store(true);
            stopAt(chunkEnd(chunk));
        }
        if (chunkFinished[chunk].fetch_add(1, std::memory_order_acq_rel) + 1 == chunkLength(chunk)) wake(chunk);
    }

    void stopAt(std::size_t end) {
        std::size_t current = limit.load();
        while (end < current && !limit.compare_exchange_weak(current, end)) {
        }
    }

    // After the waits of `chunk` are over: the next chunk already found to
    // have a location that waits is where helpers stop now.
    void resumeAfter(std::size_t chunk) {
        std::size_t end = count;
        const std::size_t reachedChunks = std::min(chunkOf(next.load()) + 1, chunkCount);
        for (std::size_t later = chunk + 1; later < reachedChunks; ++later) {
            if (chunkWaits[later].load()) {
                end = chunkEnd(later);
                break;
            }
        }
        limit.store(end);
    }

    // A helper's whole turn. Once no location is left to it, it touches
    // nothing but this work, which the run may have left by then.
    void help() {
        helpers.fetch_add(1);
        for (std::size_t index = take(count); index != kNone; index = take(count)) build(index);
        if (helpers.fetch_sub(1) == 1 && stopping.load()) wake(kHelpersStopped);
    }

    [[nodiscard]] bool reached(std::size_t awaited) const {
        if (awaited == kHelpersStopped) return helpers.load() == 0;
        return chunkFinished[awaited].load(std::memory_order_acquire) == chunkLength(awaited);
    }

    // Leaves `continuation` to be resumed once `awaited` is reached; false,
    // leaving nothing, when it is reached already.
    bool waitFor(std::size_t awaited, std::shared_ptr<platform::Continuation> continuation) {
        std::lock_guard lock(mutex);
        if (reached(awaited)) return false;
        waiting = awaited;
        waiter = std::move(continuation);
        return true;
    }

    void wake(std::size_t reachedNow) {
        std::shared_ptr<platform::Continuation> woken;
        {
            std::lock_guard lock(mutex);
            if (waiter && waiting == reachedNow) woken = std::move(waiter);
        }
        if (woken) woken->resume();
    }

    CVViewModelProducer& producer;
    const std::size_t count;
    const std::size_t chunkCount;
    std::vector<std::optional<ViewModel>> produced;
    std::vector<char> waits;
    std::atomic<std::size_t> next{0};
    // No location at or past it is taken: the end of the first chunk with a
    // location that waits, until its waiting locations, which run alone,
    // are done.
    std::atomic<std::size_t> limit;
    // Helpers in their turn, and whether the run waits for them all to stop.
    std::atomic<std::size_t> helpers{0};
    std::atomic<bool> stopping{false};
    std::vector<std::shared_ptr<Chunk>> chunks;
    std::vector<ChunkSettings> settings;
    std::unique_ptr<std::once_flag[]> settingsRead;
    std::unique_ptr<std::atomic<std::size_t>[]> chunkFinished;
    std::unique_ptr<std::atomic<bool>[]> chunkWaits;

    std::mutex mutex;
    std::size_t waiting = kNone;
    std::shared_ptr<platform::Continuation> waiter;
};

void CVViewModelProducer::startHelpers(const std::shared_ptr<ImmediateWork>& work) {
    const std::size_t left = work->count - std::min(work->next.load(), work->count);
    if (left == 0) return;
    const std::size_t helpers = std::min<std::size_t>(std::max(platform::ThreadPool::shared().threadCount(), 1U) - 1,
                                                      (left - 1) / kLocationsPerHelper);
    const auto pool = platform::ThreadPool::shared().executor();
    for (std::size_t helper = 0; helper < helpers; ++helper) {
        std::function<void()> help = [work] { work->help(); };
        // A pool that has stopped leaves the work to this thread.
        if (!platform::ThreadPool::shared().tryPost(pool, help)) break;
    }
}

platform::Awaitable<std::vector<ViewModel>> CVViewModelProducer::produceViewModels() {
    {
        std::lock_guard lock(chunkMutex_);
        if (openChunk_) openChunk_->cancelled = true;
    }
    std::vector<ViewModel> result;
    result.reserve(locations_.size());
    // Most locations need nothing that waits (their icons are cached): they
    // are built at once, spread over the pool's threads, without a task
    // each. Only those that must wait become their chunk's concurrent
    // children, in their chunk's turn.
    auto work = std::make_shared<ImmediateWork>(*this, locations_.size());
    bool withHelpers = locations_.size() > kLocationsPerHelper;
    if (withHelpers) {
        try {
            // Only to learn that this run can wait for helpers.
            (void)co_await platform::Continuation::makeForCurrentExecutor();
        } catch (const std::logic_error&) {
            // Off a serial executor nothing could wait for helpers: this
            // thread builds them all.
            withHelpers = false;
        }
    }
    if (withHelpers) startHelpers(work);

    for (std::size_t chunkIndex = 0; chunkIndex < work->chunkCount; ++chunkIndex) {
        const std::size_t first = chunkIndex * kChunkSize;
        const std::size_t end = work->chunkEnd(chunkIndex);
        const auto& chunk = work->chunks[chunkIndex];
        {
            std::lock_guard lock(chunkMutex_);
            openChunk_ = chunk;
        }
        for (std::size_t index = work->take(end); index != ImmediateWork::kNone; index = work->take(end)) {
            work->build(index);
        }
        if (!work->reached(chunkIndex)) {
            auto continuation = co_await platform::Continuation::makeForCurrentExecutor();
            if (work->waitFor(chunkIndex, continuation)) co_await continuation->waitIgnoringCancellation();
        }
        std::vector<std::size_t> waiting;
        for (std::size_t index = first; index < end; ++index) {
            if (work->waits[index] != 0) waiting.push_back(index);
        }
        if (!waiting.empty()) {
            // The waiting ones run alone: the helpers stop first, so that no
            // more than a chunk's locations are ever worked on at once.
            work->stopAt(end);
            work->stopping.store(true);
            if (withHelpers && !work->reached(ImmediateWork::kHelpersStopped)) {
                auto continuation = co_await platform::Continuation::makeForCurrentExecutor();
                if (work->waitFor(ImmediateWork::kHelpersStopped, continuation)) {
                    co_await continuation->waitIgnoringCancellation();
                }
            }
            work->stopping.store(false);
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
            for (std::size_t i = 0; i < waiting.size(); ++i) work->produced[waiting[i]] = std::move(awaited[i]);
            work->resumeAfter(chunkIndex);
            if (withHelpers) startHelpers(work);
        }
        for (std::size_t index = first; index < end; ++index) {
            if (work->produced[index]) result.push_back(std::move(*work->produced[index]));
            work->produced[index].reset();
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
    std::shared_ptr<CVProjection> projection;
    std::shared_ptr<CVCustomClusterIcon> customClusterIcon;
    // The adapter's code, which may fail: the render then shows its view
    // models unclustered rather than nothing. The engine itself never throws.
    try {
        const auto map = mapControl->map();
        const auto camera = map ? map->cameraOperator() : nullptr;
        mapControl.reset();
        if (camera) projection = co_await camera->projection();
        if (!projection) co_return std::vector<ViewModel>();
        mapControl = mapControl_.lock();
        customClusterIcon = mapControl ? mapControl->customClusterIcon() : nullptr;
        mapControl.reset();
    } catch (const platform::CancellationError&) {
        throw;
    } catch (const std::exception& error) {
        CVLog::core().error("Clustering failed, the view models go out unclustered: {}", error.what());
        co_return viewModels;
    } catch (...) {
        CVLog::core().error("Clustering failed, the view models go out unclustered");
        co_return viewModels;
    }
    ClusterEngine engine(kClusterSplitStrategy, kMaxClusterRunLimit, std::move(projection), CVClusterRelation(),
                         std::move(customClusterIcon));
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

#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Ambrell/CVFeatureType.h"
#include "Ambrell/CVLocation.h"
#include "platform/Image.h"
#include "platform/runtime/Executor.h"
#include "viewmodels/CVMapControlSeam.h"
#include "viewmodels/CVMapProvider.h"
#include "viewmodels/FontStyle.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

class CVDisplayRule;
class CVEntryObjectSeam;

// Turns the locations one render of the map shows into the view models the
// map-provider adapter draws. The map control makes one producer per render,
// runs it once off the main thread and hands the result to the adapter.
class CVViewModelProducer {
public:
    // How many locations are worked on at once, at most.
    static constexpr std::size_t kChunkSize = 50;

    // Reads the camera's zoom and bearing from the map control now (both 0
    // when it is gone); holds the map control weakly, so that a render does
    // not keep a closed map alive.
    CVViewModelProducer(std::vector<std::shared_ptr<CVLocation>> locations,
                        const std::shared_ptr<CVMapControlSeam>& mapControl, std::optional<FontStyle> fontStyle,
                        std::vector<CVFeatureType> hiddenFeatures);
    CVViewModelProducer(const CVViewModelProducer&) = delete;
    CVViewModelProducer& operator=(const CVViewModelProducer&) = delete;

    // One view model per location fit to draw, in the order of the
    // locations, clustered when the solution asks for clustering. Never
    // throws. The producer must outlive the run.
    [[nodiscard]] platform::Awaitable<std::vector<ViewModel>> produceViewModels();

    // The view model of one location, or none when it is not to be drawn
    // (no rule, an invisible one, a missing state rule, a base type the map
    // does not draw, the map control gone, its run cancelled).
    [[nodiscard]] platform::Awaitable<std::optional<ViewModel>> produceViewModel(std::shared_ptr<CVLocation> location);

    [[nodiscard]] const std::vector<std::shared_ptr<CVLocation>>& locations() const { return locations_; }
    [[nodiscard]] double zoom() const { return zoom_; }
    [[nodiscard]] double cameraBearing() const { return cameraBearing_; }
    // The kinds of feature the map must not draw; markers and polygons are
    // drawn whatever it says.
    [[nodiscard]] const std::vector<CVFeatureType>& hiddenFeatures() const { return hiddenFeatures_; }

private:
    // The chunk whose locations are being worked on; a second run cancels
    // the one still open, whose unstarted locations are then dropped.
    struct Chunk {
        std::atomic<bool> cancelled{false};
    };

    // What every location of a chunk reads alike: the entry object and the
    // map control's settings, read once rather than under the same shared
    // handles from every thread for every location. No map control: none is
    // drawn.
    struct ChunkSettings {
        std::shared_ptr<const CVEntryObjectSeam> entry;
        bool mapControlAlive = false;
        std::shared_ptr<CVMapProvider> map;
        bool showInfoWindow = false;
    };
    // A location's rule for this render, with what the map control says of it.
    struct ResolvedLocation {
        std::shared_ptr<CVDisplayRule> rule;
        // Held by the chunk's settings.
        const CVMapProvider* map = nullptr;
        bool selected = false;
        bool showInfoWindow = false;
    };
    struct ImmediateWork;
    // Locations one helper thread is worth starting for.
    static constexpr std::size_t kLocationsPerHelper = 16;

    // The outcome of building a location at once: its view model (or none),
    // or word that it must wait for something and is to be built in a task.
    enum class Immediate { built, waits };

    [[nodiscard]] platform::Awaitable<std::optional<ViewModel>> locationStep(std::shared_ptr<CVLocation> location,
                                                                             std::shared_ptr<const Chunk> chunk);
    [[nodiscard]] Immediate immediateStep(const std::shared_ptr<CVLocation>& location, const Chunk& chunk,
                                          const ChunkSettings& settings, std::optional<ViewModel>& viewModel);
    [[nodiscard]] Immediate immediateLocationViewModel(const CVLocation& location, const ChunkSettings& settings,
                                                       std::optional<ViewModel>& viewModel);
    [[nodiscard]] ChunkSettings chunkSettings() const;
    // Posts helpers for the locations no one has taken yet.
    static void startHelpers(const std::shared_ptr<ImmediateWork>& work);
    [[nodiscard]] static std::optional<ResolvedLocation> resolvedLocation(const CVLocation& location,
                                                                          const ChunkSettings& settings);
    [[nodiscard]] platform::Awaitable<std::optional<ViewModel>> locationViewModel(const CVLocation& location);
    [[nodiscard]] platform::Awaitable<std::optional<ViewModel>> buildingViewModel(std::shared_ptr<CVLocation> location);
    // The builders after the marker and the polygon, the 2D model's image given.
    void buildModelsAndDerivedGeometry(const CVLocation& location, const ResolvedLocation& resolved,
                                       const std::shared_ptr<const platform::Image>* model2DImage,
                                       std::int64_t resolutionLimit, ViewModel& viewModel) const;
    [[nodiscard]] bool hides(CVFeatureType kind) const;
    [[nodiscard]] bool shows2DModel(const CVDisplayRule& rule) const;
    [[nodiscard]] platform::Awaitable<std::vector<ViewModel>> clusteredViewModels(std::vector<ViewModel> viewModels);

    std::vector<std::shared_ptr<CVLocation>> locations_;
    std::weak_ptr<CVMapControlSeam> mapControl_;
    std::optional<FontStyle> fontStyle_;
    double zoom_ = 0;
    double cameraBearing_ = 0;
    std::vector<CVFeatureType> hiddenFeatures_;

    std::mutex chunkMutex_;
    std::shared_ptr<Chunk> openChunk_;
};

}  // namespace ambrell

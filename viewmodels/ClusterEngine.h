#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Ambrell/CVCustomClusterIcon.h"
#include "platform/CGPoint.h"
#include "platform/CGSize.h"
#include "platform/Coordinate.h"
#include "platform/runtime/Executor.h"
#include "viewmodels/CVProjection.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

class CVCluster;

// Whether the view model's marker asks to be clustered: its "isClusterable"
// property as a Boolean; false without a marker, the key or a Boolean.
[[nodiscard]] bool isClusterable(const ViewModel& viewModel);
// The coordinate of the marker's point; (0, 0) without a marker or when its
// geometry holds no single point.
[[nodiscard]] CLLocationCoordinate2D markerCoordinate(const ViewModel& viewModel);
// Drops the marker and its icon from the view model.
void removeMarker(ViewModel& viewModel);
// The image a view model keeps under the key: a platform::Image held by value
// or through a shared pointer; null for anything else.
[[nodiscard]] const platform::Image* viewModelImage(const ViewModel& viewModel, CVModelData key);

// One marker of a clustering pass on screen: its rectangle is centred on
// `position` with the extent of `size`.
struct RTreeEntry {
    std::string id;
    // The marker's "axType", the location type.
    std::string type;
    CGPoint position;
    CGSize size;
    // Where the view model stands in the list of the pass.
    std::size_t index = 0;
    bool clusterable = false;
};

// The entry of a view model with a point marker at a finite coordinate, an
// icon image and a text "axType", whose projected point is finite and lies
// right of and below the screen's origin (x and y above 0); none otherwise.
// The projection is asked only once everything else is known.
[[nodiscard]] platform::Awaitable<std::optional<RTreeEntry>> makeEntry(const ViewModel& viewModel, std::size_t index,
                                                                       CVProjection& projection);

// The clusters of a run by member id, in the order ids first joined; several
// ids name the same cluster.
class CVClusterRelation {
public:
    [[nodiscard]] std::shared_ptr<CVCluster> find(const std::string& id) const;
    // A known id keeps its place.
    void set(const std::string& id, std::shared_ptr<CVCluster> cluster);
    [[nodiscard]] bool contains(const std::string& id) const { return positions_.contains(id); }
    [[nodiscard]] std::size_t size() const { return entries_.size(); }
    [[nodiscard]] bool empty() const { return entries_.empty(); }
    [[nodiscard]] const std::vector<std::pair<std::string, std::shared_ptr<CVCluster>>>& entries() const {
        return entries_;
    }
    // Each cluster once, in the order of its first id.
    [[nodiscard]] std::vector<std::shared_ptr<CVCluster>> distinctClusters() const;

private:
    std::vector<std::pair<std::string, std::shared_ptr<CVCluster>>> entries_;
    std::unordered_map<std::string, std::size_t> positions_;
};

// What one clustering run did, for tests and measurements.
struct ClusterRunStatistics {
    int passes = 0;
    std::size_t queries = 0;
    std::size_t merges = 0;
};

// Merges the markers of one render that overlap on screen, type by type,
// into cluster markers. One engine serves one run of the view-model producer.
class ClusterEngine {
public:
    // `splitStrategy` is kept as the producer gives it; the index's own
    // split does the work. At most `maxClusterRunLimit` passes run.
    ClusterEngine(int splitStrategy, int maxClusterRunLimit, std::shared_ptr<CVProjection> projection,
                  CVClusterRelation locationClusterRelation,
                  std::shared_ptr<CVCustomClusterIcon> customClusterIconGenerator);

    // The list sorted by marker coordinate (latitude, then longitude, both
    // descending; a missing marker counts as (0, 0), a NaN below every
    // number), with the markers of every cluster member removed, followed by
    // one view model per cluster in the order the clusters formed. Passes
    // repeat while one merges anything, up to the limit. Projection calls are
    // awaited one at a time; nothing is thrown: when the projection or the
    // host's cluster images fail, that is logged and the list comes back as
    // it came, unclustered.
    [[nodiscard]] platform::Awaitable<std::vector<ViewModel>> cluster(std::vector<ViewModel> viewModels);

    [[nodiscard]] int splitStrategy() const { return splitStrategy_; }
    [[nodiscard]] int maxClusterRunLimit() const { return maxClusterRunLimit_; }
    [[nodiscard]] const std::shared_ptr<CVProjection>& projection() const { return projection_; }
    void setProjection(std::shared_ptr<CVProjection> projection) { projection_ = std::move(projection); }
    [[nodiscard]] const CVClusterRelation& locationClusterRelation() const { return relation_; }
    [[nodiscard]] const ClusterRunStatistics& statistics() const { return statistics_; }

private:
    // One pass over `viewModels` with the entries made for it; marks the view
    // models whose marker goes and returns the number of merges.
    std::size_t runPass(const std::vector<ViewModel>& viewModels, const std::vector<RTreeEntry>& entries,
                        std::vector<bool>& markerRemoved);
    void join(const RTreeEntry& entry, const RTreeEntry& hit, const std::vector<ViewModel>& viewModels);

    int splitStrategy_;
    int maxClusterRunLimit_;
    std::shared_ptr<CVProjection> projection_;
    CVClusterRelation relation_;
    std::shared_ptr<CVCustomClusterIcon> customClusterIconGenerator_;
    ClusterRunStatistics statistics_;
};

}  // namespace ambrell

#include "viewmodels/ClusterEngine.h"

#include <algorithm>
#include <any>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iterator>
#include <limits>
#include <unordered_set>

#include <boost/geometry/algorithms/covered_by.hpp>
#include <boost/geometry/geometries/box.hpp>
#include <boost/geometry/geometries/point.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <boost/geometry/strategies/strategies.hpp>

#include "Ambrell/CVLog.h"
#include "platform/Error.h"
#include "viewmodels/CVCluster.h"

namespace ambrell {

namespace cluster_engine {
namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

using ScreenPoint = bg::model::point<float, 2, bg::cs::cartesian>;
using ScreenBox = bg::model::box<ScreenPoint>;
// A corner of an entry's rectangle and the entry's place in the pass.
using Corner = std::pair<ScreenPoint, std::uint32_t>;
using CornerTree = bgi::rtree<Corner, bgi::quadratic<4>>;

// A double beyond the float range has no float to convert to: it is held to
// the largest finite one. NaN and infinity cannot reach here (positions are
// finite and above 0).
float saturated(double value) {
    constexpr double largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -largest, largest));
}

ScreenPoint minimumCorner(const RTreeEntry& entry) {
    return {saturated(entry.position.x - entry.size.width * 0.5),
            saturated(entry.position.y - entry.size.height * 0.5)};
}

ScreenPoint maximumCorner(const RTreeEntry& entry) {
    return {saturated(entry.position.x + entry.size.width * 0.5),
            saturated(entry.position.y + entry.size.height * 0.5)};
}

// Descending, with NaN below every number, so that the order is total and
// the sort well defined whatever the coordinates.
int compareDescending(double lhs, double rhs) {
    const bool lhsNaN = std::isnan(lhs);
    const bool rhsNaN = std::isnan(rhs);
    if (lhsNaN || rhsNaN) return lhsNaN == rhsNaN ? 0 : (lhsNaN ? 1 : -1);
    if (lhs > rhs) return -1;
    if (lhs < rhs) return 1;
    return 0;
}

bool sortsBefore(const CLLocationCoordinate2D& lhs, const CLLocationCoordinate2D& rhs) {
    const int latitude = compareDescending(lhs.latitude, rhs.latitude);
    if (latitude != 0) return latitude < 0;
    return compareDescending(lhs.longitude, rhs.longitude) < 0;
}

}  // namespace
}  // namespace cluster_engine

bool isClusterable(const ViewModel& viewModel) {
    if (!viewModel.marker) return false;
    const auto& properties = viewModel.marker->properties();
    const auto found = properties.find(CVModelPropertyKey::isClusterable);
    if (found == properties.end()) return false;
    const auto* value = std::get_if<bool>(&found->second);
    return value != nullptr && *value;
}

CLLocationCoordinate2D markerCoordinate(const ViewModel& viewModel) {
    if (!viewModel.marker) return {};
    const auto* point = std::get_if<CVPoint>(&viewModel.marker->geometry().coordinates());
    return point != nullptr ? point->coordinate() : CLLocationCoordinate2D{};
}

void removeMarker(ViewModel& viewModel) {
    viewModel.marker.reset();
    viewModel.data.erase(CVModelData::icon);
}

const platform::Image* viewModelImage(const ViewModel& viewModel, CVModelData key) {
    const auto found = viewModel.data.find(key);
    if (found == viewModel.data.end()) return nullptr;
    const std::any& value = found->second;
    if (const auto* image = std::any_cast<platform::Image>(&value)) return image;
    if (const auto* shared = std::any_cast<std::shared_ptr<const platform::Image>>(&value)) return shared->get();
    if (const auto* shared = std::any_cast<std::shared_ptr<platform::Image>>(&value)) return shared->get();
    return nullptr;
}

platform::Awaitable<std::optional<RTreeEntry>> makeEntry(const ViewModel& viewModel, std::size_t index,
                                                         CVProjection& projection) {
    if (!viewModel.marker) co_return std::nullopt;
    const auto* point = std::get_if<CVPoint>(&viewModel.marker->geometry().coordinates());
    // A cluster sits at the mean of its members: one member off the finite
    // numbers puts it there too, where no GeoJSON can hold it.
    if (point == nullptr || !std::isfinite(point->coordinate().latitude) ||
        !std::isfinite(point->coordinate().longitude)) {
        co_return std::nullopt;
    }
    const auto* icon = viewModelImage(viewModel, CVModelData::icon);
    if (icon == nullptr || icon->scale() <= 0) co_return std::nullopt;
    const auto& properties = viewModel.marker->properties();
    const auto axType = properties.find(CVModelPropertyKey::axType);
    if (axType == properties.end()) co_return std::nullopt;
    const auto* type = std::get_if<std::string>(&axType->second);
    if (type == nullptr) co_return std::nullopt;

    const CGPoint position = co_await projection.pointFor(point->coordinate());
    // An infinite point would overlap every other one out there; NaN fails
    // the tests above 0 too.
    if (!std::isfinite(position.x) || !std::isfinite(position.y) || !(position.x > 0 && position.y > 0)) {
        co_return std::nullopt;
    }
    co_return RTreeEntry{viewModel.id, *type,
                         position,     CGSize{icon->width() / icon->scale(), icon->height() / icon->scale()},
                         index,        isClusterable(viewModel)};
}

std::shared_ptr<CVCluster> CVClusterRelation::find(const std::string& id) const {
    const auto found = positions_.find(id);
    return found == positions_.end() ? nullptr : entries_[found->second].second;
}

void CVClusterRelation::set(const std::string& id, std::shared_ptr<CVCluster> cluster) {
    const auto [found, inserted] = positions_.try_emplace(id, entries_.size());
    if (inserted) {
        entries_.emplace_back(id, std::move(cluster));
    } else {
        entries_[found->second].second = std::move(cluster);
    }
}

std::vector<std::shared_ptr<CVCluster>> CVClusterRelation::distinctClusters() const {
    std::vector<std::shared_ptr<CVCluster>> clusters;
    std::unordered_set<const CVCluster*> seen;
    for (const auto& [id, cluster] : entries_) {
        if (seen.insert(cluster.get()).second) clusters.push_back(cluster);
    }
    return clusters;
}

ClusterEngine::ClusterEngine(int splitStrategy, int maxClusterRunLimit, std::shared_ptr<CVProjection> projection,
                             CVClusterRelation locationClusterRelation,
                             std::shared_ptr<CVCustomClusterIcon> customClusterIconGenerator)
    : splitStrategy_(splitStrategy),
      maxClusterRunLimit_(maxClusterRunLimit),
      projection_(std::move(projection)),
      relation_(std::move(locationClusterRelation)),
      customClusterIconGenerator_(std::move(customClusterIconGenerator)) {}

platform::Awaitable<std::vector<ViewModel>> ClusterEngine::cluster(std::vector<ViewModel> viewModels) {
    statistics_ = {};
    // Where each view model stood before the sort, to hand the list back as
    // it came should the run fail.
    std::vector<std::size_t> arrival;
    // The coordinates are read once rather than in every comparison.
    {
        std::vector<std::pair<CLLocationCoordinate2D, std::size_t>> keys;
        keys.reserve(viewModels.size());
        for (std::size_t index = 0; index < viewModels.size(); ++index) {
            keys.emplace_back(markerCoordinate(viewModels[index]), index);
        }
        std::stable_sort(keys.begin(), keys.end(), [](const auto& lhs, const auto& rhs) {
            return cluster_engine::sortsBefore(lhs.first, rhs.first);
        });
        std::vector<ViewModel> sorted;
        sorted.reserve(viewModels.size());
        arrival.reserve(viewModels.size());
        for (const auto& key : keys) {
            sorted.push_back(std::move(viewModels[key.second]));
            arrival.push_back(key.second);
        }
        viewModels = std::move(sorted);
    }

    // The projection and the host's cluster images are the adapter's and the
    // app's code, and may fail. No marker goes before both have answered for
    // the whole run, so that a failure leaves every view model as it came and
    // the map still shows them, unclustered.
    std::vector<bool> markerRemoved(viewModels.size(), false);
    std::vector<ViewModel> clusterViewModels;
    std::optional<std::string> failure;
    try {
        while (true) {
            // Each view model's entry serves both the index and its own query.
            std::vector<RTreeEntry> entries;
            if (projection_) {
                for (std::size_t index = 0; index < viewModels.size(); ++index) {
                    // A marker that joined a cluster in an earlier pass is gone.
                    if (markerRemoved[index]) continue;
                    auto entry = co_await makeEntry(viewModels[index], index, *projection_);
                    if (entry) entries.push_back(std::move(*entry));
                }
            }
            ++statistics_.passes;
            const std::size_t merges = runPass(viewModels, entries, markerRemoved);
            statistics_.merges += merges;
            if (merges == 0 || statistics_.passes >= maxClusterRunLimit_) break;
        }
        for (const auto& cluster : relation_.distinctClusters()) {
            auto clusterViewModel = co_await cluster->viewModel();
            if (clusterViewModel) clusterViewModels.push_back(std::move(*clusterViewModel));
        }
    } catch (const platform::CancellationError&) {
        // A cancelled render hands out nothing: that is no failure to log.
        throw;
    } catch (const std::exception& error) {
        failure = error.what();
    } catch (...) {
        failure = "an exception that is no std::exception";
    }
    if (failure) {
        CVLog::core().error("Clustering failed, the view models go out unclustered: {}", *failure);
        std::vector<ViewModel> unclustered(viewModels.size());
        for (std::size_t index = 0; index < viewModels.size(); ++index) {
            unclustered[arrival[index]] = std::move(viewModels[index]);
        }
        co_return unclustered;
    }

    // Every member of a cluster loses its marker here, also a small icon
    // inside a large one, which finds no corner in its own rectangle and
    // would otherwise stay drawn while counted in the cluster.
    if (!relation_.empty()) {
        for (auto& viewModel : viewModels) {
            if (relation_.contains(viewModel.id)) removeMarker(viewModel);
        }
    }
    viewModels.insert(viewModels.end(), std::make_move_iterator(clusterViewModels.begin()),
                      std::make_move_iterator(clusterViewModels.end()));
    co_return viewModels;
}

std::size_t ClusterEngine::runPass(const std::vector<ViewModel>& viewModels, const std::vector<RTreeEntry>& entries,
                                   std::vector<bool>& markerRemoved) {
    if (entries.empty()) return 0;
    std::vector<cluster_engine::Corner> corners;
    corners.reserve(entries.size() * 4);
    for (std::uint32_t position = 0; position < entries.size(); ++position) {
        const auto low = cluster_engine::minimumCorner(entries[position]);
        const auto high = cluster_engine::maximumCorner(entries[position]);
        corners.emplace_back(low, position);
        corners.emplace_back(high, position);
        corners.emplace_back(cluster_engine::ScreenPoint(low.get<0>(), high.get<1>()), position);
        corners.emplace_back(cluster_engine::ScreenPoint(high.get<0>(), low.get<1>()), position);
    }
    // Loaded in one go: packing the whole set builds a better tree, far
    // faster, than inserting the corners one by one.
    const cluster_engine::CornerTree tree(corners.begin(), corners.end());

    std::size_t merges = 0;
    std::vector<cluster_engine::Corner> hits;
    for (const auto& entry : entries) {
        // Nothing of an entry that is not clusterable can join a cluster.
        if (!entry.clusterable) continue;
        hits.clear();
        ++statistics_.queries;
        const cluster_engine::ScreenBox box(cluster_engine::minimumCorner(entry), cluster_engine::maximumCorner(entry));
        tree.query(boost::geometry::index::covered_by(box), std::back_inserter(hits));
        for (const auto& hit : hits) {
            const auto& other = entries[hit.second];
            if (other.type != entry.type || other.id == entry.id || !other.clusterable) continue;
            join(entry, other, viewModels);
            markerRemoved[entry.index] = true;
            ++merges;
        }
    }
    return merges;
}

void ClusterEngine::join(const RTreeEntry& entry, const RTreeEntry& hit, const std::vector<ViewModel>& viewModels) {
    const auto own = relation_.find(entry.id);
    const auto other = relation_.find(hit.id);
    const auto member = [&](const RTreeEntry& of) { return std::make_shared<const ViewModel>(viewModels[of.index]); };
    if (!own && other) {
        if (!other->containsChild(entry.id)) other->appendChild(member(entry));
        relation_.set(entry.id, other);
    } else if (!own && !other) {
        auto cluster = std::make_shared<CVCluster>(std::vector<std::shared_ptr<const ViewModel>>{}, entry.type,
                                                   customClusterIconGenerator_);
        cluster->appendChild(member(entry));
        if (!cluster->containsChild(hit.id)) cluster->appendChild(member(hit));
        relation_.set(entry.id, cluster);
        relation_.set(hit.id, cluster);
    } else if (own && other) {
        // Met again, through another corner or another member: nothing moves.
        if (own == other) return;
        // The members of the other cluster join this one, after its own. The
        // larger cluster keeps its object, so that a cluster growing by many
        // small merges is not copied again at each.
        if (own->children().size() >= other->children().size()) {
            for (const auto& child : other->children()) {
                if (own->appendChild(child)) relation_.set(child->id, own);
            }
        } else {
            other->prependChildren(*own);
            for (const auto& child : own->children()) relation_.set(child->id, other);
        }
    } else {
        if (!own->containsChild(hit.id)) own->appendChild(member(hit));
        relation_.set(hit.id, own);
    }
}

}  // namespace ambrell

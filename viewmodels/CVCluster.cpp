#include "viewmodels/CVCluster.h"

#include <algorithm>
#include <cmath>

#include "Ambrell/CVDisplayRule.h"
#include "data/CVEntrySeams.h"
#include "viewmodels/CVClusterIconGenerator.h"
#include "viewmodels/ClusterEngine.h"
#include "viewmodels/DisplayRuleImages.h"

namespace ambrell {

namespace cv_cluster {
namespace {

// The count disc drawn over the type rule's icon, 1.3 times the rule's icon
// size; null without a rule or an icon.
platform::Awaitable<std::shared_ptr<const platform::Image>> drawnIcon(const std::string& type, std::size_t count) {
    const auto entry = CVEntryObjectSeam::installed();
    if (!entry) co_return nullptr;
    const std::shared_ptr<const CVDisplayRule> rule = entry->displayRuleForType(type);
    if (!rule) co_return nullptr;
    auto icon = co_await displayRuleIcon(rule);
    if (!icon) co_return nullptr;
    const CGSize size = rule->iconSize().value_or(CGSize{});
    // Always red: the rule's colours are for its locations, not its clusters.
    const CVClusterIconGenerator generator(CGSize{size.width * 1.3, size.height * 1.3},
                                           static_cast<std::int64_t>(count), platform::Color::fromRGBA(1, 0, 0),
                                           std::move(icon));
    co_return generator.generate();
}

}  // namespace
}  // namespace cv_cluster

CVCluster::CVCluster(std::vector<std::shared_ptr<const ViewModel>> children, std::string type,
                     std::shared_ptr<CVCustomClusterIcon> iconGenerator)
    : type_(std::move(type)), iconGenerator_(std::move(iconGenerator)) {
    for (auto& child : children) appendChild(std::move(child));
}

bool CVCluster::appendChild(std::shared_ptr<const ViewModel> child) {
    if (!child || !childIdSet_.insert(child->id).second) return false;
    children_.push_back(std::move(child));
    return true;
}

void CVCluster::prependChildren(const CVCluster& other) {
    for (auto child = other.children_.rbegin(); child != other.children_.rend(); ++child) {
        if (childIdSet_.insert((*child)->id).second) children_.push_front(*child);
    }
}

std::vector<std::string> CVCluster::childIds() const {
    std::vector<std::string> ids;
    ids.reserve(children_.size());
    for (const auto& child : children_) ids.push_back(child->id);
    return ids;
}

std::string CVCluster::id() const {
    auto ids = childIds();
    std::sort(ids.begin(), ids.end());
    std::string id = "CVCluster";
    for (const auto& childId : ids) {
        id += '+';
        id += childId;
    }
    return id;
}

CLLocationCoordinate2D CVCluster::coordinate() const {
    if (children_.empty()) return {};
    double latitude = 0;
    double longitude = 0;
    for (const auto& child : children_) {
        const auto coordinate = markerCoordinate(*child);
        latitude += coordinate.latitude;
        longitude += coordinate.longitude;
    }
    const auto count = static_cast<double>(children_.size());
    return {latitude / count, longitude / count};
}

platform::Awaitable<std::shared_ptr<const platform::Image>> CVCluster::icon() const {
    if (iconGenerator_) {
        co_return iconGenerator_->clusterIconForType(type_, static_cast<int>(children_.size()));
    }
    co_return co_await cv_cluster::drawnIcon(type_, children_.size());
}

platform::Awaitable<std::optional<ViewModel>> CVCluster::viewModel() const {
    auto image = co_await icon();
    if (!image) co_return std::nullopt;
    const auto position = coordinate();
    const std::string clusterId = id();
    try {
        CVViewModelFeatureGeometry geometry(GeoJsonGeometryType::Point, CVPoint(position.latitude, position.longitude));
        CVFeatureProperties properties{
            {CVModelPropertyKey::hasImage, true},
            {CVModelPropertyKey::markerGeometryArea, std::abs(position.latitude) - std::abs(position.longitude)},
            {CVModelPropertyKey::markerId, clusterId},
            {CVModelPropertyKey::type, CVRenderedFeatureType::marker},
        };
        ViewModel model;
        model.id = clusterId;
        model.marker = CVViewModelFeature("Feature", clusterId, std::move(properties), std::move(geometry));
        model.data[CVModelData::icon] = std::move(image);
        model.isClickable = true;
        co_return model;
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
}

}  // namespace ambrell

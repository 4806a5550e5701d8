#include "viewmodels/CVCluster.h"

#include <algorithm>
#include <cmath>

#include "viewmodels/CVClusterIconGenerator.h"
#include "viewmodels/ClusterEngine.h"

namespace ambrell {

namespace cv_cluster {
namespace {

// The drawn image over the type rule's icon; null without a rule or an icon.
platform::Awaitable<std::shared_ptr<const platform::Image>> drawnIcon(const std::string& type, std::size_t count) {
    (void)type;
    (void)count;
    co_return nullptr;
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

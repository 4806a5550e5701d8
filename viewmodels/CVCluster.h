#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "Ambrell/CVCustomClusterIcon.h"
#include "platform/Coordinate.h"
#include "platform/Image.h"
#include "platform/runtime/Executor.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

// One group of overlapping markers of a location type, shown as a single
// marker with a count. Its view model's id is "CVCluster+" followed by the
// member ids, which the map control reads back on a tap.
class CVCluster {
public:
    CVCluster(std::vector<std::shared_ptr<const ViewModel>> children, std::string type,
              std::shared_ptr<CVCustomClusterIcon> iconGenerator);

    // The members in the order they joined.
    [[nodiscard]] const std::deque<std::shared_ptr<const ViewModel>>& children() const { return children_; }
    // Adds the member unless one with its id is there already; whether it did.
    bool appendChild(std::shared_ptr<const ViewModel> child);
    // Puts the other cluster's members, those not here, in front of these,
    // in their order: the same members in the same order as appending these
    // to the other, at the cost of the other's size.
    void prependChildren(const CVCluster& other);
    [[nodiscard]] bool containsChild(const std::string& id) const { return childIdSet_.contains(id); }

    [[nodiscard]] const std::string& type() const { return type_; }
    [[nodiscard]] const std::shared_ptr<CVCustomClusterIcon>& iconGenerator() const { return iconGenerator_; }

    // The member ids in child order.
    [[nodiscard]] std::vector<std::string> childIds() const;
    // "CVCluster+" and the member ids sorted bytewise, joined by "+".
    [[nodiscard]] std::string id() const;
    // The mean of the members' marker coordinates; a member without a point
    // marker counts as (0, 0).
    [[nodiscard]] CLLocationCoordinate2D coordinate() const;

    // The host's image when it gave a cluster image source (null when that
    // gives none: the cluster is then not shown), else the drawn count disc
    // over the type rule's icon; null without a type rule or rule icon.
    [[nodiscard]] platform::Awaitable<std::shared_ptr<const platform::Image>> icon() const;
    // A clickable marker at `coordinate` with the icon; none without an icon.
    [[nodiscard]] platform::Awaitable<std::optional<ViewModel>> viewModel() const;

private:
    std::deque<std::shared_ptr<const ViewModel>> children_;
    std::unordered_set<std::string> childIdSet_;
    std::string type_;
    std::shared_ptr<CVCustomClusterIcon> iconGenerator_;
};

}  // namespace ambrell

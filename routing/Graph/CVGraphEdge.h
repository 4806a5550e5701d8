#pragma once

#include "Source/AXCommon/AXEdge.h"
#include "routing/Graph/CVAccessTokens.h"
#include "routing/Graph/CVGraphPropertyProtocols.h"
#include "routing/Graph/CVRouteProtocols.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ambrell {

// A directed, weighted arc u -> v of a routing graph. An undirected network
// edge becomes two arcs that share their properties. The weight is travel
// time in tenths of a second; kImpassableWeight closes the arc.
class CVGraphEdge final : public CVRouteEdgeProtocol {
public:
    static constexpr std::int64_t kImpassableWeight = std::numeric_limits<std::int64_t>::max();

    // 0 -> 0 without properties.
    CVGraphEdge() = default;
    CVGraphEdge(std::uint64_t u, std::uint64_t v, std::shared_ptr<const CVGraphEdgePropertyProtocol> properties);

    // Weighted, weight 0, way type from the properties.
    [[nodiscard]] static std::shared_ptr<CVGraphEdge> newGraphEdgeBetween(
        std::uint64_t u, std::uint64_t v, std::shared_ptr<const CVGraphEdgePropertyProtocol> properties);

    [[nodiscard]] bool weighted() const { return weighted_; }
    void setWeighted(bool weighted) { weighted_ = weighted; }
    [[nodiscard]] std::uint64_t u() const override { return u_; }
    [[nodiscard]] std::uint64_t v() const override { return v_; }
    // 0 while not weighted.
    [[nodiscard]] std::int64_t weight() const { return weighted_ ? weight_ : 0; }
    void setWeight(std::int64_t weight) { weight_ = weight; }
    [[nodiscard]] std::int64_t storedWeight() const { return weight_; }

    // The properties' current way type (the one taken at creation without
    // properties).
    [[nodiscard]] CVHighway highway() const override { return properties_ ? properties_->highway() : highway_; }
    void setHighway(CVHighway highway) { highway_ = highway; }
    [[nodiscard]] const std::optional<std::vector<std::string>>& restrictions() const { return restrictions_; }
    void setRestrictions(std::optional<std::vector<std::string>> restrictions) {
        restrictions_ = std::move(restrictions);
    }
    [[nodiscard]] const std::shared_ptr<const CVGraphEdgePropertyProtocol>& properties() const { return properties_; }
    void setProperties(std::shared_ptr<const CVGraphEdgePropertyProtocol> properties) {
        properties_ = std::move(properties);
    }
    // A slot for the search engine's form; the graph never fills it.
    [[nodiscard]] const std::optional<AXEdge>& axEdge() const { return axEdge_; }
    void setAxEdge(std::optional<AXEdge> axEdge) { axEdge_ = std::move(axEdge); }

    // From the properties; without them: 0, none, 0, false, 1.0.
    [[nodiscard]] double waittime() const override;
    [[nodiscard]] std::optional<std::string> context() const override;
    [[nodiscard]] std::uint64_t distance() const override;
    [[nodiscard]] bool directed() const;
    [[nodiscard]] double speedFactor() const;

    // A new copy with u and v exchanged.
    [[nodiscard]] std::shared_ptr<CVGraphEdge> reversed() const;
    [[nodiscard]] std::shared_ptr<CVGraphEdge> copy() const;

    [[nodiscard]] bool isAccessibleWithAccessTokens(const CVAccessTokens& accessTokens) const {
        return isAccessible(restrictions_, accessTokens);
    }
    // Wait time truncated to whole seconds; an empty context for none.
    [[nodiscard]] AXEdge axEdgeWithNodeU(const AXNode& u, const AXNode& v) const;

    // Ends, weighted flag, stored weight and way type equal, properties both
    // absent or the same, restrictions equal.
    [[nodiscard]] bool isEqualToEdge(const CVGraphEdge* edge) const;

    // "<CVGraphEdge 0x...: 3 -> 7, weight=100, directed, properties=..., restrictions=[a,b]>"
    [[nodiscard]] std::string debugDescription() const;

private:
    bool weighted_ = false;
    std::uint64_t u_ = 0;
    std::uint64_t v_ = 0;
    std::int64_t weight_ = 0;
    CVHighway highway_;
    std::optional<std::vector<std::string>> restrictions_;
    std::shared_ptr<const CVGraphEdgePropertyProtocol> properties_;
    std::optional<AXEdge> axEdge_;
};

}  // namespace ambrell

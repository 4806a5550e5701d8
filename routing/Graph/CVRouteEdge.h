#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Source/AXCommon/AXEdge.h"
#include "routing/Graph/CVRouteProtocols.h"

namespace ambrell {

// An edge of a straightened path, the search engine's record read through the
// same view as the graph's own arcs. Its way type follows the library's table
// of type numbers (CVHighway::withType: 1 footway … 11 ladder, anything else
// unclassified). The record may be replaced from another thread while read.
class CVRouteEdge final : public CVRouteEdgeProtocol {
public:
    // Wraps the empty record.
    CVRouteEdge() = default;
    explicit CVRouteEdge(AXEdge axEdge) : axEdge_(std::move(axEdge)) {}
    [[nodiscard]] static std::shared_ptr<CVRouteEdge> newGraphEdgeWithAXEdge(AXEdge axEdge);

    [[nodiscard]] AXEdge axEdge() const;
    void setAxEdge(AXEdge axEdge);

    // The end ids and distance widened from the record's 32 bits.
    [[nodiscard]] std::uint64_t u() const override;
    [[nodiscard]] std::uint64_t v() const override;
    [[nodiscard]] CVHighway highway() const override;
    // The record's context, empty included.
    [[nodiscard]] std::optional<std::string> context() const override;
    [[nodiscard]] std::uint64_t distance() const override;
    // Whole seconds.
    [[nodiscard]] double waittime() const override;

    // "<CVRouteEdge 0x…: 4 -> 9, highway=footway, context=InsideBuilding, dist=1200mm, waittime=3s>"
    [[nodiscard]] std::string debugDescription() const;

private:
    mutable std::mutex mutex_;
    AXEdge axEdge_;
};

}  // namespace ambrell

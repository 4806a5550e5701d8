#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace ambrell {

// Tagged longitude/latitude boxes on an R-tree, asked which of them overlap
// a rectangle. Touching counts as overlapping, and boxes of zero width or
// height (a wall drawn as a line) are found like any other. Corners may be
// given in either order. Boxes across the 180° meridian are not supported:
// give such a box as two. One thread at a time.
class AXObjectBoundingboxHittester {
public:
    [[nodiscard]] static AXObjectBoundingboxHittester create();

    AXObjectBoundingboxHittester();
    AXObjectBoundingboxHittester(AXObjectBoundingboxHittester&&) noexcept;
    AXObjectBoundingboxHittester& operator=(AXObjectBoundingboxHittester&&) noexcept;
    ~AXObjectBoundingboxHittester();

    // Throws std::invalid_argument for a non-finite edge; nothing is added then.
    void addObjectWithBoundingBox(double north, double east, double south, double west, std::int32_t objectTag);

    // The tags of the overlapping boxes in the order the R-tree answers them
    // (not sorted). Throws std::invalid_argument for a non-finite edge.
    [[nodiscard]] std::vector<std::int32_t> objectsOverlappingRect(double north, double east, double south,
                                                                   double west) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell

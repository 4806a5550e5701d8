#include "Source/AXCommon/AXObjectBoundingboxHittester.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>

namespace ambrell {
namespace {

using Tags = std::vector<std::int32_t>;

// The tags of the boxes overlapping the rect, in ascending order.
Tags overlapping(const AXObjectBoundingboxHittester& hittester, double north, double east, double south, double west) {
    auto tags = hittester.objectsOverlappingRect(north, east, south, west);
    std::sort(tags.begin(), tags.end());
    return tags;
}

TEST(AXObjectBoundingboxHittester, FindsOverlappingTouchingAndDegenerateBoxes) {
    auto hittester = AXObjectBoundingboxHittester::create();
    EXPECT_EQ(hittester.objectsOverlappingRect(1, 1, 0, 0), Tags{});
    // north, east, south, west
    hittester.addObjectWithBoundingBox(10, 10, 0, 0, 1);          // a square
    hittester.addObjectWithBoundingBox(5, 30, 5, 20, 2);          // a horizontal wall: zero height
    hittester.addObjectWithBoundingBox(30, 25, 20, 25, 3);        // a vertical wall: zero width
    hittester.addObjectWithBoundingBox(40, 40, 40, 40, 4);        // a point
    hittester.addObjectWithBoundingBox(0, 10, 10, 0, 5);          // the square again, north and south swapped
    hittester.addObjectWithBoundingBox(-10, -170, -20, -180, 6);  // negative longitudes and latitudes

    const struct {
        const char* name;
        double north, east, south, west;
        Tags expected;
    } cases[] = {
        {"inside the square", 6, 6, 4, 4, {1, 5}},
        {"touching the square's east edge", 6, 12, 4, 10, {1, 5}},
        {"touching the square's corner only", 12, 12, 10, 10, {1, 5}},
        {"just beside the square", 6, 12, 4, 10.000001, {}},
        {"crossing the horizontal wall", 6, 22, 4, 21, {2}},
        {"touching the wall from below", 5, 22, 4, 21, {2}},
        {"crossing the vertical wall", 26, 26, 24, 24, {3}},
        {"a zero-area rect on the point", 40, 40, 40, 40, {4}},
        {"a zero-area rect on the wall", 5, 25, 5, 25, {2}},
        {"corners swapped", 4, 4, 6, 6, {1, 5}},
        {"negative longitudes", -15, -175, -16, -176, {6}},
        {"east and west swapped, negative", -15, -176, -16, -175, {6}},
        {"disjoint", 100, 100, 90, 90, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(overlapping(hittester, c.north, c.east, c.south, c.west), c.expected);
    }

    // Edges that are not finite are refused, and nothing is added; the whole
    // globe still finds every box.
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // Every edge is checked, each with every kind of non-finite value: one edge
    // left unchecked would put a box in the tree that no comparison can place.
    for (std::size_t edge = 0; edge < 4; ++edge) {
        for (const double bad : {kNan, kInf, -kInf}) {
            SCOPED_TRACE(::testing::Message() << "edge " << edge << " (north, east, south, west) is " << bad);
            std::array<double, 4> edges{6, 6, 4, 4};  // north, east, south, west: inside the square
            edges[edge] = bad;
            const auto& [north, east, south, west] = edges;
            EXPECT_THROW(hittester.addObjectWithBoundingBox(north, east, south, west, 7), std::invalid_argument);
            EXPECT_THROW((void)hittester.objectsOverlappingRect(north, east, south, west), std::invalid_argument);
        }
    }
    EXPECT_EQ(overlapping(hittester, 90, 180, -90, -180), (Tags{1, 2, 3, 4, 5, 6}));
}

// Enough boxes for the tree to split many times; it must agree with a plain
// test of every box.
TEST(AXObjectBoundingboxHittester, AgreesWithTestingEveryBox) {
    auto hittester = AXObjectBoundingboxHittester::create();
    std::vector<std::array<double, 4>> boxes;  // north, east, south, west
    for (int i = 0; i < 2000; ++i) {
        const double west = (i * 37 % 1000) / 10.0;
        const double south = (i * 91 % 1000) / 10.0;
        const auto& [north, east, s, w] = boxes.emplace_back(std::array{south + (i % 7), west + (i % 5), south, west});
        hittester.addObjectWithBoundingBox(north, east, s, w, i);
    }
    for (int q = 0; q < 50; ++q) {
        const double west = q * 2.0, south = 100 - q * 2.0, east = west + 3 + q % 4, north = south + 3;
        Tags expected;
        for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
            const auto& [n, e, s, w] = boxes[static_cast<std::size_t>(i)];
            if (w <= east && west <= e && s <= north && south <= n) expected.push_back(i);
        }
        EXPECT_EQ(overlapping(hittester, north, east, south, west), expected) << "query " << q;
    }
}

}  // namespace
}  // namespace ambrell

#pragma once

// Boost.Geometry's R-trees over longitude/latitude boxes, for the location
// store and the hit tester. Heavy: include from .cpp files only.

#include "Source/AXCommon/AXBox.h"

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>

#include <algorithm>
#include <optional>
#include <utility>

namespace ambrell::axgeo {

// Cartesian on purpose: boxes are small and never cross the 180° meridian,
// and planar intersection is what "edges included" means for them.
using AXTreePoint = boost::geometry::model::point<double, 2, boost::geometry::cs::cartesian>;
using AXTreeBox = boost::geometry::model::box<AXTreePoint>;

template <class Tag>
using AXBoxTree = boost::geometry::index::rtree<std::pair<AXTreeBox, Tag>, boost::geometry::index::quadratic<16>>;

[[nodiscard]] inline AXTreeBox treeBox(const AXBox& box) {
    return {AXTreePoint(box.west, box.south), AXTreePoint(box.east, box.north)};
}

// The location store's boxes also stand on their floor, a third axis, so that
// a viewport on one floor does not walk the floors above and below it. An
// outdoor box spans every floor, as the floor filter reads it.
using AXFloorTreePoint = boost::geometry::model::point<double, 3, boost::geometry::cs::cartesian>;
using AXFloorTreeBox = boost::geometry::model::box<AXFloorTreePoint>;

template <class Tag>
using AXFloorBoxTree =
    boost::geometry::index::rtree<std::pair<AXFloorTreeBox, Tag>, boost::geometry::index::quadratic<16>>;

// Past every floor an int can name, yet small enough to keep box volumes finite.
inline constexpr double kEveryFloor = 4e9;

[[nodiscard]] inline AXFloorTreeBox floorTreeBox(const AXBox& box, std::optional<double> floor) {
    const double low = floor ? std::clamp(*floor, -kEveryFloor, kEveryFloor) : -kEveryFloor;
    const double high = floor ? low : kEveryFloor;
    return {AXFloorTreePoint(box.west, box.south, low), AXFloorTreePoint(box.east, box.north, high)};
}

}  // namespace ambrell::axgeo

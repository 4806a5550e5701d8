#pragma once

// Boost.Geometry's R-tree over longitude/latitude boxes, shared by the
// location store and the hit tester. Heavy: include from .cpp files only.

#include "Source/AXCommon/AXBox.h"

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>

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

}  // namespace ambrell::axgeo

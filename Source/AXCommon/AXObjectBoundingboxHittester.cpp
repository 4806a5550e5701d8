#include "Source/AXCommon/AXObjectBoundingboxHittester.h"

#include "Source/AXCommon/AXBoxTree.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace ambrell {
namespace {

axgeo::AXBox checkedBox(double north, double east, double south, double west, const char* operation) {
    if (!std::isfinite(north) || !std::isfinite(east) || !std::isfinite(south) || !std::isfinite(west)) {
        throw std::invalid_argument(std::string("AXObjectBoundingboxHittester ") + operation +
                                    ": box edges must be finite");
    }
    return axgeo::AXBox::fromEdges(north, east, south, west);
}

}  // namespace

struct AXObjectBoundingboxHittester::Impl {
    axgeo::AXBoxTree<std::int32_t> tree;
};

AXObjectBoundingboxHittester AXObjectBoundingboxHittester::create() { return AXObjectBoundingboxHittester(); }

AXObjectBoundingboxHittester::AXObjectBoundingboxHittester() : impl_(std::make_unique<Impl>()) {}
AXObjectBoundingboxHittester::AXObjectBoundingboxHittester(AXObjectBoundingboxHittester&&) noexcept = default;
AXObjectBoundingboxHittester& AXObjectBoundingboxHittester::operator=(AXObjectBoundingboxHittester&&) noexcept =
    default;
AXObjectBoundingboxHittester::~AXObjectBoundingboxHittester() = default;

void AXObjectBoundingboxHittester::addObjectWithBoundingBox(double north, double east, double south, double west,
                                                            std::int32_t objectTag) {
    impl_->tree.insert({axgeo::treeBox(checkedBox(north, east, south, west, "addObjectWithBoundingBox")), objectTag});
}

std::vector<std::int32_t> AXObjectBoundingboxHittester::objectsOverlappingRect(double north, double east, double south,
                                                                               double west) const {
    const auto rect = axgeo::treeBox(checkedBox(north, east, south, west, "objectsOverlappingRect"));
    std::vector<std::int32_t> tags;
    for (auto it = impl_->tree.qbegin(boost::geometry::index::intersects(rect)); it != impl_->tree.qend(); ++it) {
        tags.push_back(it->second);
    }
    return tags;
}

}  // namespace ambrell

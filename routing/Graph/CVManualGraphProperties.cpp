#include "routing/Graph/CVManualGraphProperties.h"

#include <utility>

namespace ambrell {

CVManualGraphNodeProperties::CVManualGraphNodeProperties(std::uint64_t boundary, std::optional<std::string> barrier,
                                                         std::optional<std::string> floorname, double waittime)
    : boundary_(boundary), barrier_(std::move(barrier)), floorname_(std::move(floorname)), waittime_(waittime) {}

std::shared_ptr<CVManualGraphNodeProperties> CVManualGraphNodeProperties::newGraphNodePropertiesWithBoundary(
    std::uint64_t boundary, std::optional<std::string> barrier, std::optional<std::string> floorname, double waittime) {
    return std::make_shared<CVManualGraphNodeProperties>(boundary, std::move(barrier), std::move(floorname), waittime);
}

std::shared_ptr<CVManualGraphNodeProperties> CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname(
    std::optional<std::string> floorname) {
    return std::make_shared<CVManualGraphNodeProperties>(0, std::string(), std::move(floorname), 0);
}

CVManualGraphEdgeProperties::CVManualGraphEdgeProperties(std::optional<std::string> context, CVHighway highway,
                                                         std::uint64_t distance, double speedFactor, double waittime,
                                                         bool directed)
    : context_(std::move(context)),
      highway_(highway),
      distance_(distance),
      speedFactor_(speedFactor > 0 ? speedFactor : 1.0),
      waittime_(waittime),
      directed_(directed) {}

std::shared_ptr<CVManualGraphEdgeProperties> CVManualGraphEdgeProperties::newGraphEdgePropertiesWithContext(
    std::optional<std::string> context, CVHighway highway, std::uint64_t distance, double speedFactor, double waittime,
    bool directed) {
    return std::make_shared<CVManualGraphEdgeProperties>(std::move(context), highway, distance, speedFactor, waittime,
                                                         directed);
}

std::shared_ptr<CVManualGraphEdgeProperties> CVManualGraphEdgeProperties::newDirectedGraphEdgePropertiesWithContext(
    std::optional<std::string> context, CVHighway highway, std::uint64_t distance) {
    return std::make_shared<CVManualGraphEdgeProperties>(std::move(context), highway, distance, 1.0, 0, true);
}

}  // namespace ambrell

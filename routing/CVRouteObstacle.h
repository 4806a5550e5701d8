#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVGeometry.h"

namespace ambrell {

// One obstacle of a solution's route layer: a polygon inside rooms that a
// straightened path must keep clear of.
//
//     {"id": "…", "restrictions": [], "roomIdList": ["room id", …],
//      "graphId": "MERIDIAN", "geometry": {"type": "Polygon", "coordinates": […]}}
//
// Immutable once read, so it may be shared between threads.
class CVRouteObstacle {
public:
    // Null without a "geometry" object. Members of another JSON type than
    // expected read as their defaults ("" for texts, empty lists; list
    // members that are not texts are skipped); a geometry object that is not
    // a readable polygon leaves the obstacle without geometry.
    [[nodiscard]] static std::shared_ptr<CVRouteObstacle> initWithDictionary(const boost::json::value& dictionary);

    [[nodiscard]] const std::string& elementId() const { return elementId_; }
    [[nodiscard]] const std::vector<std::string>& restrictions() const { return restrictions_; }
    // The ids of the locations (rooms) that hold the obstacle.
    [[nodiscard]] const std::vector<std::string>& roomIdList() const { return roomIdList_; }
    [[nodiscard]] const std::string& graphId() const { return graphId_; }
    // Null when the polygon could not be read.
    [[nodiscard]] const std::shared_ptr<const CVPolygonGeometry>& geometry() const { return geometry_; }

private:
    std::string elementId_;
    std::vector<std::string> restrictions_;
    std::vector<std::string> roomIdList_;
    std::string graphId_;
    std::shared_ptr<const CVPolygonGeometry> geometry_;
};

}  // namespace ambrell

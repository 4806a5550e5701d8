#pragma once

#include "routing/Graph/CVGraphPropertyProtocols.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ambrell {

// Node properties made by hand (temporary nodes, tests), not read from a
// network document.
class CVManualGraphNodeProperties final : public CVGraphNodePropertyProtocol {
public:
    CVManualGraphNodeProperties(std::uint64_t boundary, std::optional<std::string> barrier,
                                std::optional<std::string> floorname, double waittime);

    [[nodiscard]] static std::shared_ptr<CVManualGraphNodeProperties> newGraphNodePropertiesWithBoundary(
        std::uint64_t boundary, std::optional<std::string> barrier, std::optional<std::string> floorname,
        double waittime);
    // Boundary 0, barrier "", no wait.
    [[nodiscard]] static std::shared_ptr<CVManualGraphNodeProperties> newGraphNodePropertiesWithFloorname(
        std::optional<std::string> floorname);

    [[nodiscard]] std::uint64_t boundary() const override { return boundary_; }
    [[nodiscard]] std::optional<std::string> barrier() const override { return barrier_; }
    [[nodiscard]] std::optional<std::string> floorname() const override { return floorname_; }
    [[nodiscard]] double waittime() const override { return waittime_; }

    void setBoundary(std::uint64_t boundary) { boundary_ = boundary; }
    void setBarrier(std::optional<std::string> barrier) { barrier_ = std::move(barrier); }
    void setFloorname(std::optional<std::string> floorname) { floorname_ = std::move(floorname); }
    void setWaittime(double waittime) { waittime_ = waittime; }

private:
    std::uint64_t boundary_ = 0;
    std::optional<std::string> barrier_;
    std::optional<std::string> floorname_;
    double waittime_ = 0;
};

// Edge properties made by hand.
class CVManualGraphEdgeProperties final : public CVGraphEdgePropertyProtocol {
public:
    // A speed factor not above 0 (or not a number) is stored as 1.0.
    CVManualGraphEdgeProperties(std::optional<std::string> context, CVHighway highway, std::uint64_t distance,
                                double speedFactor, double waittime, bool directed);

    [[nodiscard]] static std::shared_ptr<CVManualGraphEdgeProperties> newGraphEdgePropertiesWithContext(
        std::optional<std::string> context, CVHighway highway, std::uint64_t distance, double speedFactor,
        double waittime, bool directed);
    // Directed, speed factor 1.0, no wait.
    [[nodiscard]] static std::shared_ptr<CVManualGraphEdgeProperties> newDirectedGraphEdgePropertiesWithContext(
        std::optional<std::string> context, CVHighway highway, std::uint64_t distance);

    [[nodiscard]] bool directed() const override { return directed_; }
    [[nodiscard]] CVHighway highway() const override { return highway_; }
    [[nodiscard]] std::optional<std::string> context() const override { return context_; }
    [[nodiscard]] std::uint64_t distance() const override { return distance_; }
    [[nodiscard]] double speedFactor() const override { return speedFactor_; }
    [[nodiscard]] double waittime() const override { return waittime_; }

    // The setters store what they are given, the speed factor included.
    void setDirected(bool directed) { directed_ = directed; }
    void setHighway(CVHighway highway) { highway_ = highway; }
    void setContext(std::optional<std::string> context) { context_ = std::move(context); }
    void setDistance(std::uint64_t distance) { distance_ = distance; }
    void setSpeedFactor(double speedFactor) { speedFactor_ = speedFactor; }
    void setWaittime(double waittime) { waittime_ = waittime; }

private:
    std::optional<std::string> context_;
    CVHighway highway_;
    std::uint64_t distance_ = 0;
    double speedFactor_ = 1.0;
    double waittime_ = 0;
    bool directed_ = false;
};

}  // namespace ambrell

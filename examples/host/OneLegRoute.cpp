#include "OneLegRoute.h"

#include <optional>
#include <utility>

namespace ambrell::host {
namespace one_leg_route {
namespace {

class Coordinate final : public CVRouteCoordinate {
public:
    explicit Coordinate(const CVLocationCoordinate3D& point) : point_(point) {}

    [[nodiscard]] std::optional<double> lat() const override { return point_.latitude; }
    [[nodiscard]] std::optional<double> lng() const override { return point_.longitude; }
    [[nodiscard]] std::optional<double> zLevel() const override { return static_cast<double>(point_.floor); }
    [[nodiscard]] std::optional<std::string> label() const override { return std::nullopt; }
    [[nodiscard]] std::optional<std::string> floor_name() const override { return std::nullopt; }

private:
    CVLocationCoordinate3D point_;
};

using Coordinates = std::vector<std::shared_ptr<CVRouteCoordinate>>;

// The whole walk as one step: the directions renderer draws a leg from its
// steps' geometry.
class Step final : public CVRouteStep {
public:
    explicit Step(Coordinates geometry) : geometry_(std::move(geometry)) {}

    [[nodiscard]] std::optional<std::string> travel_mode() const override { return "walking"; }
    [[nodiscard]] std::optional<double> distance() const override { return std::nullopt; }
    [[nodiscard]] std::optional<double> duration() const override { return std::nullopt; }
    [[nodiscard]] std::shared_ptr<CVRouteCoordinate> start_location() const override { return geometry_.front(); }
    [[nodiscard]] std::shared_ptr<CVRouteCoordinate> end_location() const override { return geometry_.back(); }
    [[nodiscard]] std::optional<Coordinates> geometry() const override { return geometry_; }
    [[nodiscard]] std::optional<std::vector<std::shared_ptr<CVRouteStep>>> steps() const override {
        return std::nullopt;
    }
    [[nodiscard]] std::optional<std::string> html_instructions() const override { return std::nullopt; }
    [[nodiscard]] std::optional<std::string> maneuver() const override { return std::nullopt; }
    [[nodiscard]] std::optional<CVHighway> highway() const override { return std::nullopt; }
    [[nodiscard]] std::optional<std::string> routeContext() const override { return "InsideBuilding"; }

private:
    Coordinates geometry_;
};

class Leg final : public CVRouteLeg {
public:
    Leg(std::shared_ptr<CVRouteStep> step, std::string from, std::string to)
        : step_(std::move(step)), from_(std::move(from)), to_(std::move(to)) {}

    [[nodiscard]] std::vector<std::shared_ptr<CVRouteStep>> steps() const override { return {step_}; }
    [[nodiscard]] std::optional<double> distance() const override { return std::nullopt; }
    [[nodiscard]] std::optional<double> duration() const override { return std::nullopt; }
    [[nodiscard]] std::shared_ptr<CVRouteCoordinate> start_location() const override { return step_->start_location(); }
    // Its floor is the floor the directions renderer shows the leg on.
    [[nodiscard]] std::shared_ptr<CVRouteCoordinate> end_location() const override { return step_->end_location(); }
    [[nodiscard]] std::optional<std::string> start_address() const override { return from_; }
    [[nodiscard]] std::optional<std::string> end_address() const override { return to_; }
    [[nodiscard]] CVRouteLegType routeLegType() const override { return CVRouteLegType::venue; }
    [[nodiscard]] std::optional<CVRouteLegBreakReason> legStartReason() const override { return std::nullopt; }
    [[nodiscard]] std::optional<CVRouteLegBreakReason> legEndReason() const override { return std::nullopt; }

private:
    std::shared_ptr<CVRouteStep> step_;
    std::string from_;
    std::string to_;
};

class Route final : public CVRoute {
public:
    explicit Route(std::shared_ptr<CVRouteLeg> leg) : leg_(std::move(leg)) {}

    [[nodiscard]] std::vector<std::shared_ptr<CVRouteLeg>> legs() const override { return {leg_}; }
    [[nodiscard]] std::optional<std::vector<int>> orderedStopIndexes() const override { return std::nullopt; }
    [[nodiscard]] std::vector<std::string> restrictions() const override { return {}; }

private:
    std::shared_ptr<CVRouteLeg> leg_;
};

}  // namespace
}  // namespace one_leg_route

std::shared_ptr<CVRoute> oneLegRoute(const std::vector<CVLocationCoordinate3D>& points, const std::string& from,
                                     const std::string& to) {
    if (points.empty()) return nullptr;
    one_leg_route::Coordinates geometry;
    for (const auto& point : points) geometry.push_back(std::make_shared<one_leg_route::Coordinate>(point));
    return std::make_shared<one_leg_route::Route>(
        std::make_shared<one_leg_route::Leg>(std::make_shared<one_leg_route::Step>(std::move(geometry)), from, to));
}

}  // namespace ambrell::host

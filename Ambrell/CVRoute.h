#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVHighway.h"
#include "Ambrell/CVRouteLegBreakReason.h"
#include "Ambrell/CVRouteLegType.h"

// The read-only faces of a route that hosts and the map control see. The
// library's route model implements them; members are absent when the route
// data did not carry them.

namespace ambrell {

class CVRouteCoordinate {
public:
    CVRouteCoordinate() = default;
    CVRouteCoordinate(const CVRouteCoordinate&) = default;
    CVRouteCoordinate& operator=(const CVRouteCoordinate&) = default;
    virtual ~CVRouteCoordinate() = default;

    [[nodiscard]] virtual std::optional<double> lat() const = 0;
    [[nodiscard]] virtual std::optional<double> lng() const = 0;
    // The floor index as a number.
    [[nodiscard]] virtual std::optional<double> zLevel() const = 0;
    [[nodiscard]] virtual std::optional<std::string> label() const = 0;
    [[nodiscard]] virtual std::optional<std::string> floor_name() const = 0;
};

class CVRouteStep {
public:
    CVRouteStep() = default;
    CVRouteStep(const CVRouteStep&) = default;
    CVRouteStep& operator=(const CVRouteStep&) = default;
    virtual ~CVRouteStep() = default;

    [[nodiscard]] virtual std::optional<std::string> travel_mode() const = 0;
    [[nodiscard]] virtual std::optional<double> distance() const = 0;
    [[nodiscard]] virtual std::optional<double> duration() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVRouteCoordinate> start_location() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVRouteCoordinate> end_location() const = 0;
    [[nodiscard]] virtual std::optional<std::vector<std::shared_ptr<CVRouteCoordinate>>> geometry() const = 0;
    // Finer steps this step is made of; absent and empty differ.
    [[nodiscard]] virtual std::optional<std::vector<std::shared_ptr<CVRouteStep>>> steps() const = 0;
    [[nodiscard]] virtual std::optional<std::string> html_instructions() const = 0;
    [[nodiscard]] virtual std::optional<std::string> maneuver() const = 0;
    [[nodiscard]] virtual std::optional<CVHighway> highway() const = 0;
    [[nodiscard]] virtual std::optional<std::string> routeContext() const = 0;
};

class CVRouteLeg {
public:
    CVRouteLeg() = default;
    CVRouteLeg(const CVRouteLeg&) = default;
    CVRouteLeg& operator=(const CVRouteLeg&) = default;
    virtual ~CVRouteLeg() = default;

    [[nodiscard]] virtual std::vector<std::shared_ptr<CVRouteStep>> steps() const = 0;
    [[nodiscard]] virtual std::optional<double> distance() const = 0;
    [[nodiscard]] virtual std::optional<double> duration() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVRouteCoordinate> start_location() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVRouteCoordinate> end_location() const = 0;
    [[nodiscard]] virtual std::optional<std::string> start_address() const = 0;
    [[nodiscard]] virtual std::optional<std::string> end_address() const = 0;
    [[nodiscard]] virtual CVRouteLegType routeLegType() const = 0;
    [[nodiscard]] virtual std::optional<CVRouteLegBreakReason> legStartReason() const = 0;
    [[nodiscard]] virtual std::optional<CVRouteLegBreakReason> legEndReason() const = 0;
};

class CVRoute {
public:
    CVRoute() = default;
    CVRoute(const CVRoute&) = default;
    CVRoute& operator=(const CVRoute&) = default;
    virtual ~CVRoute() = default;

    [[nodiscard]] virtual std::vector<std::shared_ptr<CVRouteLeg>> legs() const = 0;
    // Leg indexes in the order the stops are visited, for routes with stops.
    [[nodiscard]] virtual std::optional<std::vector<int>> orderedStopIndexes() const = 0;
    [[nodiscard]] virtual std::vector<std::string> restrictions() const = 0;
};

}  // namespace ambrell

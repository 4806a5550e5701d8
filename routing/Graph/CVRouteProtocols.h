#pragma once

#include "Ambrell/CVHighway.h"
#include "routing/Graph/CVLocationCoordinate3D.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ambrell {

// Read-only view of a node of a routed path, whether it came from the graph
// or from a straightened path.
class CVRouteNodeProtocol {
public:
    virtual ~CVRouteNodeProtocol() = default;
    [[nodiscard]] virtual std::uint64_t nodeId() const = 0;
    [[nodiscard]] virtual CVLocationCoordinate3D coordinate() const = 0;
    // Seconds.
    [[nodiscard]] virtual double waittime() const = 0;
    [[nodiscard]] virtual const std::optional<std::string>& label() const = 0;
};

// Read-only view of an edge of a routed path.
class CVRouteEdgeProtocol {
public:
    virtual ~CVRouteEdgeProtocol() = default;
    [[nodiscard]] virtual std::uint64_t u() const = 0;
    [[nodiscard]] virtual std::uint64_t v() const = 0;
    [[nodiscard]] virtual CVHighway highway() const = 0;
    [[nodiscard]] virtual std::optional<std::string> context() const = 0;
    // Millimetres.
    [[nodiscard]] virtual std::uint64_t distance() const = 0;
    // Seconds.
    [[nodiscard]] virtual double waittime() const = 0;
};

}  // namespace ambrell

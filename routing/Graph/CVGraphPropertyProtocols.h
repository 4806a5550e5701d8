#pragma once

#include "Ambrell/CVHighway.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ambrell {

// How the graph and the weights read the properties of a node. Read-only;
// implementations are shared between nodes, so they hold no per-node state.
class CVGraphNodePropertyProtocol {
public:
    virtual ~CVGraphNodePropertyProtocol() = default;

    // True for the same object; otherwise boundary and wait time equal and
    // barrier and floor name both present and equal (two absent barriers are
    // not equal).
    [[nodiscard]] bool haveSameGraphNodeProperties(const CVGraphNodePropertyProtocol& other) const;

    // Boundary bits (CVBoundaryType); 0 for none.
    [[nodiscard]] virtual std::uint64_t boundary() const = 0;
    [[nodiscard]] virtual std::optional<std::string> barrier() const = 0;
    [[nodiscard]] virtual std::optional<std::string> floorname() const = 0;
    // Seconds.
    [[nodiscard]] virtual double waittime() const = 0;
};

// How the graph and the weights read the properties of an edge; an edge and
// its reversed twin share one.
class CVGraphEdgePropertyProtocol {
public:
    virtual ~CVGraphEdgePropertyProtocol() = default;

    // True for the same object; otherwise directed, speed factor, wait time,
    // distance and way type equal and contexts both present and equal.
    [[nodiscard]] bool haveSameGraphEdgeProperties(const CVGraphEdgePropertyProtocol& other) const;

    // One-way.
    [[nodiscard]] virtual bool directed() const = 0;
    [[nodiscard]] virtual CVHighway highway() const = 0;
    [[nodiscard]] virtual std::optional<std::string> context() const = 0;
    // Millimetres.
    [[nodiscard]] virtual std::uint64_t distance() const = 0;
    // Multiplies the way type's speed; 1.0 when the data gives none.
    [[nodiscard]] virtual double speedFactor() const = 0;
    // Seconds.
    [[nodiscard]] virtual double waittime() const = 0;
};

}  // namespace ambrell

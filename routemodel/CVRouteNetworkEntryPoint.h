#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Ambrell/CVPoint.h"
#include "routemodel/CVBoundaryType.h"

namespace ambrell {

// What the entry-point constructor reads of a route-network node: its label,
// boundary bits and coordinate with floor.
template <typename Node>
concept CVEntryPointNode = requires(const Node& node) {
    { node.label() } -> std::convertible_to<std::optional<std::string>>;
    { node.boundaryType() } -> std::convertible_to<std::uint8_t>;
    { node.coordinate().latitude } -> std::convertible_to<double>;
    { node.coordinate().longitude } -> std::convertible_to<double>;
    { node.coordinate().floor } -> std::convertible_to<double>;
};

// A door between a venue's route network and the outside: a point whose z is
// the floor, with the node's label and the travel modes it serves.
class CVRouteNetworkEntryPoint final : public CVPoint {
public:
    CVRouteNetworkEntryPoint(std::optional<std::string> label, std::optional<CVBoundaryType> boundary, double latitude,
                             double longitude, double floor)
        : CVPoint(latitude, longitude, floor), label_(std::move(label)), boundary_(boundary) {}

    // The entry point of a route-network node; null when there is no node.
    template <CVEntryPointNode Node>
    [[nodiscard]] static std::shared_ptr<CVRouteNetworkEntryPoint> newWithEntryPointNode(const Node* node) {
        if (node == nullptr) return nullptr;
        const auto coordinate = node->coordinate();
        return std::make_shared<CVRouteNetworkEntryPoint>(
            node->label(), static_cast<CVBoundaryType>(static_cast<std::uint8_t>(node->boundaryType())),
            coordinate.latitude, coordinate.longitude, coordinate.floor);
    }
    template <CVEntryPointNode Node>
    [[nodiscard]] static std::shared_ptr<CVRouteNetworkEntryPoint> newWithEntryPointNode(
        const std::shared_ptr<Node>& node) {
        return newWithEntryPointNode(node.get());
    }

    [[nodiscard]] const std::optional<std::string>& label() const { return label_; }
    [[nodiscard]] std::optional<CVBoundaryType> boundary() const { return boundary_; }

private:
    std::optional<std::string> label_;
    std::optional<CVBoundaryType> boundary_;
};

}  // namespace ambrell

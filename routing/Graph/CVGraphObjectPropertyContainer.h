#pragma once

#include "routing/Graph/CVGraphPropertyProtocols.h"
#include "routing/Graph/CVRouteNetworkValueMapper.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell {

// The properties of one node or edge of a route network: its list of value
// indexes, one per property of the network's mapper, read through the mapper.
//
//   boundary    number "boundary" (0 when absent)
//   barrier     text "barrier"
//   floorname   text "floorname"
//   waittime    number "waittime", seconds (0 when absent)
//   directed    flag "oneway"
//   highway     text "highway", lower-cased, as a way type
//   context     text "context"
//   distance    number "distance", millimetres (0 when absent)
//   speedFactor number "speedFactor" / 1000 (1.0 when 0 or absent)
class CVGraphObjectPropertyContainer final : public CVGraphNodePropertyProtocol, public CVGraphEdgePropertyProtocol {
public:
    // Null when exactly one of the two is given; neither gives an empty
    // container. The "flags" number is read once, here.
    [[nodiscard]] static std::shared_ptr<CVGraphObjectPropertyContainer> newWithProperties(
        std::optional<std::vector<std::int64_t>> properties,
        std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper);

    [[nodiscard]] const std::optional<std::vector<std::int64_t>>& properties() const { return properties_; }
    [[nodiscard]] const std::shared_ptr<const CVRouteNetworkValueMapper>& valueMapper() const { return valueMapper_; }
    [[nodiscard]] std::uint64_t flags() const { return flags_; }
    void setFlags(std::uint64_t flags) { flags_ = flags; }

    // None when the name is unknown, the entry is too short for it, the value
    // index is out of range, or the property is of the other kind.
    [[nodiscard]] std::optional<std::string> stringValueForProperty(std::string_view name) const;
    [[nodiscard]] std::optional<std::int64_t> numberValueForProperty(std::string_view name) const;
    [[nodiscard]] bool boolValueForProperty(std::string_view flagName) const;
    [[nodiscard]] CVHighway highwayValueForProperty(std::string_view name) const;

    [[nodiscard]] std::uint64_t boundary() const override;
    [[nodiscard]] std::optional<std::string> barrier() const override;
    [[nodiscard]] std::optional<std::string> floorname() const override;
    [[nodiscard]] bool directed() const override;
    [[nodiscard]] CVHighway highway() const override;
    [[nodiscard]] std::optional<std::string> context() const override;
    [[nodiscard]] std::uint64_t distance() const override;
    [[nodiscard]] double speedFactor() const override;
    // Both protocols read the same "waittime".
    [[nodiscard]] double waittime() const override;

    // Same object, both without lists, or equal lists; the mapper is not compared.
    [[nodiscard]] bool isEqualToGraphObjectPropertyContainer(const CVGraphObjectPropertyContainer* other) const;

    // "<CVGraphObjectPropertyContainer 0x...: [1,4500]>"
    [[nodiscard]] std::string debugDescription() const;

private:
    CVGraphObjectPropertyContainer(std::optional<std::vector<std::int64_t>> properties,
                                   std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper);

    std::optional<std::int64_t> valueIndexAt(std::int64_t position) const;
    std::optional<std::string> knownString(CVKnownGraphProperty property) const;
    std::optional<std::int64_t> knownNumber(CVKnownGraphProperty property) const;

    std::optional<std::vector<std::int64_t>> properties_;
    std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper_;
    std::uint64_t flags_ = 0;
    // Read once, like the flags: every weighing asks for it.
    CVHighway highway_;
};

// Makes the containers of one network, optionally sharing one container
// between entries with equal lists. Not synchronised.
class CVGraphObjectPropertyContainerFactory {
public:
    // Null without a mapper.
    [[nodiscard]] static std::shared_ptr<CVGraphObjectPropertyContainerFactory> newWithValueMapper(
        std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper, bool sharePropertyContainers);

    [[nodiscard]] const std::shared_ptr<const CVRouteNetworkValueMapper>& valueMapper() const { return valueMapper_; }

    // Null for no list.
    [[nodiscard]] std::shared_ptr<CVGraphObjectPropertyContainer> propertyContainerForProperties(
        std::optional<std::vector<std::int64_t>> properties);
    // Shared containers so far; 0 when sharing is off.
    [[nodiscard]] std::size_t cacheCount() const;

    [[nodiscard]] std::string debugDescription() const;

private:
    CVGraphObjectPropertyContainerFactory(std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper, bool share);

    std::shared_ptr<const CVRouteNetworkValueMapper> valueMapper_;
    std::optional<std::unordered_map<std::string, std::shared_ptr<CVGraphObjectPropertyContainer>>> cache_;
};

}  // namespace ambrell

#pragma once

#include <boost/json/fwd.hpp>

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ambrell {

// The properties the graph reads of every node or edge; their positions are
// looked up once per mapper.
enum class CVKnownGraphProperty : std::uint8_t {
    boundary,
    barrier,
    floorname,
    waittime,
    highway,
    context,
    distance,
    speedFactor,
    flags,
};

// Decodes the compact property values of a route network's nodes or edges:
// each property has a list of possible texts, and an entry holds one small
// integer per property, the position of its text in that list. A property
// whose list is empty is a number: the entry's integer is the value itself.
// Flags are bits of the number-valued property "flags", flag i worth 2^i.
// Immutable once made; shared by every container of a network.
class CVRouteNetworkValueMapper {
public:
    static constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();

    // Null when the two lists differ in length.
    [[nodiscard]] static std::shared_ptr<const CVRouteNetworkValueMapper> newMapperWithPropertyNames(
        std::vector<std::string> names, std::vector<std::vector<std::string>> values,
        std::optional<std::vector<std::string>> flagValues);

    // From a mapping object {"properties": [names], "values": [[texts]]}.
    // Null when either key is missing, is not an array, a name or value is
    // not a string, or the lengths differ.
    [[nodiscard]] static std::shared_ptr<const CVRouteNetworkValueMapper> newWithDict(
        const boost::json::object& dict, std::optional<std::vector<std::string>> flagValues);

    // The value list of a property; null for an unknown name.
    [[nodiscard]] const std::vector<std::string>* objectForKeyedSubscript(std::string_view name) const;
    // The property's position, kNotFound for an unknown name.
    [[nodiscard]] std::int64_t indexForProperty(std::string_view name) const;
    // The text at index of the property's list; none for an unknown name or an
    // index outside the list.
    [[nodiscard]] std::optional<std::string> stringValueForProperty(std::string_view name, std::int64_t index) const;
    // The index itself for a number-valued property; none for an unknown name
    // or a property with texts.
    [[nodiscard]] std::optional<std::int64_t> numberValueForProperty(std::string_view name, std::int64_t index) const;
    // indexForProperty of a known property's name, without a look-up.
    [[nodiscard]] std::int64_t indexForKnownProperty(CVKnownGraphProperty property) const {
        return knownPositions_[static_cast<std::size_t>(property)];
    }
    // The readers above for the property at a position (below the number of
    // properties).
    [[nodiscard]] std::optional<std::string> stringValueAtPosition(std::size_t position, std::int64_t index) const;
    [[nodiscard]] std::optional<std::int64_t> numberValueAtPosition(std::size_t position, std::int64_t index) const;
    // Whether the flag's bit is set in flags; false for an unknown flag.
    [[nodiscard]] bool boolValueForProperty(std::string_view flagName, std::uint64_t flags) const;

    [[nodiscard]] const std::vector<std::string>& propertyNames() const { return names_; }
    [[nodiscard]] bool hasFlagMapping() const { return flagBitMaskMapping_.has_value(); }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    template <typename Value>
    using Dictionary = std::unordered_map<std::string, Value, Hash, std::equal_to<>>;

    CVRouteNetworkValueMapper() = default;

    std::vector<std::string> names_;
    Dictionary<std::size_t> propertyIndexMapping_;
    std::vector<std::vector<std::string>> propertyValueMapping_;  // by position
    std::optional<Dictionary<std::uint64_t>> flagBitMaskMapping_;
    std::array<std::int64_t, 9> knownPositions_{};
};

}  // namespace ambrell

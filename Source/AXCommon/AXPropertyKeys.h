#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ambrell::axsearch {

using KeyId = std::uint32_t;

// The key under which a location's aliases are searched.
inline constexpr std::string_view kAliasesKey = "aliases";
inline constexpr std::string_view kNameKey = "name";

// Property keys interned to small numbers, each with its ranking weight:
// a hit in the name counts more than one in an alias, the external id or
// any other field.
class AXPropertyKeys {
public:
    // The key must already be folded (foldedKey).
    KeyId intern(std::string_view foldedKey);
    [[nodiscard]] std::optional<KeyId> find(std::string_view foldedKey) const;
    [[nodiscard]] std::uint32_t weight(KeyId key) const { return weights_[key]; }
    [[nodiscard]] std::size_t size() const { return weights_.size(); }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    };

    std::unordered_map<std::string, KeyId, Hash, std::equal_to<>> ids_;
    std::vector<std::uint32_t> weights_;
};

}  // namespace ambrell::axsearch

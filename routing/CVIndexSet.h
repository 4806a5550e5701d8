#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace ambrell {

// A set of unsigned indexes kept as sorted, disjoint, non-adjacent closed
// ranges, so that a list such as "0-4000000" costs one entry. Immutable once
// built; safe to read from any thread.
class CVIndexSet {
public:
    using Range = std::pair<std::uint64_t, std::uint64_t>;

    CVIndexSet() = default;
    // Ranges in any order, overlapping or not; each is first <= second.
    explicit CVIndexSet(std::vector<Range> ranges);

    [[nodiscard]] bool contains(std::uint64_t index) const;
    // The number of indexes; saturates at the largest 64-bit value.
    [[nodiscard]] std::uint64_t count() const;
    [[nodiscard]] bool empty() const { return ranges_.empty(); }
    [[nodiscard]] const std::vector<Range>& ranges() const { return ranges_; }

    friend bool operator==(const CVIndexSet&, const CVIndexSet&) = default;

private:
    std::vector<Range> ranges_;
};

// Reads a route network's list of immutable node ids, such as "0-3,7" or
// "1,3-5," (a final comma is allowed). Blanks and line breaks around the
// numbers and separators are skipped. No text gives none; an empty or blank
// text the empty set. Any malformed part (a negative or missing number, a
// range whose end is below its start, a separator other than one "-" or one
// ",") gives none, never a partial set.
[[nodiscard]] std::optional<CVIndexSet> cvNewWithImmutableNodesString(std::optional<std::string_view> text);

}  // namespace ambrell

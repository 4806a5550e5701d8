#include "foundation/CVInternalStringUtils.h"

#include "foundation/CVTextCase.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace ambrell {

std::uint64_t CVInternalStringUtils::fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::int32_t CVInternalStringUtils::hashOf(std::optional<std::string_view> text) {
    const std::uint64_t hash = fnv1a64(lowercasedText(text.value_or(std::string_view{})));
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(hash));
    // The minimum has no positive counterpart; it joins the maximum, one more
    // collision in a hash that has them anyway, so that every id stays
    // non-negative.
    if (low == std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::max();
    return low < 0 ? -low : low;
}

}  // namespace ambrell

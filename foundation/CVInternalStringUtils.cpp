#include "foundation/CVInternalStringUtils.h"

#include "foundation/CVTextCase.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
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

namespace internal_string_utils {
namespace {

// fnv1a64 of the lower-cased text, for text that is all ASCII, where
// lower-casing maps byte to byte and needs no copy; none otherwise.
std::optional<std::uint64_t> fnv1a64OfLowercasedAscii(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) return std::nullopt;
        hash ^= byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte;
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace
}  // namespace internal_string_utils

std::int32_t CVInternalStringUtils::hashOf(std::optional<std::string_view> text) {
    const std::string_view bytes = text.value_or(std::string_view{});
    // Ids are nearly always ASCII; hashing them costs no lower-cased copy then.
    const auto ascii = internal_string_utils::fnv1a64OfLowercasedAscii(bytes);
    const std::uint64_t hash = ascii ? *ascii : fnv1a64(lowercasedText(bytes));
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(hash));
    // The minimum has no positive counterpart; it joins the maximum, one more
    // collision in a hash that has them anyway, so that every id stays
    // non-negative.
    if (low == std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::max();
    return low < 0 ? -low : low;
}

}  // namespace ambrell

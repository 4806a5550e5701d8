#include "foundation/CVInternalStringUtils.h"

#include <utf8proc.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace ambrell {

namespace {

// Simple (one code point to one code point) lower-casing, so that the result
// does not depend on a locale.
std::string lowercased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const auto size = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_ssize_t i = 0;
    while (i < size) {
        const unsigned char byte = bytes[i];
        if (byte < 0x80) {
            out += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte);
            ++i;
            continue;
        }
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes + i, size - i, &codePoint);
        if (length <= 0) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        utf8proc_uint8_t encoded[4];
        const utf8proc_ssize_t written = utf8proc_encode_char(utf8proc_tolower(codePoint), encoded);
        out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(written));
        i += length;
    }
    return out;
}

// 64-bit FNV-1a: fixed by its definition, unlike std::hash.
std::uint64_t fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace

std::int32_t CVInternalStringUtils::hashOf(std::optional<std::string_view> text) {
    const std::uint64_t hash = fnv1a64(lowercased(text.value_or(std::string_view{})));
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(hash));
    // The minimum has no positive counterpart; it joins the maximum, one more
    // collision in a hash that has them anyway, so that every id stays
    // non-negative.
    if (low == std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::max();
    return low < 0 ? -low : low;
}

}  // namespace ambrell

#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ambrell {

class CVInternalStringUtils {
public:
    // Case-insensitive, non-negative 32-bit hash of a text; ids of the search
    // engine's records are made with it, so its values must never change
    // between runs, builds or standard libraries. No text hashes as the empty
    // text. Text that is not valid UTF-8 is hashed too: only its ASCII letters
    // are lower-cased and its other bytes are kept as they are.
    [[nodiscard]] static std::int32_t hashOf(std::optional<std::string_view> text);

    // 64-bit FNV-1a of the bytes: fixed by its definition, unlike std::hash,
    // so it may name stored things.
    [[nodiscard]] static std::uint64_t fnv1a64(std::string_view bytes);
};

}  // namespace ambrell

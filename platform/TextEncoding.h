#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ambrell::platform {

// Strict UTF-8: rejects overlong forms, surrogates, code points above
// U+10FFFF and truncated sequences.
[[nodiscard]] bool isValidUTF8(std::string_view text);

// Converts text in code page 437 (the encoding of legacy zip entry names) to
// UTF-8; none when the conversion is unavailable or fails.
[[nodiscard]] std::optional<std::string> decodeCP437(std::span<const std::uint8_t> bytes);
[[nodiscard]] std::optional<std::string> decodeCP437(std::string_view bytes);

}  // namespace ambrell::platform

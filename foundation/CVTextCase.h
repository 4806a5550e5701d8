#pragma once

#include <string>
#include <string_view>

namespace ambrell {

// Locale-independent lower-casing of UTF-8 text, one code point to one, as
// readable ids and search aliases need it; bytes that are not valid UTF-8 are
// kept as they are.
[[nodiscard]] std::string lowercasedText(std::string_view text);

// Whether two texts are equal once lower-cased.
[[nodiscard]] bool equalsIgnoringCase(std::string_view lhs, std::string_view rhs);

}  // namespace ambrell

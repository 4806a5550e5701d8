#pragma once

#include <algorithm>
#include <string_view>

namespace ambrell {

// Whether two texts are equal ignoring the case of ASCII letters only. The
// document keywords compared this way are ASCII; unlike std::toupper the
// comparison does not depend on the process locale.
[[nodiscard]] constexpr bool equalsIgnoringASCIICase(std::string_view lhs, std::string_view rhs) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::equal(lhs.begin(), lhs.end(), rhs.begin(), rhs.end(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace ambrell

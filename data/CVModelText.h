#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ambrell {

// A name as the web service writes it, with every backslash followed by "n"
// turned into a line break.
[[nodiscard]] std::string CVNameWithLineBreaks(std::string_view text);

// The number a text starts with, as a building's floor keys give floor
// indexes: blanks, a sign and digits; 0 when there is none; held to the
// 64-bit range.
[[nodiscard]] std::int64_t CVIntegerValueOfText(std::string_view text);

}  // namespace ambrell

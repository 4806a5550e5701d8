#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ambrell {

// Makes a URL text fit for the HTTP layer: every byte outside the characters
// a URL may carry in its scheme, host, user, password, path, query or
// fragment is percent-encoded (UTF-8 bytes, upper-case hexadecimal), so a
// blank becomes "%20". A text holding "%" is taken as already encoded and
// kept as it is, so nothing is encoded twice. None when the result is not a
// URL reference (an empty text, an unbalanced "[", a stray "%", a second "#").
[[nodiscard]] std::optional<std::string> URLByPercentEncodingPath(std::string_view urlText);

// Appends the byte as "%" and two upper-case hexadecimal digits.
void appendPercentEscaped(std::string& out, unsigned char byte);

}  // namespace ambrell

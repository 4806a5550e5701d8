#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace ambrell {

// Which bytes an image URL text keeps as they are when it is encoded: "#" and
// every character allowed in a URL's user, password, host, path, query or
// fragment (letters, digits, "-._~!$&'()*+,;=:/?@[]"). Built once.
[[nodiscard]] const std::array<bool, 256>& urlAllowedCharacters();

// The URL of an image URL text: a text holding "%" is taken as encoded and
// kept, any other has every byte outside urlAllowedCharacters()
// percent-encoded. None when that is no URL (or relative reference).
[[nodiscard]] std::optional<std::string> imageUrlFromString(std::string_view text);

// The host whose images the web service scales on request:
// "media.ambrell.com" unless set otherwise. Safe from any thread.
[[nodiscard]] std::string imageMediaHost();
// For deployments, and test services, whose media come from another host.
void setImageMediaHost(std::string host);

// The URL asking the media host for the image at that size, in points: the
// query items "width", "height" (each truncated to an integer) and
// "fitMode" = "cover" appended after the existing ones. The URL as it is when
// it is not on the media host, when both sizes are 0, when either is not
// finite or beyond the 64-bit range, or when it does not parse.
[[nodiscard]] std::string withImageSize(std::string_view url, double width, double height);

// The name the host app's resources give an image: "ax" followed by the URL's
// decoded path with every "/" replaced by "_" (/icons/a.png: ax_icons_a.png).
// None when the URL does not parse or its path decodes to a NUL byte.
[[nodiscard]] std::optional<std::string> imageResourceName(std::string_view url);

}  // namespace ambrell

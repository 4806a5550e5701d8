#include "foundation/CVPercentEncoding.h"

#include <array>

#include <boost/url/parse.hpp>

namespace ambrell {

namespace {

// The characters left as they are: letters, digits and the punctuation the
// platform allows in any part of a URL, with "#" added so that a fragment
// stays a fragment.
constexpr std::array<bool, 256> makeCharacterSetForUrlEscaping() {
    std::array<bool, 256> allowed{};
    for (char c = 'a'; c <= 'z'; ++c) allowed[static_cast<unsigned char>(c)] = true;
    for (char c = 'A'; c <= 'Z'; ++c) allowed[static_cast<unsigned char>(c)] = true;
    for (char c = '0'; c <= '9'; ++c) allowed[static_cast<unsigned char>(c)] = true;
    for (char c : std::string_view("!$&'()*+,-./:;=?@[]_~#")) allowed[static_cast<unsigned char>(c)] = true;
    return allowed;
}

constexpr auto kCharacterSetForUrlEscaping = makeCharacterSetForUrlEscaping();

std::string percentEncode(std::string_view text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (kCharacterSetForUrlEscaping[byte]) {
            encoded += c;
        } else {
            appendPercentEscaped(encoded, byte);
        }
    }
    return encoded;
}

}  // namespace

void appendPercentEscaped(std::string& out, unsigned char byte) {
    constexpr std::string_view kHexDigits = "0123456789ABCDEF";
    out += '%';
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

std::optional<std::string> URLByPercentEncodingPath(std::string_view urlText) {
    if (urlText.empty()) return std::nullopt;
    std::string encoded = urlText.find('%') != std::string_view::npos ? std::string(urlText) : percentEncode(urlText);
    if (!boost::urls::parse_uri_reference(encoded)) return std::nullopt;
    return encoded;
}

}  // namespace ambrell

#include "zip/ZipHelpers.h"

#include <vector>

#include "platform/TextEncoding.h"

namespace ambrell {

std::optional<std::string> _sanitizedPath(std::string_view name) {
    if (!platform::isValidUTF8(name)) return std::nullopt;
    std::string path(name);
    for (auto& c : path) {
        if (c == '\\') c = '/';
    }

    // Dot-segment removal of a URL path rooted at "/", done over whole
    // segments so that a long hostile name costs linear time.
    std::vector<std::string_view> kept;
    bool trailingSlash = false;
    const std::string_view view(path);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = view.find('/', start);
        const std::string_view segment =
            view.substr(start, end == std::string_view::npos ? view.size() - start : end - start);
        const bool last = end == std::string_view::npos;
        if (segment == ".") {
            trailingSlash = last;
        } else if (segment == "..") {
            if (!kept.empty()) kept.pop_back();
            trailingSlash = last;
        } else {
            kept.push_back(segment);
            trailingSlash = false;
        }
        if (last) break;
        start = end + 1;
    }

    std::string result;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) result += '/';
        result += kept[i];
    }
    if (trailingSlash && !kept.empty()) result += '/';
    return result;
}

bool _fileIsSymbolicLink(const unz_file_info& fileInfo) {
    const bool madeOnUnix = (fileInfo.version >> 8) == 3;
    const bool linkType = ((fileInfo.external_fa >> 28) & 0xFu) == 0xAu;
    return madeOnUnix && linkType;
}

std::string _hexString(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::string _base64RFC4648(std::span<const std::uint8_t> bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        text += kAlphabet[(n >> 18) & 63];
        text += kAlphabet[(n >> 12) & 63];
        text += kAlphabet[(n >> 6) & 63];
        text += kAlphabet[n & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        const std::uint32_t n = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        text += kAlphabet[(n >> 18) & 63];
        text += kAlphabet[(n >> 12) & 63];
        text += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

}  // namespace ambrell

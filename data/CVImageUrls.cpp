#include "data/CVImageUrls.h"

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <utility>

#include "foundation/CVPercentEncoding.h"

namespace ambrell {

namespace {

std::mutex& mediaHostMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& mediaHostValue() {
    static std::string host = "media.ambrell.com";
    return host;
}

// Truncated toward zero; none for sizes without a 64-bit integer.
std::optional<std::int64_t> integerSize(double size) {
    // 2^63 is exact in a double; every double below it converts.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(size) || size >= kLimit || size < -kLimit) return std::nullopt;
    return static_cast<std::int64_t>(size);
}

}  // namespace

const std::array<bool, 256>& urlAllowedCharacters() {
    static const auto allowed = [] {
        std::array<bool, 256> set{};
        for (int c = 'a'; c <= 'z'; ++c) set[static_cast<std::size_t>(c)] = true;
        for (int c = 'A'; c <= 'Z'; ++c) set[static_cast<std::size_t>(c)] = true;
        for (int c = '0'; c <= '9'; ++c) set[static_cast<std::size_t>(c)] = true;
        for (const char c : std::string_view("-._~!$&'()*+,;=:/?@[]#")) set[static_cast<unsigned char>(c)] = true;
        return set;
    }();
    return allowed;
}

std::optional<std::string> imageUrlFromString(std::string_view text) {
    std::string encoded;
    if (text.find('%') != std::string_view::npos) {
        encoded = text;
    } else {
        const auto& allowed = urlAllowedCharacters();
        encoded.reserve(text.size());
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (allowed[byte]) {
                encoded.push_back(c);
            } else {
                appendPercentEscaped(encoded, byte);
            }
        }
    }
    // The platform forms no URL from an empty text.
    if (encoded.empty() || !boost::urls::parse_uri_reference(encoded)) return std::nullopt;
    return encoded;
}

std::string imageMediaHost() {
    std::lock_guard lock(mediaHostMutex());
    return mediaHostValue();
}

void setImageMediaHost(std::string host) {
    std::lock_guard lock(mediaHostMutex());
    mediaHostValue() = std::move(host);
}

std::string withImageSize(std::string_view url, double width, double height) {
    const auto host = imageMediaHost();
    if (host.empty() || url.find(host) == std::string_view::npos) return std::string(url);
    if (width == 0 && height == 0) return std::string(url);
    const auto parsed = boost::urls::parse_uri_reference(url);
    const auto integerWidth = integerSize(width);
    const auto integerHeight = integerSize(height);
    if (!parsed || !integerWidth || !integerHeight) return std::string(url);
    boost::urls::url sized(*parsed);
    auto params = sized.params();
    params.append({"width", std::to_string(*integerWidth)});
    params.append({"height", std::to_string(*integerHeight)});
    params.append({"fitMode", "cover"});
    return std::string(sized.buffer());
}

std::optional<std::string> imageResourceName(std::string_view url) {
    const auto parsed = boost::urls::parse_uri_reference(url);
    if (!parsed) return std::nullopt;
    std::string path = parsed->path();
    // The platform's path of a URL drops a trailing "/".
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.find('\0') != std::string::npos) return std::nullopt;
    for (auto& c : path) {
        if (c == '/') c = '_';
    }
    return "ax" + path;
}

}  // namespace ambrell

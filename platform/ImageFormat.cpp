#include "platform/ImageFormat.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace ambrell::platform {

namespace {

using Bytes = std::span<const std::byte>;
using namespace std::string_view_literals;

bool startsWith(Bytes data, std::string_view prefix, std::size_t at = 0) {
    if (data.size() < at + prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char expected, std::byte actual) { return static_cast<std::byte>(expected) == actual; });
}

std::uint32_t bigEndian32(Bytes data, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | std::to_integer<std::uint32_t>(data[at + i]);
    return value;
}

std::uint32_t littleEndian32(Bytes data, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = (value << 8) | std::to_integer<std::uint32_t>(data[at + i]);
    return value;
}

// AVIF and HEIC are both ISO media files whose first box, "ftyp", lists the
// brands the file conforms to: an AVIF file may name the generic HEIF brands
// too, so its own brands are looked for first, in the whole list.
ImageFormat isoMediaFormat(Bytes data) {
    if (data.size() < 16 || !startsWith(data, "ftyp", 4)) return ImageFormat::none;
    const auto boxEnd = std::min<std::size_t>(bigEndian32(data, 0), data.size());
    auto hasBrand = [&](std::initializer_list<std::string_view> brands) {
        // The major brand, the minor version (skipped), then the compatible brands.
        for (std::size_t at = 8; at + 4 <= boxEnd; at += at == 8 ? 8 : 4) {
            for (const auto brand : brands) {
                if (startsWith(data, brand, at)) return true;
            }
        }
        return false;
    };
    if (hasBrand({"avif", "avis"})) return ImageFormat::avif;
    if (hasBrand({"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs", "mif1", "msf1"})) {
        return ImageFormat::heic;
    }
    return ImageFormat::none;
}

// "BM" alone starts ordinary text too: the size of the header that follows
// the file header must also be one a BMP has.
bool isBmp(Bytes data) {
    if (data.size() < 18 || !startsWith(data, "BM")) return false;
    const auto headerSize = littleEndian32(data, 14);
    return headerSize == 12 || headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
           headerSize == 108 || headerSize == 124;
}

// Reserved 0, type 1 (an icon), then at least one image.
bool isIco(Bytes data) {
    return data.size() >= 6 && startsWith(data, "\0\0\1\0"sv) && (data[4] != std::byte{0} || data[5] != std::byte{0});
}

// An XML document whose root element is <svg>: what may come before it (a
// byte-order mark, the XML declaration, comments, a document type with its
// entities) is skipped, so an HTML page or any other XML is not taken for one.
bool isSvg(Bytes data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    std::size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    auto skipPast = [&](std::string_view end) {
        const auto found = text.find(end, at);
        at = found == std::string_view::npos ? text.size() : found + end.size();
    };
    while (true) {
        at = text.find_first_not_of(" \t\r\n", at);
        if (at == std::string_view::npos) return false;
        const auto rest = text.substr(at);
        if (rest.starts_with("<?")) {
            skipPast("?>");
        } else if (rest.starts_with("<!--")) {
            skipPast("-->");
        } else if (rest.starts_with("<!DOCTYPE")) {
            const auto subset = text.find_first_of("[>", at);
            if (subset != std::string_view::npos && text[subset] == '[') {
                at = subset;
                skipPast("]");
            }
            skipPast(">");
        } else {
            return rest.size() > 4 && rest.starts_with("<svg") && " \t\r\n>/"sv.find(rest[4]) != std::string_view::npos;
        }
    }
}

}  // namespace

ImageFormat imageFormatOf(std::span<const std::byte> data) {
    if (startsWith(data, "\x89PNG\r\n\x1a\n")) return ImageFormat::png;
    if (startsWith(data, "\xFF\xD8\xFF")) return ImageFormat::jpeg;
    if (startsWith(data, "RIFF") && startsWith(data, "WEBP", 8)) return ImageFormat::webp;
    if (startsWith(data, "GIF87a") || startsWith(data, "GIF89a")) return ImageFormat::gif;
    if (startsWith(data, "II*\0"sv) || startsWith(data, "MM\0*"sv)) return ImageFormat::tiff;
    if (isBmp(data)) return ImageFormat::bmp;
    if (isIco(data)) return ImageFormat::ico;
    if (const auto format = isoMediaFormat(data); format != ImageFormat::none) return format;
    if (isSvg(data)) return ImageFormat::svg;
    return ImageFormat::none;
}

bool isDecodable(ImageFormat format) {
    return format == ImageFormat::png || format == ImageFormat::jpeg || format == ImageFormat::webp ||
           format == ImageFormat::gif;
}

}  // namespace ambrell::platform

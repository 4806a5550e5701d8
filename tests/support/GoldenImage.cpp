#include "GoldenImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/FileSystem.h"

namespace ambrell::test {

namespace golden_image {
namespace {

constexpr int kChannelTolerance = 2;
// Pixels off that an image of `count` pixels may have: 1 %, rounded down.
std::size_t allowedOff(std::size_t count) { return count / 100; }

bool updating() {
    const char* value = std::getenv("AMBRELL_UPDATE_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

std::filesystem::path resolved(const std::filesystem::path& golden) {
    return golden.is_absolute() ? golden : std::filesystem::path(AMBRELL_SOURCE_DIR) / golden;
}

// Red, green, blue, alpha with alpha divided out; a transparent pixel has
// no colour, so all of it reads 0.
std::array<int, 4> unpremultiplied(std::uint32_t argb) {
    const int alpha = static_cast<int>(argb >> 24);
    if (alpha == 0) return {0, 0, 0, 0};
    const auto channel = [alpha](std::uint32_t premultiplied) {
        return std::min(255, static_cast<int>((premultiplied * 255 + static_cast<std::uint32_t>(alpha) / 2) /
                                              static_cast<std::uint32_t>(alpha)));
    };
    return {channel((argb >> 16) & 0xFF), channel((argb >> 8) & 0xFF), channel(argb & 0xFF), alpha};
}

std::error_code writePng(const platform::Image& image, const std::filesystem::path& path) {
    const auto png = image.pngData();
    if (!png) return std::make_error_code(std::errc::not_enough_memory);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(png->data());
    return platform::writeFileAtomically(path, std::span(bytes, png->size()));
}

std::optional<platform::Image> readPng(const std::filesystem::path& path) {
    const auto bytes = platform::readFile(path);
    if (!bytes) return std::nullopt;
    return platform::Image::fromPngData(std::as_bytes(std::span(*bytes)));
}

// What differs, or none when the images match within the tolerances.
std::optional<std::string> difference(const platform::Image& actual, const platform::Image& expected) {
    if (actual.width() != expected.width() || actual.height() != expected.height()) {
        std::ostringstream text;
        text << "size " << actual.width() << "x" << actual.height() << " where the golden image has "
             << expected.width() << "x" << expected.height();
        return text.str();
    }
    std::size_t off = 0;
    int worst = 0;
    std::optional<std::array<int, 2>> first;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const auto a = unpremultiplied(actual.pixel(x, y));
            const auto e = unpremultiplied(expected.pixel(x, y));
            int largest = 0;
            for (std::size_t c = 0; c < a.size(); ++c) largest = std::max(largest, std::abs(a[c] - e[c]));
            if (largest <= kChannelTolerance) continue;
            ++off;
            worst = std::max(worst, largest);
            if (!first) first = std::array<int, 2>{x, y};
        }
    }
    const auto count = static_cast<std::size_t>(actual.width()) * static_cast<std::size_t>(actual.height());
    if (off <= allowedOff(count)) return std::nullopt;
    std::ostringstream text;
    text << off << " of " << count << " pixels off (at most " << allowedOff(count) << " may be), the first at ("
         << (*first)[0] << ", " << (*first)[1] << "), by up to " << worst << "/255";
    return text.str();
}

}  // namespace
}  // namespace golden_image

void expectMatchesGolden(const platform::Image& actual, const std::filesystem::path& golden) {
    const auto path = golden_image::resolved(golden);
    if (golden_image::updating()) {
        const auto error = golden_image::writePng(actual, path);
        EXPECT_FALSE(error) << "could not write the golden image " << path << ": " << error.message();
        return;
    }
    const auto expected = golden_image::readPng(path);
    const auto problem = expected ? golden_image::difference(actual, *expected)
                                  : std::optional<std::string>(
                                        "no readable golden image (AMBRELL_UPDATE_GOLDEN=1 "
                                        "writes it)");
    if (!problem) return;
    const auto written = std::filesystem::current_path() / "golden-actual" / path.filename();
    const auto error = golden_image::writePng(actual, written);
    ADD_FAILURE() << "the image does not match " << path << ": " << *problem << "; the drawn image is "
                  << (error ? "unwritable (" + error.message() + ")" : written.string());
}

}  // namespace ambrell::test

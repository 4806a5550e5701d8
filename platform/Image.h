#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ambrell::platform {

// A bitmap image: premultiplied ARGB32 pixels (one native-endian 32-bit word
// per pixel, alpha in the top byte, rows packed without padding) and the
// scale of pixels per point. A value type; copies share nothing.
class Image {
public:
    // A transparent image; sizes of 0 or beyond what cairo accepts give none.
    [[nodiscard]] static std::optional<Image> create(int width, int height, double scale = 1.0);
    // Decodes PNG bytes; anything that is not a complete PNG gives none.
    [[nodiscard]] static std::optional<Image> fromPngData(std::span<const std::byte> data, double scale = 1.0);
    // Decodes PNG, JPEG, WebP or GIF bytes (of an animation, its first frame),
    // told apart by their signature (ImageFormat.h). Anything else, or a file
    // cut short or damaged, gives none: never half an image.
    [[nodiscard]] static std::optional<Image> fromData(std::span<const std::byte> data, double scale = 1.0);

    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] int height() const { return height_; }
    [[nodiscard]] double scale() const { return scale_; }

    // Out-of-range coordinates read 0 and ignore writes.
    [[nodiscard]] std::uint32_t pixel(int x, int y) const;
    void setPixel(int x, int y, std::uint32_t argb);
    [[nodiscard]] std::span<const std::uint32_t> pixels() const { return pixels_; }
    [[nodiscard]] std::span<std::uint32_t> pixels() { return pixels_; }

    // The image drawn stretched to fill `width` by `height` pixels (the aspect
    // ratio is not kept), smoothed, with the scale given; none for a size that
    // create() refuses.
    [[nodiscard]] std::optional<Image> scaledTo(int width, int height, double scale) const;

    // The PNG encoding; none when cairo fails (out of memory).
    [[nodiscard]] std::optional<std::vector<std::byte>> pngData() const;

    friend bool operator==(const Image&, const Image&) = default;

private:
    Image(int width, int height, double scale);

    int width_ = 0;
    int height_ = 0;
    double scale_ = 1.0;
    std::vector<std::uint32_t> pixels_;
};

// Bytes read as an image file: an image when they decode, or when their
// format is one recognised but not decoded here (SVG, AVIF, ...), which is
// kept for a host to read itself; `decoded` holds what decoded.
struct ImageFileReading {
    bool isImage = false;
    std::optional<Image> decoded;
};
[[nodiscard]] ImageFileReading readImageBytes(std::span<const std::byte> data, double scale = 1.0);

}  // namespace ambrell::platform

#include "platform/Image.h"

#include "platform/CairoHandles.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace ambrell::platform {

namespace {

// cairo refuses image surfaces with a larger edge.
constexpr int kMaxEdge = 32767;

bool isValidSize(int width, int height) { return width > 0 && height > 0 && width <= kMaxEdge && height <= kMaxEdge; }

// Hands cairo's PNG reader the bytes and no more: a truncated stream ends in a
// read error, never a read past the end.
struct PngReader {
    std::span<const std::byte> data;
    std::size_t position = 0;

    static cairo_status_t read(void* closure, unsigned char* out, unsigned int length) {
        auto* reader = static_cast<PngReader*>(closure);
        if (length > reader->data.size() - reader->position) return CAIRO_STATUS_READ_ERROR;
        std::memcpy(out, reader->data.data() + reader->position, length);
        reader->position += length;
        return CAIRO_STATUS_SUCCESS;
    }
};

cairo_status_t appendPng(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<std::byte>*>(closure);
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    out->insert(out->end(), bytes, bytes + length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

Image::Image(int width, int height, double scale)
    : width_(width),
      height_(height),
      scale_(scale),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0U) {}

std::optional<Image> Image::create(int width, int height, double scale) {
    if (!isValidSize(width, height)) return std::nullopt;
    return Image(width, height, scale);
}

std::optional<Image> Image::fromPngData(std::span<const std::byte> data, double scale) {
    PngReader reader{data};
    CairoSurfacePtr decoded(cairo_image_surface_create_from_png_stream(&PngReader::read, &reader));
    if (cairo_surface_status(decoded.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    const int width = cairo_image_surface_get_width(decoded.get());
    const int height = cairo_image_surface_get_height(decoded.get());
    if (!isValidSize(width, height)) return std::nullopt;

    // Whatever format the PNG decoded to (opaque images come as RGB24), paint
    // it into premultiplied ARGB32 so every image has the same layout.
    CairoSurfacePtr argb(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(argb.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    {
        CairoContextPtr context(cairo_create(argb.get()));
        cairo_set_operator(context.get(), CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(context.get(), decoded.get(), 0, 0);
        cairo_paint(context.get());
        if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    }
    cairo_surface_flush(argb.get());

    Image image(width, height, scale);
    const unsigned char* rows = cairo_image_surface_get_data(argb.get());
    const auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(argb.get()));
    const auto rowBytes = static_cast<std::size_t>(width) * sizeof(std::uint32_t);
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                    rows + static_cast<std::size_t>(y) * stride, rowBytes);
    }
    return image;
}

std::uint32_t Image::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)];
}

void Image::setPixel(int x, int y, std::uint32_t argb) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)] = argb;
}

std::optional<std::vector<std::byte>> Image::pngData() const {
    if (!isValidSize(width_, height_)) return std::nullopt;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width_);
    const auto rowBytes = static_cast<std::size_t>(width_) * sizeof(std::uint32_t);
    // cairo wants writable memory even to read from; give it a copy so a
    // const image is never handed out as writable.
    std::vector<unsigned char> buffer(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height_));
    for (int y = 0; y < height_; ++y) {
        std::memcpy(buffer.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride),
                    pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_), rowBytes);
    }
    CairoSurfacePtr surface(
        cairo_image_surface_create_for_data(buffer.data(), CAIRO_FORMAT_ARGB32, width_, height_, stride));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    std::vector<std::byte> png;
    if (cairo_surface_write_to_png_stream(surface.get(), &appendPng, &png) != CAIRO_STATUS_SUCCESS) {
        return std::nullopt;
    }
    return png;
}

}  // namespace ambrell::platform

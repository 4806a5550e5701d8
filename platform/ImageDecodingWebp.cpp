#include "platform/ImageDecoders.h"

#include <webp/demux.h>

#include <cstdint>
#include <memory>

// The animation decoder of libwebp's demuxer reads a still image as an
// animation of one frame, so one path answers both. It parses the whole
// container first and refuses one cut short.
namespace ambrell::platform::image_decoders {

namespace {

struct AnimationDecoderRelease {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

}  // namespace

std::optional<Image> decodeWebp(std::span<const std::byte> data, double scale) {
    WebPAnimDecoderOptions options;
    if (WebPAnimDecoderOptionsInit(&options) == 0) return std::nullopt;
    // Premultiplied, as Image keeps its pixels; in bytes, so the order is the
    // same on every machine.
    options.color_mode = MODE_rgbA;
    options.use_threads = 0;
    const WebPData webp{reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
    const std::unique_ptr<WebPAnimDecoder, AnimationDecoderRelease> decoder(WebPAnimDecoderNew(&webp, &options));
    if (!decoder) return std::nullopt;
    WebPAnimInfo info;
    if (WebPAnimDecoderGetInfo(decoder.get(), &info) == 0) return std::nullopt;
    // WebP's edges stop at 16384, well within int.
    auto image = Image::create(static_cast<int>(info.canvas_width), static_cast<int>(info.canvas_height), scale);
    if (!image) return std::nullopt;
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) == 0) return std::nullopt;
    for (auto& pixel : image->pixels()) {
        pixel = std::uint32_t{canvas[3]} << 24 | std::uint32_t{canvas[0]} << 16 | std::uint32_t{canvas[1]} << 8 |
                std::uint32_t{canvas[2]};
        canvas += 4;
    }
    return image;
}

}  // namespace ambrell::platform::image_decoders

#include "platform/ImageDecoders.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace ambrell::platform::image_decoders {

namespace {

// Hands giflib the bytes and no more: a file cut short is a short read,
// which giflib reports.
struct GifReader {
    std::span<const std::byte> data;
    std::size_t position = 0;

    static int read(GifFileType* gif, GifByteType* out, int length) {
        auto* reader = static_cast<GifReader*>(gif->UserData);
        const auto count =
            std::min(static_cast<std::size_t>(std::max(length, 0)), reader->data.size() - reader->position);
        if (count > 0) std::memcpy(out, reader->data.data() + reader->position, count);
        reader->position += count;
        return static_cast<int>(count);
    }
};

struct GifRelease {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

}  // namespace

std::optional<Image> decodeGif(std::span<const std::byte> data, double scale) {
    GifReader reader{data};
    int error = 0;
    const std::unique_ptr<GifFileType, GifRelease> gif(DGifOpen(&reader, &GifReader::read, &error));
    if (!gif) return std::nullopt;
    // Every frame is read, though only the first is shown: a file cut short
    // or damaged anywhere does not decode.
    if (DGifSlurp(gif.get()) != GIF_OK || gif->ImageCount < 1) return std::nullopt;
    auto image = Image::create(gif->SWidth, gif->SHeight, scale);
    if (!image) return std::nullopt;

    const SavedImage& frame = gif->SavedImages[0];
    const ColorMapObject* colours = frame.ImageDesc.ColorMap != nullptr ? frame.ImageDesc.ColorMap : gif->SColorMap;
    if (colours == nullptr || frame.RasterBits == nullptr) return std::nullopt;
    GraphicsControlBlock control{};
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    // Without a control block the frame has no transparent colour.
    DGifSavedExtensionToGCB(gif.get(), 0, &control);

    // The canvas outside the frame stays transparent, and so do pixels of an
    // index the colour map lacks; setPixel drops those outside the canvas.
    const auto& place = frame.ImageDesc;
    for (int y = 0; y < place.Height; ++y) {
        for (int x = 0; x < place.Width; ++x) {
            const int index = frame.RasterBits[static_cast<std::size_t>(y) * static_cast<std::size_t>(place.Width) +
                                               static_cast<std::size_t>(x)];
            if (index == control.TransparentColor || index >= colours->ColorCount) continue;
            const GifColorType& colour = colours->Colors[index];
            image->setPixel(place.Left + x, place.Top + y,
                            0xFF000000U | std::uint32_t{colour.Red} << 16 | std::uint32_t{colour.Green} << 8 |
                                std::uint32_t{colour.Blue});
        }
    }
    return image;
}

}  // namespace ambrell::platform::image_decoders

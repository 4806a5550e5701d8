#include "platform/ImageDecoders.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

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

// Reads an extension whole; the graphic control block before the first
// frame says which of its colours is transparent.
bool readExtension(GifFileType& gif, GraphicsControlBlock* control) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(&gif, &code, &block) != GIF_OK) return false;
    if (control != nullptr && code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
        DGifExtensionToGCB(block[0], block + 1, control);
    }
    while (block != nullptr) {
        if (DGifGetExtensionNext(&gif, &block) != GIF_OK) return false;
    }
    return true;
}

// A later frame's data is passed over undecoded: it is never shown.
bool skipFrame(GifFileType& gif) {
    int codeSize = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(&gif, &codeSize, &block) != GIF_OK) return false;
    while (block != nullptr) {
        if (DGifGetCodeNext(&gif, &block) != GIF_OK) return false;
    }
    return true;
}

// Decoded a row at a time, so that a frame costs one row of memory whatever
// size its descriptor claims. The canvas outside the frame stays
// transparent, and so do pixels of an index the colour map lacks; setPixel
// drops those outside the canvas.
bool drawFrame(GifFileType& gif, const GraphicsControlBlock& control, Image& image) {
    const GifImageDesc& place = gif.Image;
    const ColorMapObject* colours = place.ColorMap != nullptr ? place.ColorMap : gif.SColorMap;
    if (colours == nullptr || place.Width <= 0 || place.Height <= 0) return false;
    // An interlaced frame comes in four passes over its rows.
    static constexpr std::array<int, 4> kFirstRow{0, 4, 2, 1};
    static constexpr std::array<int, 4> kRowStep{8, 8, 4, 2};
    const int passes = place.Interlace ? 4 : 1;
    std::vector<GifPixelType> row(static_cast<std::size_t>(place.Width));
    for (int pass = 0; pass < passes; ++pass) {
        const int first = place.Interlace ? kFirstRow[pass] : 0;
        const int step = place.Interlace ? kRowStep[pass] : 1;
        for (int y = first; y < place.Height; y += step) {
            if (DGifGetLine(&gif, row.data(), place.Width) != GIF_OK) return false;
            for (int x = 0; x < place.Width; ++x) {
                const int index = row[static_cast<std::size_t>(x)];
                if (index == control.TransparentColor || index >= colours->ColorCount) continue;
                const GifColorType& colour = colours->Colors[index];
                image.setPixel(place.Left + x, place.Top + y,
                               0xFF000000U | std::uint32_t{colour.Red} << 16 | std::uint32_t{colour.Green} << 8 |
                                   std::uint32_t{colour.Blue});
            }
        }
    }
    return true;
}

}  // namespace

// The first frame is shown; the file is read to its end all the same, so
// that one cut short or damaged anywhere does not decode.
std::optional<Image> decodeGif(std::span<const std::byte> data, double scale) {
    GifReader reader{data};
    int error = 0;
    const std::unique_ptr<GifFileType, GifRelease> gif(DGifOpen(&reader, &GifReader::read, &error));
    if (!gif) return std::nullopt;
    auto image = Image::create(gif->SWidth, gif->SHeight, scale);
    if (!image) return std::nullopt;
    GraphicsControlBlock control{};
    // Without a control block the frame has no transparent colour.
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    bool drawn = false;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK) return std::nullopt;
        switch (record) {
            case IMAGE_DESC_RECORD_TYPE:
                if (DGifGetImageDesc(gif.get()) != GIF_OK) return std::nullopt;
                if (!(drawn ? skipFrame(*gif) : drawFrame(*gif, control, *image))) return std::nullopt;
                drawn = true;
                break;
            case EXTENSION_RECORD_TYPE:
                if (!readExtension(*gif, drawn ? nullptr : &control)) return std::nullopt;
                break;
            case TERMINATE_RECORD_TYPE:
                if (!drawn) return std::nullopt;
                return image;
            default: return std::nullopt;
        }
    }
}

}  // namespace ambrell::platform::image_decoders

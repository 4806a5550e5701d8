#include "tests/support/EncodedImages.h"

#include <gif_lib.h>
#include <turbojpeg.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>

namespace ambrell::test {

namespace {

std::uint8_t channel(std::uint32_t colour, int shift) { return static_cast<std::uint8_t>(colour >> shift); }

// Bytes R, G, B, A a pixel.
std::vector<std::uint8_t> rgbaPixels(int width, int height, std::uint32_t colour) {
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < width * height; ++i) {
        pixels.insert(pixels.end(), {channel(colour, 16), channel(colour, 8), channel(colour, 0), channel(colour, 24)});
    }
    return pixels;
}

std::string bytesOf(const std::uint8_t* data, std::size_t size) { return {reinterpret_cast<const char*>(data), size}; }

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("encoding the test image failed: ") + what);
}

}  // namespace

std::string jpegFile(int width, int height, std::uint32_t colour) {
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), &tjDestroy);
    check(compressor != nullptr, "tjInitCompress");
    const auto pixels = rgbaPixels(width, height, colour);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    check(tjCompress2(compressor.get(), pixels.data(), width, 0, height, TJPF_RGBA, &jpeg, &size, TJSAMP_444, 95, 0) ==
              0,
          "tjCompress2");
    std::string file = bytesOf(jpeg, size);
    tjFree(jpeg);
    return file;
}

std::string webpFile(int width, int height, std::uint32_t colour) {
    const auto pixels = rgbaPixels(width, height, colour);
    std::uint8_t* webp = nullptr;
    const auto size = WebPEncodeRGBA(pixels.data(), width, height, width * 4, 90, &webp);
    check(size != 0, "WebPEncodeRGBA");
    std::string file = bytesOf(webp, size);
    WebPFree(webp);
    return file;
}

std::string animatedWebpFile(int width, int height, const std::vector<std::uint32_t>& frames) {
    WebPAnimEncoderOptions options;
    check(WebPAnimEncoderOptionsInit(&options) != 0, "WebPAnimEncoderOptionsInit");
    const std::unique_ptr<WebPAnimEncoder, void (*)(WebPAnimEncoder*)> encoder(
        WebPAnimEncoderNew(width, height, &options), &WebPAnimEncoderDelete);
    check(encoder != nullptr, "WebPAnimEncoderNew");
    WebPConfig config;
    check(WebPConfigInit(&config) != 0, "WebPConfigInit");
    config.lossless = 1;
    int timestamp = 0;
    for (const auto colour : frames) {
        WebPPicture picture;
        check(WebPPictureInit(&picture) != 0, "WebPPictureInit");
        picture.use_argb = 1;
        picture.width = width;
        picture.height = height;
        check(WebPPictureAlloc(&picture) != 0, "WebPPictureAlloc");
        for (int i = 0; i < width * height; ++i) picture.argb[i] = colour;
        const bool added = WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config) != 0;
        WebPPictureFree(&picture);
        check(added, "WebPAnimEncoderAdd");
        timestamp += 100;
    }
    check(WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr) != 0, "WebPAnimEncoderAdd");
    WebPData webp;
    WebPDataInit(&webp);
    check(WebPAnimEncoderAssemble(encoder.get(), &webp) != 0, "WebPAnimEncoderAssemble");
    std::string file = bytesOf(webp.bytes, webp.size);
    WebPDataClear(&webp);
    return file;
}

namespace {

// A GIF89a of one colour map, whose frames `putFrames` writes.
std::string encodeGif(int width, int height, const std::vector<std::uint32_t>& colours,
                      const std::function<bool(GifFileType*)>& putFrames) {
    std::string file;
    auto write = [](GifFileType* gif, const GifByteType* data, int length) {
        static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
        return length;
    };
    int error = 0;
    GifFileType* gif = EGifOpen(&file, write, &error);
    check(gif != nullptr, "EGifOpen");
    // A colour map's size is a power of two.
    int size = 2;
    while (size < static_cast<int>(colours.size())) size *= 2;
    const std::unique_ptr<ColorMapObject, void (*)(ColorMapObject*)> map(GifMakeMapObject(size, nullptr),
                                                                         &GifFreeMapObject);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        map->Colors[i] = {channel(colours[i], 16), channel(colours[i], 8), channel(colours[i], 0)};
    }
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map.get()) == GIF_OK && putFrames(gif);
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    check(ok, "giflib's encoder");
    return file;
}

}  // namespace

std::string gifFile(int width, int height, const std::vector<std::uint32_t>& frames) {
    return encodeGif(width, height, frames, [&](GifFileType* gif) {
        std::vector<GifPixelType> row(static_cast<std::size_t>(width));
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) != GIF_OK) return false;
            std::fill(row.begin(), row.end(), static_cast<GifPixelType>(i));
            for (int y = 0; y < height; ++y) {
                if (EGifPutLine(gif, row.data(), width) != GIF_OK) return false;
            }
        }
        return true;
    });
}

std::string gifStripes(int width, int height, const std::vector<std::uint32_t>& colours, bool interlaced) {
    return encodeGif(width, height, colours, [&](GifFileType* gif) {
        if (EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr) != GIF_OK) return false;
        // The encoder writes rows in the order given: an interlaced frame's
        // are every eighth from 0, every eighth from 4, every fourth from 2,
        // then every second from 1.
        std::vector<int> rows;
        const std::vector<std::pair<int, int>> passes =
            interlaced ? std::vector<std::pair<int, int>>{{0, 8}, {4, 8}, {2, 4}, {1, 2}}
                       : std::vector<std::pair<int, int>>{{0, 1}};
        for (const auto& [first, step] : passes) {
            for (int y = first; y < height; y += step) rows.push_back(y);
        }
        std::vector<GifPixelType> row(static_cast<std::size_t>(width));
        for (const int y : rows) {
            std::fill(row.begin(), row.end(), static_cast<GifPixelType>(y % static_cast<int>(colours.size())));
            if (EGifPutLine(gif, row.data(), width) != GIF_OK) return false;
        }
        return true;
    });
}

}  // namespace ambrell::test

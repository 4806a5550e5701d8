#include "platform/ImageDecoders.h"

#include <turbojpeg.h>

#include <bit>
#include <memory>

// TurboJPEG rather than libjpeg's own interface: it keeps libjpeg's
// setjmp/longjmp error exits inside the library, where no destructor of ours
// can be jumped over, and answers every failure as a return code.
namespace ambrell::platform::image_decoders {

namespace {

struct TurboJpegRelease {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// cairo's ARGB32 pixel is a native-endian word, alpha in the top byte: in
// memory B, G, R, A on a little-endian machine. A JPEG has no alpha, and
// TurboJPEG fills it opaque.
constexpr int kArgb32 = std::endian::native == std::endian::little ? TJPF_BGRA : TJPF_ARGB;

// libjpeg decodes a file cut short or a damaged scan with only a warning,
// filling what it lacks with grey. TurboJPEG answers a warning as a failure
// too, which refuses the half image; stopping at the first spares decoding
// the rest. The scan limit bounds the work a crafted progressive file asks.
constexpr int kFlags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;

}  // namespace

std::optional<Image> decodeJpeg(std::span<const std::byte> data, double scale) {
    const std::unique_ptr<void, TurboJpegRelease> decompressor(tjInitDecompress());
    if (!decompressor) return std::nullopt;
    const auto* jpeg = reinterpret_cast<const unsigned char*>(data.data());
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(decompressor.get(), jpeg, data.size(), &width, &height, &subsampling, &colourspace) != 0) {
        return std::nullopt;
    }
    auto image = Image::create(width, height, scale);
    if (!image) return std::nullopt;
    auto* pixels = reinterpret_cast<unsigned char*>(image->pixels().data());
    if (tjDecompress2(decompressor.get(), jpeg, data.size(), pixels, width, 0, height, kArgb32, kFlags) != 0) {
        return std::nullopt;
    }
    return image;
}

}  // namespace ambrell::platform::image_decoders

#include "platform/Image.h"

#include "platform/ImageDecoders.h"
#include "platform/ImageFormat.h"

namespace ambrell::platform {

std::optional<Image> Image::fromData(std::span<const std::byte> data, double scale) {
    switch (imageFormatOf(data)) {
        case ImageFormat::png: return fromPngData(data, scale);
        case ImageFormat::jpeg: return image_decoders::decodeJpeg(data, scale);
        case ImageFormat::webp: return image_decoders::decodeWebp(data, scale);
        case ImageFormat::gif: return image_decoders::decodeGif(data, scale);
        default: return std::nullopt;
    }
}

ImageFileReading readImageBytes(std::span<const std::byte> data, double scale) {
    ImageFileReading reading{.isImage = false, .decoded = Image::fromData(data, scale)};
    const auto format = imageFormatOf(data);
    reading.isImage = reading.decoded.has_value() || (format != ImageFormat::none && !isDecodable(format));
    return reading;
}

}  // namespace ambrell::platform

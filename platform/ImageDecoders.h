#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "platform/Image.h"

// The decoders Image::fromData chooses between by the file's signature, one a
// format, each in a file of its own (PNG is Image::fromPngData). Each answers
// none for bytes its library does not read to the end without complaint.
namespace ambrell::platform::image_decoders {

[[nodiscard]] std::optional<Image> decodeJpeg(std::span<const std::byte> data, double scale);
// A still image, or an animation's first frame.
[[nodiscard]] std::optional<Image> decodeWebp(std::span<const std::byte> data, double scale);
// The first frame, on the canvas the file declares.
[[nodiscard]] std::optional<Image> decodeGif(std::span<const std::byte> data, double scale);

}  // namespace ambrell::platform::image_decoders

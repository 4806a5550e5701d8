#pragma once

#include <cstddef>
#include <span>

namespace ambrell::platform {

// The image formats told apart by their first bytes. A body that starts as
// none of them (an HTML page, JSON, nothing) is `none`.
enum class ImageFormat { none, png, jpeg, webp, gif, svg, avif, heic, tiff, bmp, ico };

// The format the bytes start as; nothing past the signature is checked, so a
// file cut short or damaged still names its format.
[[nodiscard]] ImageFormat imageFormatOf(std::span<const std::byte> data);

// Whether Image::fromData decodes the format: PNG, JPEG, WebP and GIF. The
// others are recognised only, so that a file of theirs can be kept for a host
// that reads it itself.
[[nodiscard]] bool isDecodable(ImageFormat format);

}  // namespace ambrell::platform

#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zip/SSZipArchiveTypes.h"

namespace ambrell {

// The safe relative path of an entry name: backslashes become slashes and
// "." and ".." segments are resolved as in a URL path, a ".." at the top
// being dropped, so the result never climbs above the destination
// ("../../etc/x" gives "etc/x"). None when the name cannot be handled.
[[nodiscard]] std::optional<std::string> _sanitizedPath(std::string_view name);

// Whether the entry is a symbolic link: made on Unix with the link file type.
[[nodiscard]] bool _fileIsSymbolicLink(const unz_file_info& fileInfo);

// Two upper-case hexadecimal digits per byte, high half first.
[[nodiscard]] std::string _hexString(std::span<const std::uint8_t> bytes);

// Base64 with "-" and "_" in place of "+" and "/"; padding stays.
[[nodiscard]] std::string _base64RFC4648(std::span<const std::uint8_t> bytes);

}  // namespace ambrell

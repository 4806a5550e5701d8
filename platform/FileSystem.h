#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// File helpers the platform's file manager offers and std::filesystem lacks.
// None of them throws: failures come back as an error code or as none.
namespace ambrell::platform {

// Whether a path can be handed to the system as it is: it must not be empty
// nor hold a NUL byte, which the system would take as the end of the path
// and so act on another file.
[[nodiscard]] std::error_code validateSystemPath(const std::filesystem::path& path);

// The whole file; none when it is missing, unreadable or not a file.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> readFile(const std::filesystem::path& path);
// The file's bytes as text, without decoding.
[[nodiscard]] std::optional<std::string> readTextFile(const std::filesystem::path& path);

// Writes a sibling temporary file, flushes it to disk and renames it over the
// path, so that readers see the old contents or the new ones, never half a file.
// Creates the missing parent folders.
std::error_code writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text);

// Moves source to destination, replacing whatever is there (destination may
// be missing). Across file systems a file is copied, with its permissions
// and modification date, then the source is removed.
std::error_code replaceItem(const std::filesystem::path& destination, const std::filesystem::path& source);

// Symbolic links are followed.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> modificationDate(const std::filesystem::path& path);
// Nanosecond precision, dates before 1970 included; the access date is kept.
std::error_code setModificationDate(const std::filesystem::path& path, std::chrono::system_clock::time_point date);
// The same on a file already open as `descriptor`.
std::error_code setModificationDate(int descriptor, std::chrono::system_clock::time_point date);

// The mode bits (permissions, set-id and sticky bits: mode & 07777).
[[nodiscard]] std::optional<std::uint32_t> permissions(const std::filesystem::path& path);
// A mode with bits outside 07777 is refused.
std::error_code setPermissions(const std::filesystem::path& path, std::uint32_t mode);

}  // namespace ambrell::platform

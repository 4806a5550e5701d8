#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// Extended file attributes, in the "user." namespace Linux gives unprivileged
// programs. Names are the platform's ("com.corvay.url"): the prefix is added
// unless the name already carries it. Symbolic links are followed. Values
// are bytes; a std::string holds them as they are, NULs included.
namespace ambrell::platform {

// None when the file or the attribute is missing, or the value cannot be read.
[[nodiscard]] std::optional<std::string> getExtendedAttribute(const std::filesystem::path& path, std::string_view name);

// Creates the attribute or replaces its value.
std::error_code setExtendedAttribute(const std::filesystem::path& path, std::string_view name, std::string_view value);

// Removing an attribute that is not there succeeds.
std::error_code removeExtendedAttribute(const std::filesystem::path& path, std::string_view name);

// The same two on a file already open as `descriptor`, which saves the path
// look-up of each call when several attributes are written at once.
std::error_code setExtendedAttribute(int descriptor, std::string_view name, std::string_view value);
std::error_code removeExtendedAttribute(int descriptor, std::string_view name);

// The names of the file's "user." attributes, without the prefix; empty when
// the file is missing.
[[nodiscard]] std::vector<std::string> listExtendedAttributes(const std::filesystem::path& path);

}  // namespace ambrell::platform

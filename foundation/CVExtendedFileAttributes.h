#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What a cached file is (where and when it was fetched, what it answers) is
// kept on the file itself as extended attributes, so it travels with the file
// through renames and needs no index beside it. Values are UTF-8 text without
// a terminator. None of these functions throws.
namespace ambrell {

// The attribute names stored on cached files; they are a stored format and
// never change.
inline constexpr std::string_view CVFileAttributeLastModified = "com.corvay.last-modified";
inline constexpr std::string_view CVFileAttributeDownloadUrl = "com.corvay.url";
inline constexpr std::string_view CVFileAttributeDownloadDate = "com.corvay.download-date";
inline constexpr std::string_view CVFileAttributeContentLanguage = "com.corvay.content-language";
inline constexpr std::string_view CVFileAttributeCachingScope = "com.corvay.cachings-scope";
inline constexpr std::string_view CVFileAttributeApiEndpoint = "com.corvay.api-endpoint";

// Raw accessors.

// None for an empty name, a missing file or attribute, an empty value, or a
// value that is not UTF-8 text.
[[nodiscard]] std::optional<std::string> xattr_valueForAttribute(const std::filesystem::path& path,
                                                                 std::string_view name);
// Removes the attribute, then writes the value when one is given. Without a
// value the result is whether the removal succeeded, so setting nothing
// clears the attribute. False for an empty name.
bool xattr_setValue(const std::filesystem::path& path, std::optional<std::string_view> value, std::string_view name);
// The same on a file already open as `descriptor`, for writing several
// attributes with one path look-up.
bool xattr_setValue(int descriptor, std::optional<std::string_view> value, std::string_view name);
// True also when the attribute was not there.
bool xattr_removeAttribute(const std::filesystem::path& path, std::string_view name);

// Typed accessors of the attributes above. Every setter given nothing clears
// its attribute, and returns whether the file now holds what was asked.

// HTTP-date text, sent back as If-Modified-Since.
[[nodiscard]] std::optional<std::string> xattr_lastModified(const std::filesystem::path& path);
bool xattr_setLastModified(const std::filesystem::path& path, std::optional<std::string_view> value);

[[nodiscard]] std::optional<std::string> xattr_downloadUrl(const std::filesystem::path& path);
bool xattr_setDownloadUrl(const std::filesystem::path& path, std::optional<std::string_view> value);

// Stored as the whole seconds since 1970 (the fraction dropped). A date before
// 1970 has no such form and is refused: false, and the stored date stays. A
// stored text that is not a whole number, or one beyond the dates the clock
// can hold, reads as none.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> xattr_downloadDate(
    const std::filesystem::path& path);
bool xattr_setDownloadDate(const std::filesystem::path& path,
                           std::optional<std::chrono::system_clock::time_point> value);
bool xattr_setDownloadDate(int descriptor, std::optional<std::chrono::system_clock::time_point> value);

[[nodiscard]] std::optional<std::string> xattr_contentLanguage(const std::filesystem::path& path);
bool xattr_setContentLanguage(const std::filesystem::path& path, std::optional<std::string_view> value);

// Decimal text; a stored text that is not a 64-bit whole number reads as none.
[[nodiscard]] std::optional<std::int64_t> xattr_cachingScope(const std::filesystem::path& path);
bool xattr_setCachingScope(const std::filesystem::path& path, std::optional<std::int64_t> value);

// The URL path of the request the file answers.
[[nodiscard]] std::optional<std::string> xattr_apiEndpoint(const std::filesystem::path& path);
bool xattr_setApiEndpoint(const std::filesystem::path& path, std::optional<std::string_view> value);

}  // namespace ambrell

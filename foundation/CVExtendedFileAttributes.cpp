#include "foundation/CVExtendedFileAttributes.h"

#include <charconv>
#include <string>

#include "platform/ExtendedAttributes.h"
#include "platform/TextEncoding.h"

namespace ambrell {

namespace {

using Clock = std::chrono::system_clock;

// The text must be the whole number and nothing else: a value some other
// writer left half-written or padded is not taken for a different number.
std::optional<std::int64_t> parseInteger(std::string_view text) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// The stored text of a download date; none for a date before 1970.
std::optional<std::string> downloadDateAttributeText(Clock::time_point value) {
    // duration_cast truncates toward zero, which drops the fraction.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(value.time_since_epoch()).count();
    if (seconds < 0) return std::nullopt;
    return std::to_string(static_cast<std::uint64_t>(seconds));
}

}  // namespace

std::optional<std::string> xattr_valueForAttribute(const std::filesystem::path& path, std::string_view name) {
    if (name.empty()) return std::nullopt;
    auto value = platform::getExtendedAttribute(path, name);
    if (!value || value->empty() || !platform::isValidUTF8(*value)) return std::nullopt;
    return value;
}

bool xattr_setValue(const std::filesystem::path& path, std::optional<std::string_view> value, std::string_view name) {
    if (name.empty()) return false;
    // Removed first so that a failed write leaves no stale value behind that
    // would be taken for the new one.
    const bool removed = xattr_removeAttribute(path, name);
    if (!value) return removed;
    return !platform::setExtendedAttribute(path, name, *value);
}

bool xattr_setValue(int descriptor, std::optional<std::string_view> value, std::string_view name) {
    if (name.empty()) return false;
    // Removed first, as on a path.
    const bool removed = !platform::removeExtendedAttribute(descriptor, name);
    if (!value) return removed;
    return !platform::setExtendedAttribute(descriptor, name, *value);
}

bool xattr_removeAttribute(const std::filesystem::path& path, std::string_view name) {
    if (name.empty()) return false;
    return !platform::removeExtendedAttribute(path, name);
}

std::optional<std::string> xattr_lastModified(const std::filesystem::path& path) {
    return xattr_valueForAttribute(path, CVFileAttributeLastModified);
}

bool xattr_setLastModified(const std::filesystem::path& path, std::optional<std::string_view> value) {
    return xattr_setValue(path, value, CVFileAttributeLastModified);
}

std::optional<std::string> xattr_downloadUrl(const std::filesystem::path& path) {
    return xattr_valueForAttribute(path, CVFileAttributeDownloadUrl);
}

bool xattr_setDownloadUrl(const std::filesystem::path& path, std::optional<std::string_view> value) {
    return xattr_setValue(path, value, CVFileAttributeDownloadUrl);
}

std::optional<Clock::time_point> xattr_downloadDate(const std::filesystem::path& path) {
    const auto text = xattr_valueForAttribute(path, CVFileAttributeDownloadDate);
    if (!text) return std::nullopt;
    const auto seconds = parseInteger(*text);
    if (!seconds) return std::nullopt;
    // The clock counts in nanoseconds: seconds beyond its few centuries
    // would overflow when converted.
    using std::chrono::duration_cast;
    constexpr auto kLatest = duration_cast<std::chrono::seconds>(Clock::duration::max()).count();
    constexpr auto kEarliest = duration_cast<std::chrono::seconds>(Clock::duration::min()).count();
    if (*seconds > kLatest || *seconds < kEarliest) return std::nullopt;
    return Clock::time_point(duration_cast<Clock::duration>(std::chrono::seconds(*seconds)));
}

bool xattr_setDownloadDate(const std::filesystem::path& path, std::optional<Clock::time_point> value) {
    if (!value) return xattr_setValue(path, std::nullopt, CVFileAttributeDownloadDate);
    const auto text = downloadDateAttributeText(*value);
    return text && xattr_setValue(path, *text, CVFileAttributeDownloadDate);
}

bool xattr_setDownloadDate(int descriptor, std::optional<Clock::time_point> value) {
    if (!value) return xattr_setValue(descriptor, std::nullopt, CVFileAttributeDownloadDate);
    const auto text = downloadDateAttributeText(*value);
    return text && xattr_setValue(descriptor, *text, CVFileAttributeDownloadDate);
}

std::optional<std::string> xattr_contentLanguage(const std::filesystem::path& path) {
    return xattr_valueForAttribute(path, CVFileAttributeContentLanguage);
}

bool xattr_setContentLanguage(const std::filesystem::path& path, std::optional<std::string_view> value) {
    return xattr_setValue(path, value, CVFileAttributeContentLanguage);
}

std::optional<std::int64_t> xattr_cachingScope(const std::filesystem::path& path) {
    const auto text = xattr_valueForAttribute(path, CVFileAttributeCachingScope);
    if (!text) return std::nullopt;
    return parseInteger(*text);
}

bool xattr_setCachingScope(const std::filesystem::path& path, std::optional<std::int64_t> value) {
    if (!value) return xattr_setValue(path, std::nullopt, CVFileAttributeCachingScope);
    return xattr_setValue(path, std::to_string(*value), CVFileAttributeCachingScope);
}

std::optional<std::string> xattr_apiEndpoint(const std::filesystem::path& path) {
    return xattr_valueForAttribute(path, CVFileAttributeApiEndpoint);
}

bool xattr_setApiEndpoint(const std::filesystem::path& path, std::optional<std::string_view> value) {
    return xattr_setValue(path, value, CVFileAttributeApiEndpoint);
}

}  // namespace ambrell

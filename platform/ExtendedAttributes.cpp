#include "platform/ExtendedAttributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <climits>

#include "platform/FileDescriptor.h"
#include "platform/FileSystem.h"

namespace ambrell::platform {

namespace {

constexpr std::string_view kUserNamespace = "user.";

// A value or a name list can change size between the size query and the
// read (ERANGE); a writer racing forever is unlikely, but the loop is bounded.
constexpr int kReadAttempts = 16;

// The attribute's full name, or an error for a name the kernel would refuse
// or misread: empty, NUL inside (the kernel would stop there), or longer than
// XATTR_NAME_MAX (the kernel reports ERANGE, which would read as a race).
std::error_code systemName(std::string_view name, std::string& fullName) {
    fullName = name.starts_with(kUserNamespace) ? std::string(name) : std::string(kUserNamespace) + std::string(name);
    if (fullName.size() == kUserNamespace.size() || fullName.find('\0') != std::string::npos) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    if (fullName.size() > XATTR_NAME_MAX) return std::make_error_code(std::errc::filename_too_long);
    return {};
}

// Runs a size query then a read into a buffer of that size, again while the
// size changes in between.
template <typename Query>
std::optional<std::string> readSized(Query&& query) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const auto size = query(nullptr, 0);
        if (size < 0) return std::nullopt;
        if (size == 0) return std::string();
        std::string buffer(static_cast<std::size_t>(size), '\0');
        const auto got = query(buffer.data(), buffer.size());
        if (got >= 0) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer;
        }
        if (errno != ERANGE) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> getExtendedAttribute(const std::filesystem::path& path, std::string_view name) {
    std::string fullName;
    if (validateSystemPath(path) || systemName(name, fullName)) return std::nullopt;
    return readSized(
        [&](char* buffer, std::size_t size) { return ::getxattr(path.c_str(), fullName.c_str(), buffer, size); });
}

std::error_code setExtendedAttribute(const std::filesystem::path& path, std::string_view name, std::string_view value) {
    std::string fullName;
    if (auto error = validateSystemPath(path)) return error;
    if (auto error = systemName(name, fullName)) return error;
    if (::setxattr(path.c_str(), fullName.c_str(), value.data(), value.size(), 0) != 0)
        return detail::lastSystemError();
    return {};
}

std::error_code removeExtendedAttribute(const std::filesystem::path& path, std::string_view name) {
    std::string fullName;
    if (auto error = validateSystemPath(path)) return error;
    if (auto error = systemName(name, fullName)) return error;
    if (::removexattr(path.c_str(), fullName.c_str()) != 0 && errno != ENODATA) return detail::lastSystemError();
    return {};
}

std::error_code setExtendedAttribute(int descriptor, std::string_view name, std::string_view value) {
    std::string fullName;
    if (auto error = systemName(name, fullName)) return error;
    if (::fsetxattr(descriptor, fullName.c_str(), value.data(), value.size(), 0) != 0) return detail::lastSystemError();
    return {};
}

std::error_code removeExtendedAttribute(int descriptor, std::string_view name) {
    std::string fullName;
    if (auto error = systemName(name, fullName)) return error;
    if (::fremovexattr(descriptor, fullName.c_str()) != 0 && errno != ENODATA) return detail::lastSystemError();
    return {};
}

std::vector<std::string> listExtendedAttributes(const std::filesystem::path& path) {
    std::vector<std::string> names;
    if (validateSystemPath(path)) return names;
    const auto list =
        readSized([&](char* buffer, std::size_t size) { return ::listxattr(path.c_str(), buffer, size); });
    if (!list) return names;
    // The kernel's list is NUL-terminated names, one after the other.
    std::string_view remaining(*list);
    while (!remaining.empty()) {
        const auto end = remaining.find('\0');
        const auto fullName = remaining.substr(0, end);
        if (fullName.starts_with(kUserNamespace) && fullName.size() > kUserNamespace.size()) {
            names.emplace_back(fullName.substr(kUserNamespace.size()));
        }
        if (end == std::string_view::npos) break;
        remaining.remove_prefix(end + 1);
    }
    return names;
}

}  // namespace ambrell::platform

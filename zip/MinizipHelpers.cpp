#include "zip/MinizipHelpers.h"

#include <algorithm>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace ambrell {

namespace {

bool isPosixSystem(std::uint8_t system) { return system == MZ_HOST_SYSTEM_UNIX || system == MZ_HOST_SYSTEM_OSX_DARWIN; }
bool isDosSystem(std::uint8_t system) {
    return system == MZ_HOST_SYSTEM_MSDOS || system == MZ_HOST_SYSTEM_WINDOWS_NTFS;
}

}  // namespace

std::uint32_t mz_zip_tm_to_dosdate(const std::tm& ptm) {
    const long year = static_cast<long>(ptm.tm_year) + 1900;
    if (year < 1980) return (1u << 21) | (1u << 16);
    if (year > 2107) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    const auto clamp = [](int value, int low, int high) {
        return static_cast<std::uint32_t>(std::clamp(value, low, high));
    };
    return (static_cast<std::uint32_t>(year - 1980) << 25) | (clamp(ptm.tm_mon + 1, 1, 12) << 21) |
           (clamp(ptm.tm_mday, 1, 31) << 16) | (clamp(ptm.tm_hour, 0, 23) << 11) | (clamp(ptm.tm_min, 0, 59) << 5) |
           (clamp(ptm.tm_sec, 0, 59) / 2);
}

bool mz_os_is_symlink(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::optional<std::string> mz_os_read_symlink(const std::filesystem::path& path, std::size_t maxLength) {
    std::vector<char> buffer(maxLength + 1);
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0 || static_cast<std::size_t>(length) > maxLength) return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::optional<std::uint32_t> mz_os_get_file_attribs(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint32_t>(info.st_mode);
}

std::optional<std::uint32_t> mz_zip_attrib_convert(std::uint8_t sourceSystem, std::uint32_t sourceAttributes,
                                                   std::uint8_t targetSystem) {
    if ((isPosixSystem(sourceSystem) && isPosixSystem(targetSystem)) ||
        (isDosSystem(sourceSystem) && isDosSystem(targetSystem))) {
        return sourceAttributes;
    }
    if (isPosixSystem(sourceSystem) && isDosSystem(targetSystem)) {
        std::uint32_t attributes = 0;
        if ((sourceAttributes & S_IWUSR) == 0) attributes |= MZ_MSDOS_ATTRIB_READONLY;
        if (S_ISDIR(sourceAttributes)) attributes |= MZ_MSDOS_ATTRIB_DIRECTORY;
        return attributes;
    }
    if (isDosSystem(sourceSystem) && isPosixSystem(targetSystem)) {
        std::uint32_t mode = (sourceAttributes & MZ_MSDOS_ATTRIB_DIRECTORY) ? (S_IFDIR | 0755u) : (S_IFREG | 0644u);
        if (sourceAttributes & MZ_MSDOS_ATTRIB_READONLY) mode &= ~0222u;
        return mode;
    }
    return std::nullopt;
}

}  // namespace ambrell

#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

// The few file-system and format helpers of minizip-ng that archive creation
// relies on, which classic minizip does not have.
namespace ambrell {

// Host systems of the zip format's "version made by" high byte.
inline constexpr std::uint8_t MZ_HOST_SYSTEM_MSDOS = 0;
inline constexpr std::uint8_t MZ_HOST_SYSTEM_UNIX = 3;
inline constexpr std::uint8_t MZ_HOST_SYSTEM_WINDOWS_NTFS = 10;
inline constexpr std::uint8_t MZ_HOST_SYSTEM_OSX_DARWIN = 19;

// MS-DOS attribute bits.
inline constexpr std::uint32_t MZ_MSDOS_ATTRIB_READONLY = 0x01;
inline constexpr std::uint32_t MZ_MSDOS_ATTRIB_DIRECTORY = 0x10;

// The MS-DOS date and time (date in the high 16 bits) of a broken-down local
// time. The format covers 1980 to 2107: earlier times become the first
// moment of 1980, later ones the last of 2107.
[[nodiscard]] std::uint32_t mz_zip_tm_to_dosdate(const std::tm& ptm);

// Whether the path itself (not what it points to) is a symbolic link.
[[nodiscard]] bool mz_os_is_symlink(const std::filesystem::path& path);
// The link's target; none when the path is no link or the target is longer
// than maxLength bytes.
[[nodiscard]] std::optional<std::string> mz_os_read_symlink(const std::filesystem::path& path,
                                                            std::size_t maxLength = 1024);
// The item's POSIX mode (type and permission bits), of a link itself.
[[nodiscard]] std::optional<std::uint32_t> mz_os_get_file_attribs(const std::filesystem::path& path);
// Converts attributes between host systems (POSIX modes for Unix and Darwin,
// attribute bits for MS-DOS and NTFS); none for other systems.
[[nodiscard]] std::optional<std::uint32_t> mz_zip_attrib_convert(std::uint8_t sourceSystem,
                                                                 std::uint32_t sourceAttributes,
                                                                 std::uint8_t targetSystem);

}  // namespace ambrell

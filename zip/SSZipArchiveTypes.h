#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace ambrell {

inline constexpr std::string_view SSZipArchiveErrorDomain = "SSZipArchiveErrorDomain";

// The codes of "SSZipArchiveErrorDomain". Codes −7 to −9 are ours: the
// failures they name only logged before, and now end an extraction.
enum SSZipArchiveErrorCode : std::int64_t {
    SSZipArchiveErrorCodeFailedOpenZipFile = -1,
    SSZipArchiveErrorCodeFailedOpenFileInZip = -2,
    SSZipArchiveErrorCodeFileInfoNotLoadable = -3,
    SSZipArchiveErrorCodeFileContentNotReadable = -4,
    SSZipArchiveErrorCodeFailedToWriteFile = -5,
    SSZipArchiveErrorCodeInvalidArguments = -6,
    SSZipArchiveErrorCodeFailedToCreateFolder = -7,
    SSZipArchiveErrorCodeFailedToOpenOutputFile = -8,
    SSZipArchiveErrorCodeSymbolicLinkOutsideDestination = -9,
};

// The archive's global information record.
struct unz_global_info {
    std::uint64_t number_entry = 0;
    std::uint32_t number_disk_with_CD = 0;
    std::uint16_t size_comment = 0;
};

// One entry's information record, as its central directory header holds it.
struct unz_file_info {
    std::uint16_t version = 0;  // version made by: the high byte is the host system
    std::uint16_t version_needed = 0;
    std::uint16_t flag = 0;
    std::uint16_t compression_method = 0;
    std::uint32_t dos_date = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    std::uint16_t size_filename = 0;
    std::uint16_t size_file_extra = 0;
    std::uint16_t size_file_comment = 0;
    std::uint32_t disk_num_start = 0;
    std::uint16_t internal_fa = 0;
    std::uint32_t external_fa = 0;
};

// What an entry being written records besides its name and data.
struct zip_fileinfo {
    std::uint32_t dos_date = 0;
    std::uint16_t internal_fa = 0;
    std::uint32_t external_fa = 0;
};

// An error out-parameter: null when the caller does not want the error.
using SSZipArchiveErrorOut = std::optional<platform::NSError>*;

// Per extracted entry: its sanitised relative path, its record, its number
// and the number of entries.
using SSZipArchiveProgressHandler =
    std::function<void(const std::string& entry, const unz_file_info& zipInfo, long entryNumber, long total)>;
// Once per extraction: the archive path (none for the failures before the
// archive is open), whether it succeeded, and the error.
using SSZipArchiveCompletionHandler = std::function<void(const std::optional<std::string>& path, bool succeeded,
                                                         const std::optional<platform::NSError>& error)>;
// Archive creation: entries done, entries in total.
using SSZipArchiveCreationProgressHandler = std::function<void(std::uint64_t entryNumber, std::uint64_t total)>;

}  // namespace ambrell

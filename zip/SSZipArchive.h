#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zip/SSZipArchiveDelegate.h"
#include "zip/SSZipArchiveTypes.h"

namespace ambrell {

// Zip archives: unpacking into a folder (class operations), writing an
// archive entry by entry (an object), packing files or a folder tree, and
// queries on an existing archive.
//
// Extraction is safe against hostile archives: entry names cannot climb out
// of the destination, symbolic links that lead out of it are refused, no file
// or folder is ever created through a link, and set-id bits are not applied.
// Passwords protect entries with WinZip AES (the default) or the traditional
// PKWARE encryption; both are read.
//
// Every entry is written beside its target under a temporary name and takes
// the target's name only when its size, CRC and authentication code checked
// out, so a failed entry never truncates or replaces a file already there.
// An extraction stops at its first failure and reports that one; entries
// already in place stay. Archives of any size are read: zip64 records and
// fields, and more than 65,535 entries whatever their 16-bit count says; an
// entry list whose count no wrap explains fails with -2 "failed to open first
// file in zip file" before anything is written. Besides the codes of
// "SSZipArchiveErrorDomain", extraction reports a folder that cannot be made
// for want of space as "NSCocoaErrorDomain" 640, and an output file that
// cannot be made for want of descriptors or space as "NSPOSIXErrorDomain" 24
// or 28; a folder where a file goes is left alone.
class SSZipArchive {
public:
    // ---- Extraction. Every form returns YES on success.

    static bool unzipFileAtPath(const std::string& path, const std::string& destination);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination,
                                SSZipArchiveDelegate* delegate);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                const std::optional<std::string>& password, SSZipArchiveErrorOut error);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                const std::optional<std::string>& password, SSZipArchiveErrorOut error,
                                SSZipArchiveDelegate* delegate);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                const std::optional<std::string>& password,
                                const SSZipArchiveProgressHandler& progressHandler,
                                const SSZipArchiveCompletionHandler& completionHandler);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination,
                                const SSZipArchiveProgressHandler& progressHandler,
                                const SSZipArchiveCompletionHandler& completionHandler);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool preserveAttributes,
                                bool overwrite, const std::optional<std::string>& password, SSZipArchiveErrorOut error,
                                SSZipArchiveDelegate* delegate);
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool preserveAttributes,
                                bool overwrite, const std::optional<std::string>& password, SSZipArchiveErrorOut error,
                                SSZipArchiveDelegate* delegate, const SSZipArchiveProgressHandler& progressHandler,
                                const SSZipArchiveCompletionHandler& completionHandler);
    // The worker behind all of them. With a nested level above 0, zip files
    // found in the archive are unpacked where they lie (one level less each
    // time) and removed; levels below 0 count as 0.
    static bool unzipFileAtPath(const std::string& path, const std::string& destination, bool preserveAttributes,
                                bool overwrite, int nestedZipLevel, const std::optional<std::string>& password,
                                SSZipArchiveErrorOut error, SSZipArchiveDelegate* delegate,
                                const SSZipArchiveProgressHandler& progressHandler,
                                const SSZipArchiveCompletionHandler& completionHandler);

    // ---- Queries on an existing archive.

    static bool isFilePasswordProtectedAtPath(const std::string& path);
    static bool isPasswordValidForArchiveAtPath(const std::string& path, const std::string& password,
                                                SSZipArchiveErrorOut error);
    static std::uint64_t payloadSizeForArchiveAtPath(const std::string& path, SSZipArchiveErrorOut error);

    // ---- Packing. Each returns YES only when every write and the final close succeeded.

    static bool createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths);
    static bool createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
                                    const std::optional<std::string>& password);
    static bool createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
                                    const std::optional<std::string>& password,
                                    const SSZipArchiveCreationProgressHandler& progressHandler);
    static bool createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
                                    const std::optional<std::string>& password, bool keepSymlinks);

    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath);
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                    const std::optional<std::string>& password);
    // A string literal would otherwise convert to bool and pick keepParentDirectory.
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath, const char* password);
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                    bool keepParentDirectory);
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath, bool keepParentDirectory,
                                    const std::optional<std::string>& password);
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath, bool keepParentDirectory,
                                    const std::optional<std::string>& password,
                                    const SSZipArchiveCreationProgressHandler& progressHandler);
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath, bool keepParentDirectory,
                                    int compressionLevel, const std::optional<std::string>& password, bool aes,
                                    const SSZipArchiveCreationProgressHandler& progressHandler);
    static bool createZipFileAtPath(const std::string& path, const std::string& directoryPath, bool keepParentDirectory,
                                    int compressionLevel, const std::optional<std::string>& password, bool aes,
                                    const SSZipArchiveCreationProgressHandler& progressHandler, bool keepSymlinks);

    // ---- Writing an archive entry by entry.

    // Keeps the path; does not open anything.
    explicit SSZipArchive(std::string path);
    SSZipArchive() = delete;
    // An archive still open is closed.
    ~SSZipArchive();
    SSZipArchive(const SSZipArchive&) = delete;
    SSZipArchive& operator=(const SSZipArchive&) = delete;

    // Misuse (opening twice, writing or closing what was never opened)
    // throws std::logic_error.
    bool open();
    bool openForAppending();
    bool writeFolderAtPath(const std::string& path, const std::string& folderName,
                           const std::optional<std::string>& password);
    bool writeFile(const std::string& path, const std::optional<std::string>& password);
    bool writeFileAtPath(const std::string& path, const std::optional<std::string>& fileName,
                         const std::optional<std::string>& password);
    bool writeFileAtPath(const std::string& path, const std::optional<std::string>& fileName, int compressionLevel,
                         const std::optional<std::string>& password, bool aes);
    bool writeSymlinkFileAtPath(const std::string& path, const std::optional<std::string>& fileName,
                                int compressionLevel, const std::optional<std::string>& password, bool aes);
    bool writeData(const std::optional<std::vector<std::uint8_t>>& data, const std::string& filename,
                   const std::optional<std::string>& password);
    bool writeData(const std::optional<std::vector<std::uint8_t>>& data, const std::string& filename,
                   int compressionLevel, const std::optional<std::string>& password, bool aes);
    bool close();

    // ---- Helpers.

    // Fills the record's date and external attributes from the item (the
    // permissions with the regular-file type, in the high 16 bits).
    static void zipInfo(zip_fileinfo& zipInfo, const std::string& setAttributesOfItemAtPath);
    // The record's DOS date from a date, in the local time zone.
    static void zipInfo(zip_fileinfo& zipInfo, std::chrono::system_clock::time_point setDate);
    // An entry name's bytes (up to the first NUL or size) as text: code page
    // 437 for MS-DOS names without the UTF-8 flag, else UTF-8, else hexadecimal.
    static std::string _filenameStringWithCString(const char* filename, std::uint16_t versionMadeBy,
                                                  std::uint16_t generalPurposeFlag, std::size_t size);
    // An MS-DOS date and time, in the local time zone; out-of-range parts roll over.
    static std::chrono::system_clock::time_point _dateWithMSDOSFormat(std::uint32_t msdosDateTime);

    // The Gregorian calendar in the local time zone that all date conversions
    // share. The C library's conversions reload the time zone under a lock
    // that race detectors cannot see, so they are made one at a time here.
    class Calendar {
    public:
        [[nodiscard]] std::optional<std::tm> components(std::chrono::system_clock::time_point date) const;
        // Out-of-range components roll over into the next larger ones.
        [[nodiscard]] std::chrono::system_clock::time_point date(std::tm components) const;

    private:
        mutable std::mutex mutex_;
    };
    static const Calendar& _gregorian();

private:
    [[nodiscard]] bool openWithMode(int mode);
    void requireOpen() const;
    bool writeEntry(const std::string& name, const zip_fileinfo& info, int level,
                    const std::optional<std::string>& password, bool aes, bool symlink,
                    const std::vector<std::uint8_t>* data, const std::string* sourcePath);

    std::string _path;
    void* _zip = nullptr;
    bool wroteAes_ = false;
};

}  // namespace ambrell

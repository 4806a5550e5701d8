#pragma once

#include <cstdint>
#include <string>

#include "zip/SSZipArchiveTypes.h"

namespace ambrell {

// What an extraction tells its delegate. Every callback is optional: the
// defaults do nothing, answer YES to "should", and let the entry-record form
// of zipArchiveDidUnzipFileAtIndex fall back to the path form, so a delegate
// overrides one of the two. Callbacks run on the extracting thread.
class SSZipArchiveDelegate {
public:
    virtual ~SSZipArchiveDelegate() = default;

    virtual void zipArchiveWillUnzipArchiveAtPath(const std::string& path, const unz_global_info& zipInfo);
    virtual void zipArchiveDidUnzipArchiveAtPath(const std::string& path, const unz_global_info& zipInfo,
                                                 const std::string& unzippedPath);

    virtual bool zipArchiveShouldUnzipFileAtIndex(long fileIndex, long totalFiles, const std::string& archivePath,
                                                  const unz_file_info& fileInfo);
    virtual void zipArchiveWillUnzipFileAtIndex(long fileIndex, long totalFiles, const std::string& archivePath,
                                                const unz_file_info& fileInfo);
    virtual void zipArchiveDidUnzipFileAtIndex(long fileIndex, long totalFiles, const std::string& archivePath,
                                               const unz_file_info& fileInfo);
    virtual void zipArchiveDidUnzipFileAtIndex(long fileIndex, long totalFiles, const std::string& archivePath,
                                               const std::string& unzippedFilePath);

    virtual void zipArchiveProgressEvent(std::uint64_t loaded, std::uint64_t total);
};

// Sends the "did unzip file" callback in the form the delegate implements.
void sendDidUnzipFile(SSZipArchiveDelegate& delegate, long fileIndex, long totalFiles, const std::string& archivePath,
                      const unz_file_info& fileInfo, const std::string& unzippedFilePath);

}  // namespace ambrell

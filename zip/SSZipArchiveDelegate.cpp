#include "zip/SSZipArchiveDelegate.h"

namespace ambrell {

namespace {
// The full output path of the entry being reported, for the fallback.
thread_local const std::string* unzippedPathOfEntry = nullptr;
}  // namespace

void sendDidUnzipFile(SSZipArchiveDelegate& delegate, long fileIndex, long totalFiles, const std::string& archivePath,
                      const unz_file_info& fileInfo, const std::string& unzippedFilePath) {
    struct Restore {
        const std::string* previous;
        ~Restore() { unzippedPathOfEntry = previous; }
    } restore{unzippedPathOfEntry};
    unzippedPathOfEntry = &unzippedFilePath;
    delegate.zipArchiveDidUnzipFileAtIndex(fileIndex, totalFiles, archivePath, fileInfo);
}

void SSZipArchiveDelegate::zipArchiveWillUnzipArchiveAtPath(const std::string&, const unz_global_info&) {}

void SSZipArchiveDelegate::zipArchiveDidUnzipArchiveAtPath(const std::string&, const unz_global_info&,
                                                           const std::string&) {}

bool SSZipArchiveDelegate::zipArchiveShouldUnzipFileAtIndex(long, long, const std::string&, const unz_file_info&) {
    return true;
}

void SSZipArchiveDelegate::zipArchiveWillUnzipFileAtIndex(long, long, const std::string&, const unz_file_info&) {}

void SSZipArchiveDelegate::zipArchiveDidUnzipFileAtIndex(long fileIndex, long totalFiles,
                                                         const std::string& archivePath, const unz_file_info&) {
    // Reached only when a delegate lacks the record form: it hears of the
    // entry through the path form instead.
    if (unzippedPathOfEntry) zipArchiveDidUnzipFileAtIndex(fileIndex, totalFiles, archivePath, *unzippedPathOfEntry);
}

void SSZipArchiveDelegate::zipArchiveDidUnzipFileAtIndex(long, long, const std::string&, const std::string&) {}

void SSZipArchiveDelegate::zipArchiveProgressEvent(std::uint64_t, std::uint64_t) {}

}  // namespace ambrell

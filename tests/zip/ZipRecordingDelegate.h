#pragma once

#include <string>
#include <vector>

#include <fmt/format.h>

#include "zip/SSZipArchiveDelegate.h"

namespace ambrell::test {

// Writes down every callback as a line, in order; answers NO to "should"
// for one entry number when asked to.
class RecordingDelegate : public SSZipArchiveDelegate {
public:
    using SSZipArchiveDelegate::zipArchiveDidUnzipFileAtIndex;

    long refuseAt = -1;
    std::vector<std::string> events;

    void zipArchiveWillUnzipArchiveAtPath(const std::string&, const unz_global_info& info) override {
        events.push_back(fmt::format("willArchive {}", info.number_entry));
    }
    void zipArchiveDidUnzipArchiveAtPath(const std::string&, const unz_global_info&, const std::string&) override {
        events.push_back("didArchive");
    }
    bool zipArchiveShouldUnzipFileAtIndex(long index, long total, const std::string&, const unz_file_info&) override {
        events.push_back(fmt::format("should {}/{}", index, total));
        return index != refuseAt;
    }
    void zipArchiveWillUnzipFileAtIndex(long index, long, const std::string&, const unz_file_info&) override {
        events.push_back(fmt::format("will {}", index));
    }
    void zipArchiveDidUnzipFileAtIndex(long index, long, const std::string&, const unz_file_info&) override {
        events.push_back(fmt::format("did {}", index));
    }
    void zipArchiveProgressEvent(std::uint64_t loaded, std::uint64_t total) override {
        events.push_back(loaded == total ? "progress end" : loaded == 0 ? "progress 0" : "progress");
    }
};

// Implements only the path form of the "did unzip file" callback.
class PathDelegate : public SSZipArchiveDelegate {
public:
    using SSZipArchiveDelegate::zipArchiveDidUnzipFileAtIndex;
    std::vector<std::string> paths;

    void zipArchiveDidUnzipFileAtIndex(long, long, const std::string&, const std::string& unzippedPath) override {
        paths.push_back(unzippedPath);
    }
};

}  // namespace ambrell::test

#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"
#include "zip/SSZipArchive.h"
#include "zip/SSZipArchiveDelegate.h"

namespace ambrell::test {

namespace fs = std::filesystem;

// One entry of an archive that Python's zipfile builds for a test.
struct FixtureEntry {
    std::string name;
    std::string data{};
    std::uint32_t mode = 0100644;
    int year = 2021, month = 6, day = 15, hour = 10, minute = 20, second = 30;
    int system = 3;  // Unix
    bool deflate = true;

    static FixtureEntry file(std::string name, std::string data) { return {std::move(name), std::move(data)}; }
    static FixtureEntry folder(std::string name) { return {std::move(name), "", 040755}; }
    static FixtureEntry link(std::string name, std::string target) {
        return {std::move(name), std::move(target), 0120777};
    }
};

// Builds the archive with Python's zipfile, an implementation independent of ours.
void writeFixtureArchive(const fs::path& archive, const std::vector<FixtureEntry>& entries);

// An entry as Python's zipfile reads it.
struct PythonEntry {
    int method = 0;
    int flags = 0;
    std::uint32_t mode = 0;  // the high 16 bits of the external attributes
    int system = 0;
    std::optional<std::string> data;  // none for a method zipfile does not know
};

// The entries by name as Python's zipfile reads them, or none when it cannot
// read one of them (wrong password, bad CRC, not an archive).
std::optional<std::map<std::string, PythonEntry>> readWithPython(const fs::path& archive,
                                                                 const std::optional<std::string>& password = {});

inline std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }
std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, const std::string& contents);
// Expects each file under the folder to hold its contents.
void expectFiles(const fs::path& folder, const std::map<std::string, std::string>& contents);

// Where the first occurrence of the bytes is in the file.
std::size_t findInFile(const fs::path& path, const std::string& bytes);
void patchFile(const fs::path& path, std::size_t offset, const std::string& bytes);

// Text that deflate cannot shrink much, so its bytes show up in the archive.
std::string noisyText(std::size_t size, std::uint32_t seed);

// The local time of the components, as the archive stores them.
std::chrono::system_clock::time_point localTime(int year, int month, int day, int hour, int minute, int second);
std::chrono::system_clock::time_point modificationTime(const fs::path& path);
// The permission bits of the item itself (not of a link's target).
inline std::uint32_t modeOf(const fs::path& path) {
    return static_cast<std::uint32_t>(fs::symlink_status(path).permissions() & fs::perms::mask);
}

// A temp folder with an archive path, a tree to pack, and a destination in a
// box next to a folder outside it, so anything that escapes the destination
// shows up in the box or outside.
class ZipTest : public ::testing::Test {
protected:
    ZipTest() {
        fs::create_directories(box_);
        fs::create_directories(outside_);
    }

    bool unzip(bool overwrite = true, SSZipArchiveDelegate* delegate = nullptr) {
        return SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), overwrite, std::nullopt, &error_,
                                             delegate);
    }
    // The code of the error when it is one of SSZipArchiveErrorDomain; 0 for none or another domain.
    std::int64_t errorCode() const { return error_ && error_->domain == "SSZipArchiveErrorDomain" ? error_->code : 0; }

    // a.txt (0640), sub/b.txt (noisy) and an empty folder.
    void makeTree() {
        writeFile(tree_ / "a.txt", "alpha");
        writeFile(tree_ / "sub/b.txt", noisyText(40000, 5));
        fs::create_directories(tree_ / "empty");
        fs::permissions(tree_ / "a.txt", fs::perms(0640));
    }

    TempDirectory temp_{"ambrell-zip"};
    fs::path archive_ = temp_ / "archive.zip";
    const fs::path box_ = temp_ / "box";
    const fs::path destination_ = box_ / "out";
    const fs::path outside_ = temp_ / "outside";
    const fs::path tree_ = temp_ / "tree";
    std::optional<platform::NSError> error_;
    ScopedLogCapture logs_;
};

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

}  // namespace ambrell::test

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TempDirectory.h"
#include "tests/zip/ZipRecordingDelegate.h"
#include "tests/zip/ZipTestSupport.h"
#include "zip/SSZipArchive.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using test::FixtureEntry;

std::uint32_t modeOf(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

class Extraction : public ::testing::Test {
protected:
    test::TempDirectory temp_{"ambrell-zip"};
    const fs::path archive_ = temp_ / "archive.zip";
    const fs::path destination_ = temp_ / "out";

    bool unzip(std::optional<platform::NSError>* error = nullptr, bool overwrite = true,
               SSZipArchiveDelegate* delegate = nullptr) {
        return SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), overwrite, std::nullopt, error,
                                             delegate);
    }
};

TEST_F(Extraction, UnpacksFoldersAndFilesWithTheirContents) {
    auto stored = FixtureEntry::file("b.bin", std::string("\0\1\2binary", 9));
    stored.deflate = false;
    test::writeFixtureArchive(archive_, {FixtureEntry::folder("docs/"), FixtureEntry::file("docs/a.txt", "alpha"),
                                         stored, FixtureEntry::file("deep/x/y/z.txt", test::noisyText(100000, 1)),
                                         FixtureEntry::file("empty.txt", "")});

    std::optional<platform::NSError> error;
    ASSERT_TRUE(unzip(&error));
    EXPECT_EQ(error, std::nullopt);
    EXPECT_TRUE(fs::is_directory(destination_ / "docs"));
    EXPECT_EQ(test::readFile(destination_ / "docs/a.txt"), "alpha");
    EXPECT_EQ(test::readFile(destination_ / "b.bin"), std::string("\0\1\2binary", 9));
    EXPECT_EQ(test::readFile(destination_ / "deep/x/y/z.txt"), test::noisyText(100000, 1));
    EXPECT_EQ(test::readFile(destination_ / "empty.txt"), "");
}

TEST_F(Extraction, RestoresPermissionsAndModificationDates) {
    auto readOnly = FixtureEntry::file("read-only.txt", "r");
    readOnly.mode = 0100444;
    auto script = FixtureEntry::file("tool.sh", "#!/bin/sh");
    script.mode = 0100755;
    auto setuid = FixtureEntry::file("setuid", "s");
    setuid.mode = 0106755;
    auto folder = FixtureEntry::folder("dated/");
    folder.year = 2001;
    auto inside = FixtureEntry::file("dated/in.txt", "i");
    inside.year = 2019;
    inside.second = 46;
    test::writeFixtureArchive(archive_, {readOnly, script, setuid, folder, inside});

    ASSERT_TRUE(unzip());
    EXPECT_EQ(modeOf(destination_ / "read-only.txt"), 0644u) << "owner read and write are always added";
    EXPECT_EQ(modeOf(destination_ / "tool.sh"), 0755u);
    EXPECT_EQ(modeOf(destination_ / "setuid"), 0755u) << "set-id bits are never applied";
    // The folder got a file written into it after its date was set; the pass
    // after the loop puts the archive's date back.
    EXPECT_EQ(test::modificationTime(destination_ / "dated"), test::localTime(2001, 6, 15, 10, 20, 30));
    EXPECT_EQ(test::modificationTime(destination_ / "dated/in.txt"), test::localTime(2019, 6, 15, 10, 20, 46));
}

TEST_F(Extraction, WithoutAttributesKeepsTodaysDates) {
    auto old = FixtureEntry::file("old.txt", "o");
    old.year = 1999;
    test::writeFixtureArchive(archive_, {old});
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), false, true, std::nullopt,
                                              nullptr, nullptr));
    EXPECT_GT(test::modificationTime(destination_ / "old.txt"), test::localTime(2020, 1, 1, 0, 0, 0));
}

TEST_F(Extraction, AnEmptyArchiveSucceedsAndWritesNothing) {
    test::writeFixtureArchive(archive_, {});
    test::RecordingDelegate delegate;
    std::optional<platform::NSError> error;
    ASSERT_TRUE(unzip(&error, true, &delegate));
    EXPECT_EQ(error, std::nullopt);
    EXPECT_FALSE(fs::exists(destination_));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"willArchive 0", "progress 0", "didArchive", "progress end"}));

    SSZipArchive ours((temp_ / "ours.zip").string());
    ASSERT_TRUE(ours.open());
    ASSERT_TRUE(ours.close());
    EXPECT_TRUE(SSZipArchive::unzipFileAtPath((temp_ / "ours.zip").string(), destination_.string()));
    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath((temp_ / "ours.zip").string(), nullptr), 0u);
}

TEST_F(Extraction, ManyEntriesAreAllReportedInOrder) {
    std::vector<FixtureEntry> entries;
    for (int i = 0; i < 3000; ++i)
        entries.push_back(FixtureEntry::file(fmt::format("d{}/f{}.txt", i % 7, i), std::to_string(i)));
    test::writeFixtureArchive(archive_, entries);

    std::vector<long> numbers;
    std::optional<bool> completed;
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(
        archive_.string(), destination_.string(),
        [&](const std::string& entry, const unz_file_info&, long number, long total) {
            EXPECT_EQ(total, 3000);
            EXPECT_EQ(entry, fmt::format("d{}/f{}.txt", number % 7, number));
            numbers.push_back(number);
        },
        [&](const std::optional<std::string>& path, bool succeeded, const std::optional<platform::NSError>& error) {
            EXPECT_EQ(path, archive_.string());
            EXPECT_EQ(error, std::nullopt);
            completed = succeeded;
        }));
    ASSERT_EQ(numbers.size(), 3000u);
    for (long i = 0; i < 3000; ++i) ASSERT_EQ(numbers[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(completed, true);
    EXPECT_EQ(test::readFile(destination_ / "d3/f2999.txt"), "2999");
}

TEST_F(Extraction, OverwriteOffKeepsExistingFilesButHandlesFolders) {
    test::writeFixtureArchive(archive_, {FixtureEntry::folder("keep/"), FixtureEntry::file("keep/a.txt", "new"),
                                         FixtureEntry::file("fresh.txt", "fresh")});
    test::writeFile(destination_ / "keep/a.txt", "old");
    test::RecordingDelegate delegate;
    ASSERT_TRUE(unzip(nullptr, false, &delegate));
    EXPECT_EQ(test::readFile(destination_ / "keep/a.txt"), "old");
    EXPECT_EQ(test::readFile(destination_ / "fresh.txt"), "fresh");
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "did 0"), 1) << "the folder entry";
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "did 1"), 0) << "the kept file";
    EXPECT_EQ(std::count(delegate.events.begin(), delegate.events.end(), "did 2"), 1);

    ASSERT_TRUE(unzip(nullptr, true));
    EXPECT_EQ(test::readFile(destination_ / "keep/a.txt"), "new");
}

TEST_F(Extraction, DelegateHearsEveryStepInOrder) {
    test::writeFixtureArchive(archive_, {FixtureEntry::file("a.txt", "a"), FixtureEntry::file("b.txt", "b")});
    test::RecordingDelegate delegate;
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), &delegate));
    EXPECT_EQ(delegate.events,
              (std::vector<std::string>{"willArchive 2", "progress 0", "should 0/2", "will 0", "progress", "did 0",
                                        "should 1/2", "will 1", "progress", "did 1", "didArchive", "progress end"}));

    test::PathDelegate paths;
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), (temp_ / "again").string(), &paths));
    EXPECT_EQ(paths.paths,
              (std::vector<std::string>{(temp_ / "again/a.txt").string(), (temp_ / "again/b.txt").string()}));
}

TEST_F(Extraction, ADelegateThatRefusesAnEntryStopsWithoutError) {
    std::vector<FixtureEntry> entries;
    for (int i = 0; i < 5; ++i) entries.push_back(FixtureEntry::file(fmt::format("{}.txt", i), "x"));
    test::writeFixtureArchive(archive_, entries);
    test::RecordingDelegate delegate;
    delegate.refuseAt = 3;
    std::optional<platform::NSError> error;
    EXPECT_FALSE(unzip(&error, true, &delegate));
    EXPECT_EQ(error, std::nullopt);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(fs::exists(destination_ / fmt::format("{}.txt", i)));
    EXPECT_FALSE(fs::exists(destination_ / "3.txt"));
    EXPECT_EQ(delegate.events.back(), "should 3/5") << "no final progress event";
}

TEST_F(Extraction, SkipsMacMetadataButCountsIt) {
    test::writeFixtureArchive(archive_, {FixtureEntry::file("__MACOSX/._a.txt", "meta"),
                                         FixtureEntry::file("a.txt", "a"), FixtureEntry::file("..", "nameless")});
    std::vector<std::pair<std::string, long>> reported;
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(
        archive_.string(), destination_.string(),
        [&](const std::string& entry, const unz_file_info&, long number, long) {
            reported.emplace_back(entry, number);
        },
        nullptr));
    EXPECT_FALSE(fs::exists(destination_ / "__MACOSX"));
    // A name that sanitises to nothing is written under its entry number.
    EXPECT_EQ(reported, (std::vector<std::pair<std::string, long>>{{"a.txt", 1}, {"2", 2}}));
    EXPECT_EQ(test::readFile(destination_ / "2"), "nameless");
}

TEST_F(Extraction, NestedArchivesAreUnpackedInPlace) {
    const auto inner = temp_ / "inner.zip";
    test::writeFixtureArchive(inner, {FixtureEntry::file("inside.txt", "nested")});
    test::writeFixtureArchive(
        archive_, {FixtureEntry::file("pkg/inner.zip", test::readFile(inner)), FixtureEntry::file("top.txt", "top")});
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), true, true, 1, std::nullopt,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(test::readFile(destination_ / "pkg/inside.txt"), "nested");
    EXPECT_FALSE(fs::exists(destination_ / "pkg/inner.zip"));

    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), (temp_ / "flat").string()));
    EXPECT_TRUE(fs::exists(temp_ / "flat/pkg/inner.zip")) << "level 0 leaves inner archives alone";
}

TEST_F(Extraction, BadArgumentsAndMissingArchivesFailAtOnce) {
    test::writeFixtureArchive(archive_, {FixtureEntry::file("a.txt", "a")});
    std::optional<platform::NSError> error;
    std::optional<std::optional<std::string>> completionPath;
    EXPECT_FALSE(SSZipArchive::unzipFileAtPath(
        archive_.string(), "", true, true, std::nullopt, &error, nullptr, nullptr,
        [&](const std::optional<std::string>& path, bool succeeded, const std::optional<platform::NSError>&) {
            EXPECT_FALSE(succeeded);
            completionPath = path;
        }));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, "SSZipArchiveErrorDomain");
    EXPECT_EQ(error->code, -6);
    EXPECT_EQ(error->localizedDescription(), "received invalid argument(s)");
    ASSERT_TRUE(completionPath.has_value());
    EXPECT_FALSE(completionPath->has_value()) << "no archive path for the early failures";

    EXPECT_FALSE(SSZipArchive::unzipFileAtPath((temp_ / "missing.zip").string(), destination_.string(), true,
                                               std::nullopt, &error));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, -1);
    EXPECT_EQ(error->localizedDescription(), "failed to open zip file");
    EXPECT_FALSE(fs::exists(destination_));
}

}  // namespace
}  // namespace ambrell

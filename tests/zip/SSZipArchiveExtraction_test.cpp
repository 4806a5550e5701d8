#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/zip/ZipTestSupport.h"

namespace ambrell::test {
namespace {

using F = FixtureEntry;
using Events = std::vector<std::string>;
using Extraction = ZipTest;
using ConcurrentExtraction = ZipTest;

TEST_F(Extraction, UnpacksFoldersAndFilesWithTheirContents) {
    writeFixtureArchive(archive_, {F::folder("docs/"), F::file("docs/a.txt", "alpha"),
                                   F{.name = "b.bin", .data = std::string("\0\1\2binary", 9), .deflate = false},
                                   F::file("deep/x/y/z.txt", noisyText(100000, 1)), F::file("empty.txt", "")});
    ASSERT_TRUE(unzip());
    EXPECT_EQ(error_, std::nullopt);
    EXPECT_TRUE(fs::is_directory(destination_ / "docs"));
    expectFiles(destination_, {{"docs/a.txt", "alpha"},
                               {"b.bin", std::string("\0\1\2binary", 9)},
                               {"deep/x/y/z.txt", noisyText(100000, 1)},
                               {"empty.txt", ""}});
}

TEST_F(Extraction, RestoresPermissionsAndModificationDates) {
    writeFixtureArchive(archive_, {F{.name = "read-only.txt", .data = "r", .mode = 0100444},
                                   F{.name = "tool.sh", .data = "#!/bin/sh", .mode = 0100755},
                                   F{.name = "setuid", .data = "s", .mode = 0106755},
                                   F{.name = "dated/", .mode = 040755, .year = 2001},
                                   F{.name = "dated/in.txt", .data = "i", .year = 2019, .second = 46}});
    ASSERT_TRUE(unzip());
    // Owner read and write are always added; set-id bits are never applied.
    EXPECT_EQ(std::tuple(modeOf(destination_ / "read-only.txt"), modeOf(destination_ / "tool.sh"),
                         modeOf(destination_ / "setuid")),
              std::tuple(0644u, 0755u, 0755u));
    // The folder got a file written into it after its date was set; the pass
    // after the loop puts the archive's date back.
    EXPECT_EQ(modificationTime(destination_ / "dated"), localTime(2001, 6, 15, 10, 20, 30));
    EXPECT_EQ(modificationTime(destination_ / "dated/in.txt"), localTime(2019, 6, 15, 10, 20, 46));

    // Without attributes, the files keep today's dates.
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), (temp_ / "plain").string(), false, true, std::nullopt,
                                              nullptr, nullptr));
    EXPECT_GT(modificationTime(temp_ / "plain/dated/in.txt"), localTime(2020, 1, 1, 0, 0, 0));
}

TEST_F(Extraction, AnEmptyArchiveSucceedsAndWritesNothing) {
    writeFixtureArchive(archive_, {});
    RecordingDelegate delegate;
    ASSERT_TRUE(unzip(true, &delegate));
    EXPECT_EQ(error_, std::nullopt);
    EXPECT_FALSE(fs::exists(destination_));
    EXPECT_EQ(delegate.events, (Events{"willArchive 0", "progress 0", "didArchive", "progress end"}));

    const auto ours = (temp_ / "ours.zip").string();
    SSZipArchive zip(ours);
    ASSERT_TRUE(zip.open());
    ASSERT_TRUE(zip.close());
    EXPECT_TRUE(SSZipArchive::unzipFileAtPath(ours, destination_.string()));
    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath(ours, nullptr), 0u);
}

TEST_F(Extraction, ManyEntriesAreAllReportedInOrder) {
    std::vector<F> entries;
    for (int i = 0; i < 3000; ++i) entries.push_back(F::file(fmt::format("d{}/f{}.txt", i % 7, i), std::to_string(i)));
    writeFixtureArchive(archive_, entries);

    long next = 0;
    std::optional<bool> completed;
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(
        archive_.string(), destination_.string(),
        [&](const std::string& entry, const unz_file_info&, long number, long total) {
            EXPECT_EQ(std::tuple(number, total), std::tuple(next++, 3000));
            EXPECT_EQ(entry, fmt::format("d{}/f{}.txt", number % 7, number));
        },
        [&](const std::optional<std::string>& path, bool succeeded, const std::optional<platform::NSError>& error) {
            EXPECT_EQ(path, archive_.string());
            EXPECT_EQ(error, std::nullopt);
            completed = succeeded;
        }));
    EXPECT_EQ(std::tuple(next, completed), std::tuple(3000, true));
    EXPECT_EQ(readFile(destination_ / "d3/f2999.txt"), "2999");
}

TEST_F(Extraction, OverwriteOffKeepsExistingFilesButHandlesFolders) {
    writeFixtureArchive(archive_, {F::folder("keep/"), F::file("keep/a.txt", "new"), F::file("fresh.txt", "fresh")});
    writeFile(destination_ / "keep/a.txt", "old");
    RecordingDelegate delegate;
    ASSERT_TRUE(unzip(false, &delegate));
    expectFiles(destination_, {{"keep/a.txt", "old"}, {"fresh.txt", "fresh"}});
    // The folder entry and the new file are unzipped; the kept file is not.
    const auto count = [&](const char* event) {
        return std::count(delegate.events.begin(), delegate.events.end(), event);
    };
    EXPECT_EQ(std::tuple(count("did 0"), count("did 1"), count("did 2")), std::tuple(1, 0, 1));

    ASSERT_TRUE(unzip(true));
    EXPECT_EQ(readFile(destination_ / "keep/a.txt"), "new");
}

// Implements only the path form of the "did unzip file" callback.
class PathDelegate : public SSZipArchiveDelegate {
public:
    using SSZipArchiveDelegate::zipArchiveDidUnzipFileAtIndex;
    std::vector<std::string> paths;

    void zipArchiveDidUnzipFileAtIndex(long, long, const std::string&, const std::string& unzippedPath) override {
        paths.push_back(unzippedPath);
    }
};

TEST_F(Extraction, DelegateHearsEveryStepInOrder) {
    writeFixtureArchive(archive_, {F::file("a.txt", "a"), F::file("b.txt", "b")});
    RecordingDelegate delegate;
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), &delegate));
    EXPECT_EQ(delegate.events, (Events{"willArchive 2", "progress 0", "should 0/2", "will 0", "progress", "did 0",
                                       "should 1/2", "will 1", "progress", "did 1", "didArchive", "progress end"}));

    PathDelegate paths;
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), (temp_ / "again").string(), &paths));
    EXPECT_EQ(paths.paths, (Events{(temp_ / "again/a.txt").string(), (temp_ / "again/b.txt").string()}));
}

TEST_F(Extraction, ADelegateThatRefusesAnEntryStopsWithoutError) {
    std::vector<F> entries;
    for (int i = 0; i < 5; ++i) entries.push_back(F::file(fmt::format("{}.txt", i), "x"));
    writeFixtureArchive(archive_, entries);
    RecordingDelegate delegate;
    delegate.refuseAt = 3;
    EXPECT_FALSE(unzip(true, &delegate));
    EXPECT_EQ(error_, std::nullopt);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(fs::exists(destination_ / fmt::format("{}.txt", i)));
    EXPECT_FALSE(fs::exists(destination_ / "3.txt"));
    EXPECT_EQ(delegate.events.back(), "should 3/5") << "no final progress event";
}

TEST_F(Extraction, SkipsMacMetadataButCountsIt) {
    writeFixtureArchive(archive_,
                        {F::file("__MACOSX/._a.txt", "meta"), F::file("a.txt", "a"), F::file("..", "nameless")});
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
    EXPECT_EQ(readFile(destination_ / "2"), "nameless");
}

TEST_F(Extraction, NestedArchivesAreUnpackedInPlace) {
    const auto inner = temp_ / "inner.zip";
    writeFixtureArchive(inner, {F::file("inside.txt", "nested")});
    writeFixtureArchive(archive_, {F::file("pkg/inner.zip", readFile(inner)), F::file("top.txt", "top")});
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), true, true, 1, std::nullopt,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(readFile(destination_ / "pkg/inside.txt"), "nested");
    EXPECT_FALSE(fs::exists(destination_ / "pkg/inner.zip"));

    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), (temp_ / "flat").string()));
    EXPECT_TRUE(fs::exists(temp_ / "flat/pkg/inner.zip")) << "level 0 leaves inner archives alone";
}

TEST_F(Extraction, BadArgumentsAndMissingArchivesFailAtOnce) {
    writeFixtureArchive(archive_, {F::file("a.txt", "a")});
    std::optional<std::optional<std::string>> completionPath;
    EXPECT_FALSE(SSZipArchive::unzipFileAtPath(
        archive_.string(), "", true, true, std::nullopt, &error_, nullptr, nullptr,
        [&](const std::optional<std::string>& path, bool succeeded, const std::optional<platform::NSError>&) {
            EXPECT_FALSE(succeeded);
            completionPath = path;
        }));
    EXPECT_EQ(errorCode(), -6);
    EXPECT_EQ(error_->localizedDescription(), "received invalid argument(s)");
    ASSERT_TRUE(completionPath.has_value());
    EXPECT_FALSE(completionPath->has_value()) << "no archive path for the early failures";

    archive_ = temp_ / "missing.zip";
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -1);
    EXPECT_EQ(error_->localizedDescription(), "failed to open zip file");
    EXPECT_FALSE(fs::exists(destination_));
}

// Extractions share nothing but the calendar, so several may run at once.
TEST_F(ConcurrentExtraction, SeveralThreadsUnpackTheSameArchive) {
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    for (int i = 0; i < 20; ++i) {
        const std::string text = noisyText(5000, static_cast<std::uint32_t>(i));
        ASSERT_TRUE(zip.writeData(bytes(text), fmt::format("f{}.txt", i),
                                  i % 2 ? std::optional<std::string>("pw") : std::nullopt));
    }
    ASSERT_TRUE(zip.close());

    std::atomic<int> succeeded = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const auto destination = temp_ / fmt::format("out{}", t);
            if (SSZipArchive::unzipFileAtPath(archive_.string(), destination.string(), true, "pw", nullptr))
                ++succeeded;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(succeeded, 4);
    for (int t = 0; t < 4; ++t) EXPECT_EQ(readFile(temp_ / fmt::format("out{}/f19.txt", t)), noisyText(5000, 19));
}

// How many items the folder holds.
std::ptrdiff_t itemsIn(const fs::path& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

void setLE32(const fs::path& file, std::size_t offset, std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    patchFile(file, offset, bytes);
}

// Archives made to hurt: whatever escapes the destination shows up in the box
// around it or in the folder outside.
using HostileArchive = ZipTest;

TEST_F(HostileArchive, EntryNamesNeverLeaveTheDestination) {
    writeFixtureArchive(archive_, {F::file("../../evil.txt", "1"), F::file("a\\b.txt", "2"), F::file("/abs/x.txt", "3"),
                                   F::file("C:\\win\\y.txt", "4"), F::file("a/../../../../z.txt", "5"),
                                   F::file("..\\..\\back.txt", "6")});
    ASSERT_TRUE(unzip()) << (error_ ? error_->localizedDescription() : "");
    expectFiles(destination_, {{"evil.txt", "1"},
                               {"a/b.txt", "2"},
                               {"abs/x.txt", "3"},
                               {"C:/win/y.txt", "4"},
                               {"z.txt", "5"},
                               {"back.txt", "6"}});
    EXPECT_EQ(itemsIn(box_), 1) << "only the destination";
    EXPECT_TRUE(fs::is_empty(outside_));
}

TEST_F(HostileArchive, LinksThatLeadOutAreRefused) {
    for (const std::string target : {"../../outside", "/etc/passwd", "sub/../../outside", ".."}) {
        SCOPED_TRACE(target);
        fs::remove_all(destination_);
        writeFixtureArchive(archive_, {F::file("first.txt", "kept"), F::link("escape", target)});
        EXPECT_FALSE(unzip());
        EXPECT_EQ(errorCode(), -9);
        EXPECT_FALSE(fs::is_symlink(destination_ / "escape"));
        EXPECT_EQ(readFile(destination_ / "first.txt"), "kept");
        EXPECT_TRUE(logs_.sink().contains("[SSZipArchive] Refused to create symbolic link at"));
    }
}

TEST_F(HostileArchive, LinksInsideAreCreatedWithTheirTarget) {
    writeFixtureArchive(archive_, {F::file("sub/real.txt", "real"), F::link("shortcut", "sub/real.txt"),
                                   F::link("sub/up", "../sub/real.txt"),
                                   F{.name = "dos", .data = "sub/real.txt", .mode = 0120777, .system = 0}});
    ASSERT_TRUE(unzip()) << (error_ ? error_->localizedDescription() : "");
    EXPECT_EQ(fs::read_symlink(destination_ / "shortcut"), "sub/real.txt");
    EXPECT_EQ(fs::read_symlink(destination_ / "sub/up"), "../sub/real.txt");
    EXPECT_EQ(readFile(destination_ / "shortcut"), "real");
    // The link type means a link only in an entry made on Unix.
    EXPECT_EQ(readFile(destination_ / "dos"), "sub/real.txt");
}

TEST_F(HostileArchive, NoFileIsWrittenThroughALinkFromTheArchive) {
    writeFixtureArchive(archive_, {F::folder("sub/"), F::link("inner", "sub"), F::file("inner/x.txt", "through")});
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -7);
    EXPECT_EQ(error_->localizedDescription(),
              "Failed to create folder \"" + (destination_ / "inner").string() + "\": Not a directory");
    EXPECT_FALSE(fs::exists(destination_ / "sub/x.txt"));
}

TEST_F(HostileArchive, NoFileIsWrittenThroughALinkAlreadyThere) {
    fs::create_directories(destination_);
    fs::create_directory_symlink(outside_, destination_ / "pre");
    writeFile(outside_ / "target.txt", "secret");
    fs::create_symlink(outside_ / "target.txt", destination_ / "f.txt");
    writeFixtureArchive(archive_, {F::file("f.txt", "new")});

    EXPECT_TRUE(unzip(false)) << "overwrite off leaves what is there";
    EXPECT_TRUE(fs::is_symlink(destination_ / "f.txt"));
    ASSERT_TRUE(unzip(true));
    EXPECT_FALSE(fs::is_symlink(destination_ / "f.txt")) << "the link is replaced, not followed";
    EXPECT_EQ(readFile(destination_ / "f.txt"), "new");
    EXPECT_EQ(readFile(outside_ / "target.txt"), "secret");

    writeFixtureArchive(archive_, {F::file("pre/x.txt", "through")});
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -7);
    EXPECT_EQ(itemsIn(outside_), 1) << "only target.txt";
}

TEST_F(HostileArchive, AFlippedDataByteFailsTheChecksumAndKeepsEarlierEntries) {
    writeFixtureArchive(archive_, {F{.name = "first.txt", .data = "first entry", .deflate = false},
                                   F{.name = "second.txt", .data = noisyText(5000, 2), .deflate = false},
                                   F::file("third.txt", "never")});
    patchFile(archive_, findInFile(archive_, noisyText(5000, 2).substr(0, 64)) + 2500, "#");

    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -3);
    EXPECT_EQ(error_->localizedDescription(), "crc check failed for file");
    EXPECT_EQ(readFile(destination_ / "first.txt"), "first entry");
    EXPECT_FALSE(fs::exists(destination_ / "third.txt"));
}

TEST_F(HostileArchive, ATruncatedArchiveCannotBeOpened) {
    writeFixtureArchive(archive_, {F::file("a.txt", noisyText(20000, 3))});
    fs::resize_file(archive_, fs::file_size(archive_) / 2);
    EXPECT_FALSE(unzip());
    EXPECT_EQ(errorCode(), -1);
    EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(HostileArchive, DeclaredSizesThatLieAreErrors) {
    // Offsets of the field in the central and in the local header: uncompressed
    // smaller, uncompressed larger, compressed past the end of the file.
    for (const auto& [centralField, localField, value] :
         std::vector<std::tuple<std::size_t, std::size_t, std::uint32_t>>{
             {24, 22, 10}, {24, 22, 5000}, {20, 18, 0x00FFFFFF}}) {
        SCOPED_TRACE(value);
        fs::remove_all(destination_);
        writeFixtureArchive(archive_, {F::file("lie.txt", noisyText(1000, 4))});
        setLE32(archive_, findInFile(archive_, "PK\x01\x02") + centralField, value);
        setLE32(archive_, localField, value);
        EXPECT_FALSE(unzip());
        EXPECT_TRUE(errorCode() == -4 || errorCode() == -2) << errorCode();
    }
}

TEST_F(HostileArchive, ACorruptCentralDirectoryIsAnError) {
    writeFixtureArchive(archive_, {F::file("a.txt", "a"), F::file("b.txt", "b")});
    patchFile(archive_, readFile(archive_).rfind("PK\x01\x02"), "XX");
    EXPECT_FALSE(unzip());
    EXPECT_NE(errorCode(), 0);
}

}  // namespace
}  // namespace ambrell::test

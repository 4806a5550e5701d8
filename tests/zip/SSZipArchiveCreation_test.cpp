#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"
#include "tests/zip/ZipTestSupport.h"
#include "zip/SSZipArchive.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::string> names(const std::map<std::string, test::PythonEntry>& entries) {
    std::vector<std::string> result;
    for (const auto& [name, entry] : entries) result.push_back(name);
    return result;
}

class Creation : public ::testing::Test {
protected:
    test::TempDirectory temp_{"ambrell-zip-create"};
    const fs::path archive_ = temp_ / "made.zip";
    const fs::path tree_ = temp_ / "tree";
    const fs::path out_ = temp_ / "out";

    void makeTree() {
        test::writeFile(tree_ / "a.txt", "alpha");
        test::writeFile(tree_ / "sub/b.txt", test::noisyText(40000, 5));
        fs::create_directories(tree_ / "empty");
        ::chmod((tree_ / "a.txt").c_str(), 0640);
    }
};

TEST_F(Creation, EntriesWrittenOneByOneAreReadByAStandardReader) {
    test::writeFile(temp_ / "source.txt", "from a file");
    fs::create_directories(temp_ / "folder");
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    EXPECT_TRUE(zip.writeData(bytes("in memory"), "memory.txt", std::nullopt));
    EXPECT_TRUE(zip.writeFileAtPath((temp_ / "source.txt").string(), "renamed.txt", std::nullopt));
    EXPECT_TRUE(zip.writeFile((temp_ / "source.txt").string(), std::nullopt));
    EXPECT_TRUE(zip.writeFolderAtPath((temp_ / "folder").string(), "folder", std::nullopt));
    EXPECT_TRUE(zip.writeData(bytes(test::noisyText(70000, 6)), "level0.bin", 0, std::nullopt, false));
    EXPECT_FALSE(zip.writeFile((temp_ / "missing.txt").string(), std::nullopt));
    EXPECT_FALSE(zip.writeData(std::nullopt, "nothing.txt", std::nullopt));
    ASSERT_TRUE(zip.close());

    const auto read = test::readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(names(*read),
              (std::vector<std::string>{"folder/", "level0.bin", "memory.txt", "renamed.txt", "source.txt"}));
    EXPECT_EQ(read->at("memory.txt").data, "in memory");
    EXPECT_EQ(read->at("renamed.txt").data, "from a file");
    EXPECT_EQ(read->at("level0.bin").data, test::noisyText(70000, 6));
    EXPECT_EQ(read->at("memory.txt").method, 8);
    EXPECT_EQ(read->at("memory.txt").system, 19) << "made on OS X / Darwin";
    EXPECT_EQ(read->at("memory.txt").flags & 0x800, 0x800) << "names in UTF-8";
}

TEST_F(Creation, MisuseIsRefusedLoudly) {
    SSZipArchive zip(archive_.string());
    EXPECT_THROW(zip.writeFile((temp_ / "x").string(), std::nullopt), std::logic_error);
    EXPECT_THROW(zip.close(), std::logic_error);
    EXPECT_FALSE(zip.writeData(bytes("x"), "x", std::nullopt)) << "writing data answers NO instead";
    ASSERT_TRUE(zip.open());
    EXPECT_THROW(zip.open(), std::logic_error);
    EXPECT_THROW(zip.openForAppending(), std::logic_error);
    EXPECT_TRUE(zip.close());
    EXPECT_FALSE(SSZipArchive((temp_ / "no/such/folder/x.zip").string()).open());
}

TEST_F(Creation, AFolderTreeKeepsItsLayoutAndPermissions) {
    makeTree();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(
        archive_.string(), tree_.string(), false, std::nullopt,
        [&](std::uint64_t done, std::uint64_t total) { progress.emplace_back(done, total); }));
    auto read = test::readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    // "sub" has contents, so it gets no entry of its own.
    EXPECT_EQ(names(*read), (std::vector<std::string>{"a.txt", "empty/", "sub/b.txt"}));
    EXPECT_EQ(read->at("a.txt").mode, 0100640u) << "permissions with the regular-file type";
    EXPECT_EQ(read->at("sub/b.txt").data, test::noisyText(40000, 5));
    // a.txt, empty, sub, sub/b.txt: every item counts, entry or not.
    EXPECT_EQ(progress, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));

    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string(), true));
    read = test::readWithPython(archive_);
    EXPECT_EQ(names(*read), (std::vector<std::string>{"tree/a.txt", "tree/empty/", "tree/sub/b.txt"}));

    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), out_.string()));
    EXPECT_EQ(test::readFile(out_ / "tree/sub/b.txt"), test::noisyText(40000, 5));
    struct stat info {};
    ::stat((out_ / "tree/a.txt").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(Creation, AnEmptyFolderWithItsParentBecomesOneFolderEntry) {
    fs::create_directories(tree_);
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string(), true));
    const auto read = test::readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(names(*read), std::vector<std::string>{"tree/"});
}

TEST_F(Creation, TheArchiveIsNeverPackedIntoItself) {
    makeTree();
    const fs::path inside = tree_ / "self.zip";
    test::ScopedLogCapture logs;
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(inside.string(), tree_.string(), false, -1, std::nullopt, true,
                                                  nullptr, true));
    EXPECT_TRUE(logs.sink().contains("[SSZipArchive] the archive path and the file path: " + inside.string() +
                                     " are the same, which is forbidden."));
    const auto read = test::readWithPython(inside);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->count("self.zip"), 0u);
}

TEST_F(Creation, SymbolicLinksCanBeKept) {
    makeTree();
    fs::create_symlink("a.txt", tree_ / "link");
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string(), false, -1, std::nullopt, true,
                                                  nullptr, true));
    const auto read = test::readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->at("link").system, 3);
    EXPECT_EQ(read->at("link").mode & 0170000, 0120000u);
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), out_.string()));
    EXPECT_EQ(fs::read_symlink(out_ / "link"), "a.txt");

    // Without keeping them, a link is packed as the file it points to.
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(
        archive_.string(), std::vector<std::string>{(tree_ / "link").string()}, std::nullopt, false));
    EXPECT_EQ(test::readWithPython(archive_)->at("link").data, "alpha");
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(
        archive_.string(), std::vector<std::string>{(tree_ / "link").string()}, std::nullopt, true));
    EXPECT_EQ(test::readWithPython(archive_)->at("link").mode & 0170000, 0120000u);
}

TEST_F(Creation, AListOfFilesIsAllAttemptedAndFailuresAnswerNo) {
    test::writeFile(temp_ / "one.txt", "1");
    test::writeFile(temp_ / "two.txt", "2");
    std::vector<std::uint64_t> done;
    EXPECT_FALSE(SSZipArchive::createZipFileAtPath(
        archive_.string(),
        std::vector<std::string>{(temp_ / "one.txt").string(), (temp_ / "missing").string(),
                                 (temp_ / "two.txt").string()},
        std::nullopt, [&](std::uint64_t entry, std::uint64_t total) {
            EXPECT_EQ(total, 3u);
            done.push_back(entry);
        }));
    EXPECT_EQ(done, (std::vector<std::uint64_t>{1, 2, 3}));
    const auto read = test::readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(names(*read), (std::vector<std::string>{"one.txt", "two.txt"}));
}

struct PasswordCase {
    bool aes;
    const char* label;
};

class PasswordRoundTrip : public Creation, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordRoundTrip, OnlyTheRightPasswordOpensTheEntries) {
    makeTree();
    const bool aes = GetParam().aes;
    ASSERT_TRUE(
        SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string(), false, -1, "s3cret", aes, nullptr));
    EXPECT_TRUE(SSZipArchive::isFilePasswordProtectedAtPath(archive_.string()));

    std::optional<platform::NSError> error;
    EXPECT_TRUE(SSZipArchive::isPasswordValidForArchiveAtPath(archive_.string(), "s3cret", &error));
    EXPECT_EQ(error, std::nullopt);

    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), (out_ / "right").string(), true, "s3cret", &error));
    EXPECT_EQ(test::readFile(out_ / "right/a.txt"), "alpha");
    EXPECT_EQ(test::readFile(out_ / "right/sub/b.txt"), test::noisyText(40000, 5));

    EXPECT_FALSE(
        SSZipArchive::unzipFileAtPath(archive_.string(), (out_ / "missing").string(), true, std::nullopt, &error));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, -2);
    EXPECT_EQ(error->localizedDescription(), "failed to open file in zip file");

    // A wrong traditional password passes its one check byte once in 256
    // tries; the data then fails to inflate or to match its CRC instead.
    EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive_.string(), (out_ / "wrong").string(), true, "wrong", &error));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, "SSZipArchiveErrorDomain");
    EXPECT_TRUE(error->code == -2 || error->code == -3 || error->code == -4) << error->code;
    EXPECT_FALSE(fs::exists(out_ / "wrong/sub/b.txt") &&
                 test::readFile(out_ / "wrong/sub/b.txt") == test::noisyText(40000, 5));
}

INSTANTIATE_TEST_SUITE_P(Encryptions, PasswordRoundTrip,
                         ::testing::Values(PasswordCase{true, "aes"}, PasswordCase{false, "traditional"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Creation, AStandardReaderOpensTraditionalEntriesWithTheRightPassword) {
    makeTree();
    ASSERT_TRUE(
        SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string(), false, -1, "pässword", false, nullptr));
    const auto read = test::readWithPython(archive_, "pässword");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->at("a.txt").data, "alpha");
    EXPECT_EQ(read->at("sub/b.txt").data, test::noisyText(40000, 5));
    EXPECT_EQ(read->at("a.txt").flags & 1, 1);
    EXPECT_FALSE(test::readWithPython(archive_, "wrong").has_value());
}

TEST_F(Creation, AesEntriesCarryMethod99AndTheWinZipBlock) {
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    ASSERT_TRUE(zip.writeData(bytes("tiny"), "tiny.txt", "pw"));
    ASSERT_TRUE(zip.writeData(bytes(test::noisyText(3000, 7)), "large.txt", "pw"));
    ASSERT_TRUE(zip.close());
    const auto read = test::readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->at("tiny.txt").method, 99);
    EXPECT_EQ(read->at("tiny.txt").flags & 1, 1);
    const std::string raw = test::readFile(archive_);
    EXPECT_NE(raw.find(std::string("\x01\x99\x07\x00\x02\x00"
                                   "AE\x03\x08\x00",
                                   11)),
              std::string::npos)
        << "AE-2 below 20 bytes";
    EXPECT_NE(raw.find(std::string("\x01\x99\x07\x00\x01\x00"
                                   "AE\x03\x08\x00",
                                   11)),
              std::string::npos)
        << "AE-1 above";

    // Read again from the published format by the fixture's own reader.
    const auto decrypted = test::readWithPython(archive_, "pw");
    ASSERT_TRUE(decrypted.has_value());
    EXPECT_EQ(decrypted->at("tiny.txt").data, "tiny");
    EXPECT_EQ(decrypted->at("large.txt").data, test::noisyText(3000, 7));
    EXPECT_FALSE(test::readWithPython(archive_, "nope").has_value());

    std::optional<platform::NSError> error;
    EXPECT_FALSE(SSZipArchive::isPasswordValidForArchiveAtPath(archive_.string(), "nope", &error));
    EXPECT_EQ(error, std::nullopt) << "a wrong password is an answer, not an error";

    // Appending keeps the AES entries readable.
    test::writeFile(temp_ / "plain.txt", "plain");
    ASSERT_TRUE(zip.openForAppending());
    ASSERT_TRUE(zip.writeFileAtPath((temp_ / "plain.txt").string(), std::nullopt, std::nullopt));
    ASSERT_TRUE(zip.close());
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), out_.string(), true, "pw", nullptr));
    EXPECT_EQ(test::readFile(out_ / "tiny.txt"), "tiny");
    EXPECT_EQ(test::readFile(out_ / "large.txt"), test::noisyText(3000, 7));
    EXPECT_EQ(test::readFile(out_ / "plain.txt"), "plain");
}

TEST_F(Creation, ATamperedAesEntryFailsItsAuthentication) {
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    ASSERT_TRUE(zip.writeData(bytes(test::noisyText(3000, 8)), "data.txt", 0, "pw", true));
    ASSERT_TRUE(zip.close());
    const auto header = test::findInFile(archive_, "data.txt");
    test::patchFile(archive_, header + 8 + 11 + 20 + 1000, "\x55");
    std::optional<platform::NSError> error;
    EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive_.string(), out_.string(), true, "pw", &error));
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->code == -3 || error->code == -4) << error->code;
}

TEST_F(Creation, QueriesOnPlainArchives) {
    makeTree();
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string()));
    EXPECT_FALSE(SSZipArchive::isFilePasswordProtectedAtPath(archive_.string()));
    std::optional<platform::NSError> error;
    EXPECT_TRUE(SSZipArchive::isPasswordValidForArchiveAtPath(archive_.string(), "anything", &error));
    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath(archive_.string(), &error), 5u + 40000u);
    EXPECT_EQ(error, std::nullopt);

    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath((temp_ / "missing.zip").string(), &error), 0u);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, -1);
    EXPECT_FALSE(SSZipArchive::isPasswordValidForArchiveAtPath((temp_ / "missing.zip").string(), "x", &error));
    EXPECT_EQ(error->localizedDescription(), "failed to open zip file");
    EXPECT_FALSE(SSZipArchive::isFilePasswordProtectedAtPath((temp_ / "missing.zip").string()));
}

}  // namespace
}  // namespace ambrell

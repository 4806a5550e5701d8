#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/zip/ZipTestSupport.h"

namespace ambrell::test {
namespace {

using Names = std::vector<std::string>;
using Creation = ZipTest;

// The entry names Python's zipfile reads from the archive; none when it cannot.
std::optional<Names> namesInArchive(const fs::path& archive) {
    const auto read = readWithPython(archive);
    if (!read) return std::nullopt;
    Names result;
    for (const auto& [name, entry] : *read) result.push_back(name);
    return result;
}

TEST_F(Creation, EntriesWrittenOneByOneAreReadByAStandardReader) {
    writeFile(temp_ / "source.txt", "from a file");
    fs::create_directories(temp_ / "folder");
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    EXPECT_TRUE(zip.writeData(bytes("in memory"), "memory.txt", std::nullopt));
    EXPECT_TRUE(zip.writeFileAtPath((temp_ / "source.txt").string(), "renamed.txt", std::nullopt));
    EXPECT_TRUE(zip.writeFile((temp_ / "source.txt").string(), std::nullopt));
    EXPECT_TRUE(zip.writeFolderAtPath((temp_ / "folder").string(), "folder", std::nullopt));
    EXPECT_TRUE(zip.writeData(bytes(noisyText(70000, 6)), "level0.bin", 0, std::nullopt, false));
    EXPECT_FALSE(zip.writeFile((temp_ / "missing.txt").string(), std::nullopt));
    EXPECT_FALSE(zip.writeData(std::nullopt, "nothing.txt", std::nullopt));
    ASSERT_TRUE(zip.close());

    EXPECT_EQ(namesInArchive(archive_), (Names{"folder/", "level0.bin", "memory.txt", "renamed.txt", "source.txt"}));
    const auto read = readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(std::tie(read->at("memory.txt").data, read->at("renamed.txt").data, read->at("level0.bin").data),
              std::tuple("in memory", "from a file", noisyText(70000, 6)));
    // Deflated, made on OS X / Darwin, names in UTF-8.
    const auto& memory = read->at("memory.txt");
    EXPECT_EQ(std::tuple(memory.method, memory.system, memory.flags & 0x800), std::tuple(8, 19, 0x800));
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
    // "sub" has contents, so it gets no entry of its own.
    EXPECT_EQ(namesInArchive(archive_), (Names{"a.txt", "empty/", "sub/b.txt"}));
    const auto read = readWithPython(archive_);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->at("a.txt").mode, 0100640u) << "permissions with the regular-file type";
    EXPECT_EQ(read->at("sub/b.txt").data, noisyText(40000, 5));
    // a.txt, empty, sub, sub/b.txt: every item counts, entry or not.
    EXPECT_EQ(progress, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));

    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string(), true));
    EXPECT_EQ(namesInArchive(archive_), (Names{"tree/a.txt", "tree/empty/", "tree/sub/b.txt"}));
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string()));
    EXPECT_EQ(readFile(destination_ / "tree/sub/b.txt"), noisyText(40000, 5));
    EXPECT_EQ(modeOf(destination_ / "tree/a.txt"), 0640u);

    // An empty folder with its parent becomes one folder entry.
    fs::remove_all(tree_);
    fs::create_directories(tree_);
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string(), true));
    EXPECT_EQ(namesInArchive(archive_), Names{"tree/"});
}

TEST_F(Creation, SymbolicLinksCanBeKeptAndTheArchiveIsNeverPackedIntoItself) {
    makeTree();
    fs::create_symlink("a.txt", tree_ / "link");
    const fs::path inside = tree_ / "self.zip";
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(inside.string(), tree_.string(), false, -1, std::nullopt, true,
                                                  nullptr, true));
    EXPECT_TRUE(logs_.sink().contains("[SSZipArchive] the archive path and the file path: " + inside.string() +
                                      " are the same, which is forbidden."));
    EXPECT_EQ(namesInArchive(inside), (Names{"a.txt", "empty/", "link", "sub/b.txt"}));
    const auto read = readWithPython(inside);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(std::tuple(read->at("link").system, read->at("link").mode & 0170000), std::tuple(3, 0120000u));
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(inside.string(), destination_.string()));
    EXPECT_EQ(fs::read_symlink(destination_ / "link"), "a.txt");

    // Without keeping them, a link is packed as the file it points to.
    const std::vector<std::string> link{(tree_ / "link").string()};
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), link, std::nullopt, false));
    EXPECT_EQ(readWithPython(archive_)->at("link").data, "alpha");
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), link, std::nullopt, true));
    EXPECT_EQ(readWithPython(archive_)->at("link").mode & 0170000, 0120000u);
}

TEST_F(Creation, AListOfFilesIsAllAttemptedAndFailuresAnswerNo) {
    writeFile(temp_ / "one.txt", "1");
    writeFile(temp_ / "two.txt", "2");
    std::vector<std::uint64_t> done;
    EXPECT_FALSE(SSZipArchive::createZipFileAtPath(
        archive_.string(),
        Names{(temp_ / "one.txt").string(), (temp_ / "missing").string(), (temp_ / "two.txt").string()}, std::nullopt,
        [&](std::uint64_t entry, std::uint64_t total) {
            EXPECT_EQ(total, 3u);
            done.push_back(entry);
        }));
    EXPECT_EQ(done, (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(namesInArchive(archive_), (Names{"one.txt", "two.txt"}));
}

TEST_F(Creation, OnlyTheRightPasswordOpensTheEntries) {
    makeTree();
    for (const bool aes : {true, false}) {
        SCOPED_TRACE(aes ? "aes" : "traditional");
        const auto archive = (temp_ / (aes ? "aes.zip" : "traditional.zip")).string();
        const auto out = temp_ / (aes ? "aes" : "traditional");
        ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive, tree_.string(), false, -1, "pässword", aes, nullptr));
        EXPECT_TRUE(SSZipArchive::isFilePasswordProtectedAtPath(archive));
        error_.reset();
        EXPECT_TRUE(SSZipArchive::isPasswordValidForArchiveAtPath(archive, "pässword", &error_));
        EXPECT_EQ(error_, std::nullopt);

        ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive, (out / "right").string(), true, "pässword", &error_));
        expectFiles(out / "right", {{"a.txt", "alpha"}, {"sub/b.txt", noisyText(40000, 5)}});
        // Python's zipfile (for AES, the fixture's reader of the published format) opens them with it alone.
        const auto read = readWithPython(archive, "pässword");
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(std::tie(read->at("a.txt").data, read->at("sub/b.txt").data),
                  std::tuple("alpha", noisyText(40000, 5)));
        EXPECT_EQ(std::tuple(read->at("a.txt").method, read->at("a.txt").flags & 1), std::tuple(aes ? 99 : 8, 1));
        EXPECT_FALSE(readWithPython(archive, "wrong").has_value());

        EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive, (out / "missing").string(), true, std::nullopt, &error_));
        EXPECT_EQ(errorCode(), -2);
        EXPECT_EQ(error_->localizedDescription(), "failed to open file in zip file");

        // A wrong traditional password passes its one check byte once in 256
        // tries; the data then fails to inflate or to match its CRC instead.
        error_.reset();
        EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive, (out / "wrong").string(), true, "wrong", &error_));
        EXPECT_TRUE(errorCode() == -2 || errorCode() == -3 || errorCode() == -4) << errorCode();
        EXPECT_FALSE(fs::exists(out / "wrong/sub/b.txt") && readFile(out / "wrong/sub/b.txt") == noisyText(40000, 5));
        if (!aes) continue;
        error_.reset();
        EXPECT_FALSE(SSZipArchive::isPasswordValidForArchiveAtPath(archive, "wrong", &error_));
        EXPECT_EQ(error_, std::nullopt) << "a wrong password is an answer, not an error";
    }
}

TEST_F(Creation, AesEntriesCarryTheWinZipBlockAndSurviveAppending) {
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    ASSERT_TRUE(zip.writeData(bytes("tiny"), "tiny.txt", "pw"));
    ASSERT_TRUE(zip.writeData(bytes(noisyText(3000, 7)), "large.txt", "pw"));
    ASSERT_TRUE(zip.close());
    // The 0x9901 block: AE-2 below 20 bytes, AE-1 above.
    const std::string raw = readFile(archive_);
    EXPECT_NE(raw.find(std::string("\x01\x99\x07\x00\x02\x00"
                                   "AE\x03\x08\x00",
                                   11)),
              std::string::npos)
        << "AE-2";
    EXPECT_NE(raw.find(std::string("\x01\x99\x07\x00\x01\x00"
                                   "AE\x03\x08\x00",
                                   11)),
              std::string::npos)
        << "AE-1";

    writeFile(temp_ / "plain.txt", "plain");
    ASSERT_TRUE(zip.openForAppending());
    ASSERT_TRUE(zip.writeFileAtPath((temp_ / "plain.txt").string(), std::nullopt, std::nullopt));
    ASSERT_TRUE(zip.close());
    ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), true, "pw", nullptr));
    expectFiles(destination_, {{"tiny.txt", "tiny"}, {"large.txt", noisyText(3000, 7)}, {"plain.txt", "plain"}});
}

TEST_F(Creation, ATamperedAesEntryFailsItsAuthentication) {
    SSZipArchive zip(archive_.string());
    ASSERT_TRUE(zip.open());
    ASSERT_TRUE(zip.writeData(bytes(noisyText(3000, 8)), "data.txt", 0, "pw", true));
    ASSERT_TRUE(zip.close());
    // A byte of the entry's data, well past its headers, flipped so that it
    // always changes whatever the random ciphertext held there.
    const auto offset = findInFile(archive_, "data.txt") + 8 + 11 + 20 + 1000;
    const char original = readFile(archive_).at(offset);
    patchFile(archive_, offset, std::string(1, static_cast<char>(original ^ 0xFF)));
    EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), true, "pw", &error_));
    EXPECT_TRUE(errorCode() == -3 || errorCode() == -4) << errorCode();
}

std::uint64_t littleEndian(const std::string& file, std::size_t offset, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(file.at(offset + i));
    return value;
}

// Where the stored bytes of the archive's only entry end, found through the
// end record and the central directory (the data itself is random ciphertext,
// so searching it for a signature could hit by chance). The archive has no comment.
std::size_t endOfOnlyEntryData(const fs::path& archive) {
    const auto file = readFile(archive);
    const std::size_t endRecord = file.size() - 22;
    EXPECT_EQ(littleEndian(file, endRecord, 4), 0x06054b50u);
    const auto central = static_cast<std::size_t>(littleEndian(file, endRecord + 16, 4));
    EXPECT_EQ(littleEndian(file, central, 4), 0x02014b50u);
    const auto compressedSize = static_cast<std::size_t>(littleEndian(file, central + 20, 4));
    const auto local = static_cast<std::size_t>(littleEndian(file, central + 42, 4));
    EXPECT_EQ(littleEndian(file, local, 4), 0x04034b50u);
    const auto nameSize = static_cast<std::size_t>(littleEndian(file, local + 26, 2));
    const auto extraSize = static_cast<std::size_t>(littleEndian(file, local + 28, 2));
    return local + 30 + nameSize + extraSize + compressedSize;
}

// The authentication code (the entry's last 10 stored bytes) is all that
// protects content whose CRC is not stored (AE-2, small entries), and it is
// checked on top of the CRC for larger ones (AE-1): any one of its bytes
// changed, with the content intact, must fail the extraction.
TEST_F(Creation, AnAesEntryWhoseAuthenticationCodeAloneIsTamperedFails) {
    const std::pair<const char*, std::string> contents[] = {{"small, no CRC", "tiny"},
                                                            {"large, with CRC", noisyText(3000, 9)}};
    for (const auto& [what, content] : contents) {
        SCOPED_TRACE(what);
        fs::remove(archive_);
        SSZipArchive zip(archive_.string());
        ASSERT_TRUE(zip.open());
        ASSERT_TRUE(zip.writeData(bytes(content), "data.txt", 0, "pw", true));
        ASSERT_TRUE(zip.close());
        const std::size_t codeEnd = endOfOnlyEntryData(archive_);
        const std::string intact = readFile(archive_);
        ASSERT_LE(codeEnd, intact.size());
        ASSERT_TRUE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), true, "pw", &error_));
        expectFiles(destination_, {{"data.txt", content}});

        for (std::size_t offset = codeEnd - 10; offset < codeEnd; ++offset) {
            SCOPED_TRACE(::testing::Message() << "byte " << offset - (codeEnd - 10) << " of the code");
            patchFile(archive_, offset, std::string(1, static_cast<char>(intact.at(offset) ^ 0xFF)));
            error_.reset();
            EXPECT_FALSE(SSZipArchive::unzipFileAtPath(archive_.string(), destination_.string(), true, "pw", &error_));
            EXPECT_TRUE(errorCode() == -3 || errorCode() == -4) << errorCode();
            patchFile(archive_, offset, std::string(1, intact.at(offset)));
        }
    }
}

TEST_F(Creation, QueriesOnPlainArchives) {
    makeTree();
    ASSERT_TRUE(SSZipArchive::createZipFileAtPath(archive_.string(), tree_.string()));
    EXPECT_FALSE(SSZipArchive::isFilePasswordProtectedAtPath(archive_.string()));
    EXPECT_TRUE(SSZipArchive::isPasswordValidForArchiveAtPath(archive_.string(), "anything", &error_));
    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath(archive_.string(), &error_), 5u + 40000u);
    EXPECT_EQ(error_, std::nullopt);

    const auto missing = (temp_ / "missing.zip").string();
    EXPECT_EQ(SSZipArchive::payloadSizeForArchiveAtPath(missing, &error_), 0u);
    EXPECT_EQ(errorCode(), -1);
    EXPECT_FALSE(SSZipArchive::isPasswordValidForArchiveAtPath(missing, "x", &error_));
    EXPECT_EQ(error_->localizedDescription(), "failed to open zip file");
    EXPECT_FALSE(SSZipArchive::isFilePasswordProtectedAtPath(missing));
}

}  // namespace
}  // namespace ambrell::test

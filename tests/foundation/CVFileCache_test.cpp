#include "foundation/CVFileCache.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <algorithm>

#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVFileCacheJSON.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/JsonEq.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<fs::path> entriesOf(const fs::path& folder) {
    std::vector<fs::path> entries;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(folder, missing)) entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::uint64_t ownSize(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return static_cast<std::uint64_t>(status.st_size);
}

TEST(CVFileCacheKey, NamesTheItemsFile) {
    const std::pair<std::string_view, std::optional<std::string>> cases[] = {
        {"a/b.c/d.json", "a_b_c_d.json"},
        {"a/b", "a_b"},
        {"x%20y.png", "x_y.png"},
        {"https://api.example.com/v1/venues.json?lang=de&v=1", "https:__api_example_com_v1_venues.json?lang=de&v=1"},
        {"https://example.com/t?scale=1.5", "https:__example_com_t?scale=1.5"},
        {"readme", "readme"},
        {"..", "_."},
        {"/", "_"},
        // These would name the folder itself or be cut short by the system.
        {"", std::nullopt},
        {".", std::nullopt},
        {std::string_view("a\0b", 3), std::nullopt},
    };
    for (const auto& [item, key] : cases) EXPECT_EQ(CVFileCache::cacheKeyForCachingItem(item), key) << item;
}

class FileCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        cache_ = CVFileCache::newWithFolder(folder_);
        ASSERT_NE(cache_, nullptr);
    }

    // The parent holds nothing but these once every background deletion is done.
    bool onlyLeft(const std::vector<fs::path>& expected) {
        return test::waitFor([&] { return entriesOf(folder_.parent_path()) == expected; });
    }

    test::TempDirectory root_;
    const fs::path folder_ = root_ / "Caches/datasets/0a1b";
    const fs::path movedAside_ = fs::path(folder_.string() + ".DELETED");
    std::shared_ptr<CVFileCache> cache_;
    test::ScopedLogCapture log_;
};

TEST_F(FileCacheTest, CreatesItsFolderOrGivesNoCache) {
    EXPECT_TRUE(fs::is_directory(folder_));
    EXPECT_EQ(CVFileCache::initWithFolder(root_ / "other/")->cacheFolder(), root_ / "other");

    ASSERT_TRUE(cache_->saveData(bytes("x"), "plain-file"));
    const auto blocked = folder_ / "plain-file" / "cache";
    EXPECT_EQ(CVFileCache::newWithFolder(blocked), nullptr);
    EXPECT_TRUE(log_.sink().contains("-[CVFileCache initWithFolder:] [E] failed to create cache folder at " +
                                     blocked.string() + ", err="));
    // Removing the cache would wipe these out.
    for (const auto* folder : {"", "/", ".", "..", "/tmp/.."}) {
        EXPECT_EQ(CVFileCache::newWithFolder(folder), nullptr) << folder;
    }
}

TEST_F(FileCacheTest, SavesReadsAndRemovesItems) {
    const std::string url = "https://example.com/api/venues.json?lang=en";
    const auto path = folder_ / "https:__example_com_api_venues.json?lang=en";
    EXPECT_EQ(cache_->pathForCachingItem(url), path);
    EXPECT_EQ(cache_->pathForCachedItem(url), std::nullopt);
    EXPECT_EQ(cache_->cachedDataForItem(url), std::nullopt);

    ASSERT_TRUE(cache_->saveData(bytes("first"), url));
    ASSERT_TRUE(cache_->saveData(bytes("[1,2]"), url));
    EXPECT_EQ(cache_->pathForCachedItem(url), path);
    EXPECT_EQ(CVFileCache::pathForCachedItem(url, folder_), path);
    EXPECT_EQ(platform::readTextFile(path), "[1,2]");
    EXPECT_EQ(cache_->cachedDataForItem(url), bytes("[1,2]"));
    EXPECT_EQ(entriesOf(folder_), std::vector<fs::path>{path});  // no temporary file left behind

    EXPECT_TRUE(cache_->removeDataForItem(url));
    EXPECT_TRUE(log_.sink().messages().empty());

    EXPECT_FALSE(cache_->saveData(std::nullopt, url));
    EXPECT_FALSE(cache_->saveData(bytes("x"), ""));
    EXPECT_TRUE(entriesOf(folder_).empty());

    // A failed removal is logged.
    EXPECT_FALSE(cache_->removeDataForItem("a/missing.json"));
    const auto messages = log_.sink().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].level, platform::LogLevel::error);
    EXPECT_EQ(messages[0].message,
              "-[CVFileCache removeDataForItem:] [E] failed to remove cache for item "
              "'a/missing.json', filePath=" +
                  (folder_ / "a_missing.json").string() + ", err=No such file or directory");
}

// Keys that fit a file name keep their names; longer ones keep their start
// and gain the SHA-256 of the whole key, and still name one file each.
TEST(CVFileCacheKey, KeysLongerThanAFileNameMayBeAreShortenedStably) {
    const std::string fits(255, 'a');
    const std::string tooLong(256, 'a');
    EXPECT_EQ(CVFileCache::cacheKeyForCachingItem(fits), fits);
    EXPECT_EQ(CVFileCache::cacheKeyForCachingItem(tooLong),
              std::string(128, 'a') + "~02d7160d77e18c6447be80c2e355c7ed4388545271702c50253b0914c65ce5fe");

    // The start is cut before a multi-byte character, not inside it.
    const std::string accented = std::string(127, 'a') + "\xC3\xA9" + std::string(200, 'b');
    const auto accentedKey = CVFileCache::cacheKeyForCachingItem(accented);
    ASSERT_TRUE(accentedKey);
    EXPECT_EQ(accentedKey->substr(0, 128), std::string(127, 'a') + "~");

    // Two long keys with the same start name different files.
    const auto other = CVFileCache::cacheKeyForCachingItem(std::string(256, 'a') + "b");
    ASSERT_TRUE(other);
    EXPECT_NE(*other, *CVFileCache::cacheKeyForCachingItem(tooLong));
    EXPECT_LE(other->size(), 255U);
}

TEST_F(FileCacheTest, ALocationsUrlWithManyRolesIsCachedAndFoundAgain) {
    std::string url = "https://api.ambrell.com/sync/locations?solutionId=0a1b2c3d4e5f&lr=en&v=6&appUserRoleIds=";
    for (int role = 0; role < 7; ++role) {
        if (role > 0) url += ',';
        url += "8c5f3e2a-4b1d-4e7a-9f60-1d2e3c4b5a6" + std::to_string(role);
    }
    const auto key = CVFileCache::cacheKeyForCachingItem(url);
    ASSERT_TRUE(key);
    EXPECT_LE(key->size(), 255U);
    // The last "." (of the host here) stays, as for every key.
    EXPECT_TRUE(key->starts_with("https:__api_ambrell.com_sync_locations?solutionId=0a1b2c3d4e5f")) << *key;

    ASSERT_TRUE(cache_->saveData(bytes(R"([{"id":"l1"}])"), url));
    EXPECT_EQ(entriesOf(folder_), std::vector<fs::path>{folder_ / *key});
    EXPECT_EQ(cache_->pathForCachedItem(url), folder_ / *key);
    EXPECT_EQ(CVFileCache::pathForCachedItem(url, folder_), folder_ / *key);
    EXPECT_EQ(cache_->cachedDataForItem(url), bytes(R"([{"id":"l1"}])"));

    // One role fewer is another URL, another file.
    const std::string fewer = url.substr(0, url.rfind(','));
    EXPECT_EQ(cache_->cachedDataForItem(fewer), std::nullopt);
    ASSERT_TRUE(cache_->saveData(bytes("[]"), fewer));
    EXPECT_EQ(cache_->cachedDataForItem(url), bytes(R"([{"id":"l1"}])"));
    EXPECT_EQ(entriesOf(folder_).size(), 2U);

    EXPECT_TRUE(cache_->removeDataForItem(url));
    EXPECT_EQ(cache_->pathForCachedItem(url), std::nullopt);
    EXPECT_TRUE(log_.sink().messages().empty());
}

TEST_F(FileCacheTest, FilesNamedAsTheyAreStayInsideTheFolder) {
    ASSERT_TRUE(cache_->saveDataWithFilename(bytes("{\"events\":[]}"), "log-1.json"));
    EXPECT_EQ(platform::readTextFile(folder_ / "log-1.json"), "{\"events\":[]}");
    EXPECT_EQ(cache_->cachedDataForFilename("log-1.json"), bytes("{\"events\":[]}"));
    EXPECT_EQ(cache_->cachedDataForFilename("log-2.json"), std::nullopt);
    EXPECT_FALSE(cache_->saveDataWithFilename(std::nullopt, "log-2.json"));

    using namespace std::string_view_literals;
    for (const auto name : {"log-1.json"sv, "key|id"sv, ".hidden"sv, "..."sv}) {
        EXPECT_TRUE(CVFileCache::isPlainFilename(name)) << name;
    }
    for (const auto name : {"../escape"sv, "a/b"sv, ""sv, "."sv, ".."sv, "a\0b"sv}) {
        EXPECT_FALSE(CVFileCache::isPlainFilename(name)) << name;
        EXPECT_FALSE(cache_->saveDataWithFilename(bytes("x"), name));
        EXPECT_EQ(cache_->cachedDataForFilename(name), std::nullopt);
    }
    EXPECT_EQ(entriesOf(folder_), std::vector<fs::path>{folder_ / "log-1.json"});
    EXPECT_FALSE(fs::exists(folder_.parent_path() / "escape"));
    EXPECT_TRUE(log_.sink().contains("-[CVFileCache saveData:filename:] [E] invalid cache file name '../escape'"));
}

TEST_F(FileCacheTest, SizeCountsFilesAndFoldersAtAllLevels) {
    EXPECT_EQ(cache_->cacheSize(), 0u);
    ASSERT_TRUE(cache_->saveData(std::vector<std::uint8_t>(10, 'a'), "top.json"));
    ASSERT_FALSE(platform::writeFileAtomically(folder_ / "tiles/3/a.png", std::string(100, 'b')));
    ASSERT_FALSE(platform::writeFileAtomically(folder_ / "tiles/3/7/b.png", std::string(1000, 'c')));
    // A link back up counts as the link itself and is not walked into.
    fs::create_directory_symlink("..", folder_ / "tiles/up");

    const auto folders = ownSize(folder_ / "tiles") + ownSize(folder_ / "tiles/3") + ownSize(folder_ / "tiles/3/7");
    EXPECT_EQ(cache_->cacheSize(), 1110u + folders + ownSize(folder_ / "tiles/up"));

    cache_->removeCacheFolder();
    EXPECT_EQ(cache_->cacheSize(), 0u);
    EXPECT_TRUE(test::waitFor([&] { return entriesOf(folder_.parent_path()).empty(); }));
}

TEST_F(FileCacheTest, FolderRemovalFreesThePathAtOnceAndDeletesInTheBackgroundAgainAndAgain) {
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(cache_->saveData(bytes("data"), "item" + std::to_string(i) + ".json"));
    cache_->removeCacheFolder();
    EXPECT_FALSE(fs::exists(folder_));
    ASSERT_TRUE(cache_->createCacheFolderIfNeeded());
    EXPECT_TRUE(fs::is_directory(folder_) && entriesOf(folder_).empty());

    ASSERT_TRUE(cache_->saveData(bytes("1"), "a.json"));
    ASSERT_TRUE(cache_->clearCache());  // an earlier moved folder may still be there
    ASSERT_TRUE(cache_->saveData(bytes("2"), "b.json"));
    ASSERT_TRUE(cache_->clearCache());
    EXPECT_TRUE(entriesOf(folder_).empty());
    EXPECT_TRUE(onlyLeft({folder_}));

    // A stale moved-aside folder does not block the move, and is not ours to delete.
    ASSERT_FALSE(platform::writeFileAtomically(movedAside_ / "left-over.json", "old"));
    cache_->removeCacheFolder();
    cache_->removeCacheFolder();  // gone already: nothing to do
    EXPECT_FALSE(fs::exists(folder_));
    EXPECT_TRUE(onlyLeft({movedAside_}));
    EXPECT_EQ(platform::readTextFile(movedAside_ / "left-over.json"), "old");
    EXPECT_TRUE(log_.sink().messages().empty());
}

TEST_F(FileCacheTest, FolderRemovalFailedMoveDeletesInPlace) {
    // One name past the system's limit once ".DELETED" is added.
    const auto longFolder = root_ / std::string(250, 'c');
    auto cache = CVFileCache::newWithFolder(longFolder);
    ASSERT_NE(cache, nullptr);
    ASSERT_TRUE(cache->saveData(bytes("x"), "a.json"));

    cache->removeCacheFolder();
    EXPECT_FALSE(fs::exists(longFolder));
    EXPECT_TRUE(log_.sink().contains("-[CVFileCache removeCacheFolder] [E] failed to rename cache at '" +
                                     longFolder.string() + "' to '" + longFolder.string() +
                                     ".DELETED', err=File name too long"));
    EXPECT_FALSE(log_.sink().contains("failed to remove cache at"));
}

TEST_F(FileCacheTest, CachedJsonIsParsedAndMalformedOrUnreadableGivesNone) {
    const std::string url = "https://example.com/api/solution.json";
    EXPECT_EQ(dictionaryFromCachedFileForUrl(*cache_, url), std::nullopt);
    const std::string text = R"({"id":"s1","venues":[{"name":"HQ"}],"v":2})";
    ASSERT_TRUE(cache_->saveData(bytes(text), url));
    EXPECT_THAT(dictionaryFromCachedFileForUrl(*cache_, url), testing::Optional(test::JsonEq(text)));
    EXPECT_TRUE(log_.sink().messages().empty());

    ASSERT_TRUE(cache_->saveData(bytes(R"({"id":"s1",)"), url));
    EXPECT_EQ(dictionaryFromCachedFileForUrl(*cache_, url), std::nullopt);
    const auto messages = log_.sink().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message,
              "-[CVFileCache(NSDictionary) dictionaryFromCachedFileForUrl:] [E] Failed to load "
              "JSON from " +
                  cache_->pathForCachingItem(url)->string());

    ASSERT_TRUE(cache_->removeDataForItem(url));
    fs::create_directory(*cache_->pathForCachingItem(url));
    EXPECT_EQ(dictionaryFromCachedFileForUrl(*cache_, url), std::nullopt);
    EXPECT_TRUE(log_.sink().contains("[E] Failed to read cached file at "));
}

// Cached files with what is known about them kept on the file itself.
class FileAttributesTest : public FileCacheTest {
protected:
    void SetUp() override {
        FileCacheTest::SetUp();
        ASSERT_TRUE(cache_->saveData(bytes("{}"), "venues-en.json"));
        if (platform::setExtendedAttribute(file_, "probe", "1") == std::errc::operation_not_supported) {
            GTEST_SKIP() << "the temp folder's file system has no user extended attributes";
        }
        ASSERT_FALSE(platform::removeExtendedAttribute(file_, "probe"));
    }

    // What another reader of the file sees under the attribute's name, in the namespace open to every program.
    [[nodiscard]] std::optional<std::string> stored(std::string_view name) const {
        return platform::getExtendedAttribute(file_, "user." + std::string(name));
    }

    const fs::path file_ = folder_ / "venues-en.json";
};

TEST_F(FileAttributesTest, TheCacheFindsItemsByApiEndpoint) {
    ASSERT_TRUE(cache_->saveData(bytes("2"), "venues-de.json"));
    ASSERT_TRUE(cache_->saveData(bytes("3"), "buildings.json"));
    ASSERT_FALSE(platform::writeFileAtomically(folder_ / "tiles/venues.json", "4"));
    for (const auto& [name, endpoint] : {std::pair{"venues-en.json", "/api/venues"},
                                         {"venues-de.json", "/api/venues"},
                                         {"buildings.json", "/api/buildings"},
                                         {"tiles", "/api/venues"},
                                         {"tiles/venues.json", "/api/venues"}}) {  // the last is no direct entry
        ASSERT_TRUE(xattr_setApiEndpoint(folder_ / name, endpoint));
    }

    EXPECT_EQ(CVFileCache::pathsForCacheItemsWithApiEndpointAttr("/api/venues", folder_),
              (std::vector<fs::path>{folder_ / "tiles", folder_ / "venues-de.json", folder_ / "venues-en.json"}));
    EXPECT_TRUE(CVFileCache::pathsForCacheItemsWithApiEndpointAttr("/api/floors", folder_).empty());
    EXPECT_TRUE(CVFileCache::pathsForCacheItemsWithApiEndpointAttr("", folder_).empty());
    EXPECT_TRUE(CVFileCache::pathsForCacheItemsWithApiEndpointAttr("/api/venues", root_ / "missing").empty());
}

TEST_F(FileAttributesTest, RawValuesRoundTripAndMissingEmptyOrUnreadableOnesReadAsNone) {
    const std::string_view name = "tilecache:url";
    EXPECT_EQ(xattr_valueForAttribute(file_, name), std::nullopt);
    EXPECT_TRUE(xattr_setValue(file_, "https://example.com/tiles/{z}", name));
    EXPECT_EQ(stored(name), "https://example.com/tiles/{z}");
    EXPECT_TRUE(xattr_setValue(file_, "Zürich", name));  // replaces, UTF-8 kept
    EXPECT_EQ(xattr_valueForAttribute(file_, name), "Zürich");
    EXPECT_TRUE(xattr_setValue(file_, std::nullopt, name));
    EXPECT_EQ(stored(name), std::nullopt);
    EXPECT_TRUE(xattr_setValue(file_, std::nullopt, name));  // nothing to remove is no failure
    EXPECT_TRUE(xattr_removeAttribute(file_, name));

    ASSERT_TRUE(xattr_setValue(file_, "", name));
    EXPECT_EQ(stored(name), "");  // written, but empty
    EXPECT_EQ(xattr_valueForAttribute(file_, name), std::nullopt);
    ASSERT_FALSE(platform::setExtendedAttribute(file_, name, "\xFF\xFE"));
    EXPECT_EQ(xattr_valueForAttribute(file_, name), std::nullopt);

    const auto missing = folder_ / "missing.json";
    EXPECT_EQ(xattr_valueForAttribute(missing, name), std::nullopt);
    EXPECT_FALSE(xattr_setValue(missing, "x", name));
    EXPECT_FALSE(xattr_setValue(missing, std::nullopt, name));

    EXPECT_FALSE(xattr_setValue(file_, "x", ""));
    EXPECT_FALSE(xattr_removeAttribute(file_, ""));
    EXPECT_EQ(xattr_valueForAttribute(file_, ""), std::nullopt);
}

TEST_F(FileAttributesTest, TextAttributesRoundTripUnderTheirStoredNames) {
    using Path = const std::filesystem::path&;
    const std::tuple<std::string_view, std::optional<std::string> (*)(Path),
                     bool (*)(Path, std::optional<std::string_view>)>
        attributes[] = {{"com.corvay.last-modified", xattr_lastModified, xattr_setLastModified},
                        {"com.corvay.url", xattr_downloadUrl, xattr_setDownloadUrl},
                        {"com.corvay.content-language", xattr_contentLanguage, xattr_setContentLanguage},
                        {"com.corvay.api-endpoint", xattr_apiEndpoint, xattr_setApiEndpoint}};
    for (const auto& [name, get, set] : attributes) {
        SCOPED_TRACE(name);
        EXPECT_EQ(get(file_), std::nullopt);
        ASSERT_TRUE(set(file_, "Tue, 14 Nov 2023 22:13:20 GMT"));
        EXPECT_EQ(stored(name), "Tue, 14 Nov 2023 22:13:20 GMT");
        EXPECT_EQ(get(file_), "Tue, 14 Nov 2023 22:13:20 GMT");
        ASSERT_TRUE(set(file_, std::nullopt));
        EXPECT_EQ(stored(name), std::nullopt);
    }
}

TEST_F(FileAttributesTest, DownloadDateIsStoredAndReadAsWholeSignedSeconds) {
    ASSERT_TRUE(xattr_setDownloadDate(file_, Clock::time_point(1700000000s + 750ms)));
    EXPECT_EQ(stored("com.corvay.download-date"), "1700000000");
    EXPECT_EQ(xattr_downloadDate(file_), Clock::time_point(1700000000s));

    EXPECT_FALSE(xattr_setDownloadDate(file_, Clock::time_point(-2s)));  // no unsigned form: refused
    EXPECT_EQ(stored("com.corvay.download-date"), "1700000000");

    ASSERT_TRUE(xattr_setDownloadDate(file_, std::nullopt));
    EXPECT_EQ(stored("com.corvay.download-date"), std::nullopt);

    // Other writers may leave any text; only a whole number the clock can hold is a date.
    const std::pair<std::string_view, std::optional<std::int64_t>> cases[] = {
        {"1700000000", 1700000000}, {"-86400", -86400},    {"10000000000", std::nullopt},  // past the clock's range
        {"17e8", std::nullopt},     {" 17", std::nullopt}, {"date", std::nullopt},
    };
    for (const auto& [text, seconds] : cases) {
        ASSERT_FALSE(platform::setExtendedAttribute(file_, "com.corvay.download-date", text));
        std::optional<Clock::time_point> expected;
        if (seconds) expected = Clock::time_point(std::chrono::seconds(*seconds));
        EXPECT_EQ(xattr_downloadDate(file_), expected) << text;
    }
}

}  // namespace
}  // namespace ambrell

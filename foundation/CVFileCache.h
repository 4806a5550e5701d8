#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell {

// A folder of cached files, one per item (usually a URL's text), named by the
// item's cache key. The object holds only the folder's path; everything else
// is on disk, so its operations are const and may run on any thread. Writes
// are atomic: a reader sees the old content or the new, never half of it.
// Nothing throws: failures are logged on CVLog::core() and come back as
// false or none.
class CVFileCache {
public:
    using Path = std::filesystem::path;
    using Bytes = std::vector<std::uint8_t>;

    // Creates the folder with its missing parents. None (after logging) when
    // it cannot be created, or when the path is empty or names no folder of
    // its own ("/", ".", ".."), which removing the cache would wipe out.
    [[nodiscard]] static std::shared_ptr<CVFileCache> newWithFolder(const Path& folder);
    [[nodiscard]] static std::optional<CVFileCache> initWithFolder(const Path& folder);

    // Without a trailing separator.
    [[nodiscard]] const Path& cacheFolder() const { return cacheFolder_; }

    // Creates the folder again after it was removed.
    bool createCacheFolderIfNeeded() const;

    // The file name for an item: "/" and "%20" become "_", and so does every
    // "." but the last, which keeps the extension ("a/b.c/d.json" gives
    // "a_b_c_d.json"). A key longer than a file name may be (255 bytes) keeps
    // its first 128 bytes, then "~" and the lower-case hexadecimal SHA-256 of
    // the whole key. None for an empty item, and for keys that would name no
    // file of the folder ("." or a NUL byte).
    [[nodiscard]] static std::optional<std::string> cacheKeyForCachingItem(std::string_view item);
    // The folder and the item's key, whether or not a file is there.
    [[nodiscard]] static std::optional<Path> pathForCachingItem(std::string_view item, const Path& folder);
    // The same path, when a file or folder exists there.
    [[nodiscard]] static std::optional<Path> pathForCachedItem(std::string_view item, const Path& folder);
    // The folder's direct entries whose api-endpoint attribute is the given
    // text, sorted; empty when the folder cannot be read.
    [[nodiscard]] static std::vector<Path> pathsForCacheItemsWithApiEndpointAttr(std::string_view endpoint,
                                                                                 const Path& folder);

    [[nodiscard]] std::optional<Path> pathForCachingItem(std::string_view item) const;
    [[nodiscard]] std::optional<Path> pathForCachedItem(std::string_view item) const;

    [[nodiscard]] std::optional<Bytes> cachedDataForItem(std::string_view item) const;
    // False when the data or the item's key is absent, or the write fails.
    bool saveData(std::optional<std::span<const std::uint8_t>> data, std::string_view item) const;

    // Whether the name stays inside the folder it is joined to: not empty,
    // ".", "..", nor holding "/" or NUL.
    [[nodiscard]] static bool isPlainFilename(std::string_view name);

    // Files named as they are, not by a key; names that are not plain are refused.
    bool saveDataWithFilename(std::optional<std::span<const std::uint8_t>> data, std::string_view filename) const;
    [[nodiscard]] std::optional<Bytes> cachedDataForFilename(std::string_view filename) const;

    // Removes the item's file (or folder); a missing one is logged as a
    // failure too.
    bool removeDataForItem(std::string_view item) const;

    // Moves the folder aside to "<folder>.DELETED" and deletes it there in the
    // background, so the folder's path is free at once. When that name is
    // still taken by an earlier removal, the folder goes to
    // "<folder>.<UUID>.DELETED" instead. When the move fails, the folder is
    // deleted in place. A missing folder is left alone.
    void removeCacheFolder() const;
    // Removes the folder and creates it again, empty.
    bool clearCache() const;

    // The sizes of every file and folder below the cache folder, at all
    // levels (symbolic links are not followed); 0 for a missing folder.
    [[nodiscard]] std::uint64_t cacheSize() const;

private:
    explicit CVFileCache(Path folder) : cacheFolder_(std::move(folder)) {}
    static std::optional<Path> folderForCache(const Path& folder);
    bool createFolder(std::string_view operation) const;
    std::optional<Path> pathForFilename(std::string_view filename, std::string_view operation) const;
    bool write(std::span<const std::uint8_t> data, const Path& path, std::string_view operation) const;

    Path cacheFolder_;
};

}  // namespace ambrell

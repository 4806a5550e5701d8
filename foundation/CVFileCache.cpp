#include "foundation/CVFileCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

#include <boost/asio/post.hpp>
#include <openssl/evp.h>

#include "Ambrell/CVLog.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVInternalStringUtils.h"
#include "platform/FileSystem.h"
#include "platform/UUID.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kInitOperation = "-[CVFileCache initWithFolder:]";
constexpr std::string_view kCreateOperation = "-[CVFileCache createCacheFolderIfNeeded]";
constexpr std::string_view kRemoveItemOperation = "-[CVFileCache removeDataForItem:]";
constexpr std::string_view kRemoveFolderOperation = "-[CVFileCache removeCacheFolder]";
constexpr std::string_view kSaveItemOperation = "-[CVFileCache saveData:item:]";
constexpr std::string_view kSaveFilenameOperation = "-[CVFileCache saveData:filename:]";
constexpr std::string_view kReadFilenameOperation = "-[CVFileCache cachedDataForFilename:]";

std::error_code lastError() { return {errno, std::generic_category()}; }

// NAME_MAX of the Linux file systems: a longer name cannot be created at all.
constexpr std::size_t kMaxFilenameLength = 255;
constexpr std::size_t kShortenedPrefixLength = 128;

// A key too long for a file name keeps a readable start and gains the
// SHA-256 of the whole key, so the name stays the same from run to run and
// two long keys with the same start still name different files. A strong
// hash, as a clash would serve one URL's content for another's.
std::string shortenedKey(const std::string& key) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestLength = 0;
    std::size_t prefixLength = kShortenedPrefixLength;
    // Never ends inside a UTF-8 sequence, so the name stays valid text when the key was.
    while (prefixLength > 0 && (static_cast<unsigned char>(key[prefixLength]) & 0xC0U) == 0x80U) --prefixLength;
    std::string name = key.substr(0, prefixLength);
    name += '~';
    if (EVP_Digest(key.data(), key.size(), digest.data(), &digestLength, EVP_sha256(), nullptr) != 1) {
        // Without a digest the start of the key alone would let different
        // keys share a file; the 64-bit FNV-1a of the tree is the fallback.
        const std::uint64_t hash = CVInternalStringUtils::fnv1a64(key);
        digestLength = 0;
        for (int shift = 56; shift >= 0; shift -= 8) digest[digestLength++] = static_cast<unsigned char>(hash >> shift);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < digestLength; ++i) {
        name += kHex[digest[i] >> 4U];
        name += kHex[digest[i] & 0x0FU];
    }
    return name;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::string result;
    result.reserve(text.size());
    std::size_t start = 0;
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
        result.append(text, start, at - start).append(to);
        start = at + from.size();
    }
    result.append(text, start, std::string::npos);
    text = std::move(result);
}

// Unlike std::filesystem::rename, never replaces what is already at the
// destination: an empty folder left there would otherwise be swapped for the
// cache silently, and a folder still being deleted could be raced.
std::error_code renameWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL) return lastError();
    // EINVAL also stands for a file system without the flag; check by hand there.
    struct stat status {};
    if (::lstat(to.c_str(), &status) == 0) return std::make_error_code(std::errc::file_exists);
    if (::rename(from.c_str(), to.c_str()) != 0) return lastError();
    return {};
}

// The folder's new name, and the move itself.
std::error_code moveAside(const fs::path& folder, fs::path& movedTo) {
    movedTo = folder;
    movedTo += ".DELETED";
    auto error = renameWithoutReplacing(folder, movedTo);
    // A few tries: a clash of two random names is next to impossible.
    for (int attempt = 0; error == std::errc::file_exists && attempt < 4; ++attempt) {
        std::string name = folder.filename().string();
        name.append(".").append(platform::UUID::random().uuidString()).append(".DELETED");
        movedTo = folder.parent_path() / name;
        error = renameWithoutReplacing(folder, movedTo);
    }
    return error;
}

std::error_code removeAll(const fs::path& path) {
    std::error_code error;
    fs::remove_all(path, error);
    return error;
}

// The entries of each folder are looked up relative to the folder, not by
// their whole path: a synchronised data set holds hundreds of files, and its
// size is taken after every synchronisation. Only one folder is open at a
// time, however many there are.
std::uint64_t sizeOfEntriesBelow(const fs::path& folder) {
    std::uint64_t total = 0;
    std::vector<fs::path> pending{folder};
    while (!pending.empty()) {
        const auto current = std::move(pending.back());
        pending.pop_back();
        DIR* listing = ::opendir(current.c_str());
        if (listing == nullptr) continue;
        const int descriptor = ::dirfd(listing);
        while (const dirent* entry = ::readdir(listing)) {
            const std::string_view name(entry->d_name);
            if (name == "." || name == "..") continue;
            // Not followed: a link counts as itself, and a link to a folder
            // above cannot make the walk loop.
            struct stat status {};
            if (::fstatat(descriptor, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
            total += static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
            if (S_ISDIR(status.st_mode)) pending.push_back(current / name);
        }
        ::closedir(listing);
    }
    return total;
}

}  // namespace

bool CVFileCache::isPlainFilename(std::string_view name) {
    constexpr std::string_view kSeparators("/\0", 2);
    return !name.empty() && name != "." && name != ".." && name.find_first_of(kSeparators) == std::string_view::npos;
}

std::optional<fs::path> CVFileCache::folderForCache(const Path& folder) {
    auto normal = folder.lexically_normal();
    if (!normal.empty() && !normal.has_filename()) normal = normal.parent_path();
    const auto name = normal.filename();
    if (name.empty() || name == "." || name == ".." || platform::validateSystemPath(normal)) return std::nullopt;
    return normal;
}

std::shared_ptr<CVFileCache> CVFileCache::newWithFolder(const Path& folder) {
    auto cache = initWithFolder(folder);
    if (!cache) return nullptr;
    return std::make_shared<CVFileCache>(std::move(*cache));
}

std::optional<CVFileCache> CVFileCache::initWithFolder(const Path& folder) {
    const auto usable = folderForCache(folder);
    if (!usable) {
        CVLog::core().error("{} [E] failed to create cache folder at {}, err={}", kInitOperation, folder.string(),
                            std::make_error_code(std::errc::invalid_argument).message());
        return std::nullopt;
    }
    CVFileCache cache(*usable);
    if (!cache.createFolder(kInitOperation)) return std::nullopt;
    return cache;
}

bool CVFileCache::createCacheFolderIfNeeded() const { return createFolder(kCreateOperation); }

bool CVFileCache::createFolder(std::string_view operation) const {
    std::error_code error;
    fs::create_directories(cacheFolder_, error);
    if (!error && !fs::is_directory(cacheFolder_, error)) error = std::make_error_code(std::errc::not_a_directory);
    if (error) {
        CVLog::core().error("{} [E] failed to create cache folder at {}, err={}", operation, cacheFolder_.string(),
                            error.message());
        return false;
    }
    return true;
}

std::optional<std::string> CVFileCache::cacheKeyForCachingItem(std::string_view item) {
    std::string key(item);
    std::replace(key.begin(), key.end(), '/', '_');
    replaceAll(key, "%20", "_");
    if (const auto lastDot = key.rfind('.'); lastDot != std::string::npos) {
        std::replace(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(lastDot), '.', '_');
    }
    if (key.empty() || key == "." || std::find(key.begin(), key.end(), '\0') != key.end()) return std::nullopt;
    if (key.size() > kMaxFilenameLength) return shortenedKey(key);
    return key;
}

std::optional<fs::path> CVFileCache::pathForCachingItem(std::string_view item, const Path& folder) {
    const auto key = cacheKeyForCachingItem(item);
    if (!key) return std::nullopt;
    return folder / *key;
}

std::optional<fs::path> CVFileCache::pathForCachedItem(std::string_view item, const Path& folder) {
    auto path = pathForCachingItem(item, folder);
    struct stat status {};
    if (!path || ::stat(path->c_str(), &status) != 0) return std::nullopt;
    return path;
}

std::vector<fs::path> CVFileCache::pathsForCacheItemsWithApiEndpointAttr(std::string_view endpoint,
                                                                         const Path& folder) {
    std::vector<fs::path> paths;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (xattr_apiEndpoint(entry->path()) == endpoint) paths.push_back(entry->path());
    }
    // The system lists entries in no particular order.
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::optional<fs::path> CVFileCache::pathForCachingItem(std::string_view item) const {
    return pathForCachingItem(item, cacheFolder_);
}

std::optional<fs::path> CVFileCache::pathForCachedItem(std::string_view item) const {
    return pathForCachedItem(item, cacheFolder_);
}

std::optional<CVFileCache::Bytes> CVFileCache::cachedDataForItem(std::string_view item) const {
    const auto path = pathForCachingItem(item);
    if (!path) return std::nullopt;
    return platform::readFile(*path);
}

bool CVFileCache::saveData(std::optional<std::span<const std::uint8_t>> data, std::string_view item) const {
    const auto path = pathForCachingItem(item);
    if (!data || !path) return false;
    return write(*data, *path, kSaveItemOperation);
}

bool CVFileCache::saveDataWithFilename(std::optional<std::span<const std::uint8_t>> data,
                                       std::string_view filename) const {
    const auto path = pathForFilename(filename, kSaveFilenameOperation);
    if (!data || !path) return false;
    return write(*data, *path, kSaveFilenameOperation);
}

std::optional<CVFileCache::Bytes> CVFileCache::cachedDataForFilename(std::string_view filename) const {
    const auto path = pathForFilename(filename, kReadFilenameOperation);
    if (!path) return std::nullopt;
    return platform::readFile(*path);
}

std::optional<fs::path> CVFileCache::pathForFilename(std::string_view filename, std::string_view operation) const {
    if (!isPlainFilename(filename)) {
        CVLog::core().error("{} [E] invalid cache file name '{}'", operation, filename);
        return std::nullopt;
    }
    return cacheFolder_ / filename;
}

bool CVFileCache::write(std::span<const std::uint8_t> data, const Path& path, std::string_view operation) const {
    if (const auto error = platform::writeFileAtomically(path, data)) {
        CVLog::core().error("{} [E] failed to save cache at '{}', err={}", operation, path.string(), error.message());
        return false;
    }
    return true;
}

bool CVFileCache::removeDataForItem(std::string_view item) const {
    const auto path = pathForCachingItem(item);
    std::error_code error;
    struct stat status {};
    if (!path) {
        error = std::make_error_code(std::errc::invalid_argument);
    } else if (::lstat(path->c_str(), &status) != 0) {
        error = lastError();
    } else {
        error = removeAll(*path);
    }
    if (error) {
        CVLog::core().error("{} [E] failed to remove cache for item '{}', filePath={}, err={}", kRemoveItemOperation,
                            item, path ? path->string() : std::string(), error.message());
        return false;
    }
    return true;
}

void CVFileCache::removeCacheFolder() const {
    struct stat status {};
    if (::lstat(cacheFolder_.c_str(), &status) != 0 && errno == ENOENT) return;

    fs::path movedTo;
    if (const auto renameError = moveAside(cacheFolder_, movedTo); renameError) {
        CVLog::core().error("{} [E] failed to rename cache at '{}' to '{}', err={}", kRemoveFolderOperation,
                            cacheFolder_.string(), movedTo.string(), renameError.message());
        if (const auto error = removeAll(cacheFolder_)) {
            CVLog::core().error("{} [E] failed to remove cache at '{}', err={}", kRemoveFolderOperation,
                                cacheFolder_.string(), error.message());
        }
        return;
    }
    // Deleting a large cache takes a while; the folder's path is already free.
    boost::asio::post(platform::ThreadPool::shared().executor(), [movedTo = std::move(movedTo)] {
        if (const auto error = removeAll(movedTo)) {
            CVLog::core().error("{} [E] failed to remove cache at '{}', err={}", kRemoveFolderOperation,
                                movedTo.string(), error.message());
        }
    });
}

bool CVFileCache::clearCache() const {
    removeCacheFolder();
    return createCacheFolderIfNeeded();
}

std::uint64_t CVFileCache::cacheSize() const { return sizeOfEntriesBelow(cacheFolder_); }

}  // namespace ambrell

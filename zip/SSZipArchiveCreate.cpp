#include <algorithm>
#include <filesystem>

#include "Ambrell/CVLog.h"
#include "zip/MinizipHelpers.h"
#include "zip/SSZipArchive.h"

namespace ambrell {

namespace fs = std::filesystem;

namespace {

// Every item below the folder as a relative path, sorted so that archives
// come out the same each time. Links to folders are not descended into.
std::optional<std::vector<std::string>> listTree(const std::string& directoryPath) {
    std::error_code error;
    fs::recursive_directory_iterator iterator(fs::path(directoryPath), fs::directory_options::none, error);
    if (error) return std::nullopt;
    std::vector<std::string> items;
    for (const fs::recursive_directory_iterator end; iterator != end; iterator.increment(error)) {
        if (error) return std::nullopt;
        items.push_back(iterator->path().lexically_relative(fs::path(directoryPath)).generic_string());
    }
    if (error) return std::nullopt;
    std::sort(items.begin(), items.end());
    return items;
}

std::string appendComponent(const std::string& base, const std::string& component) {
    if (component.empty()) return base;
    if (base.empty()) return component;
    return base.back() == '/' ? base + component : base + "/" + component;
}

bool isEmptyFolder(const std::string& path) {
    std::error_code error;
    return fs::is_empty(fs::path(path), error) && !error;
}

bool isArchiveItself(const std::string& item, const std::string& archive) {
    std::error_code error;
    return fs::equivalent(fs::path(item), fs::path(archive), error) && !error;
}

std::string lastComponent(const std::string& path) {
    fs::path p(path);
    while (!p.empty() && !p.has_filename() && p.has_parent_path() && p != p.parent_path()) p = p.parent_path();
    return p.filename().string();
}

// Each file under its own name, in the order given.
bool packFiles(const std::string& path, const std::vector<std::string>& paths,
               const std::optional<std::string>& password, const SSZipArchiveCreationProgressHandler& progressHandler,
               bool keepSymlinks) {
    SSZipArchive zip(path);
    if (!zip.open()) return false;
    bool success = true;
    std::uint64_t done = 0;
    for (const auto& file : paths) {
        if (keepSymlinks && mz_os_is_symlink(file)) {
            success &= zip.writeSymlinkFileAtPath(file, std::nullopt, -1, password, true);
        } else {
            success &= zip.writeFile(file, password);
        }
        ++done;
        if (progressHandler) progressHandler(done, paths.size());
    }
    success &= zip.close();
    return success;
}

bool packTree(const std::string& path, const std::string& directoryPath, bool keepParentDirectory, int compressionLevel,
              const std::optional<std::string>& password, bool aes,
              const SSZipArchiveCreationProgressHandler& progressHandler, bool keepSymlinks) {
    SSZipArchive zip(path);
    if (!zip.open()) return false;
    auto items = listTree(directoryPath);
    bool success = items.has_value();
    if (!items) items.emplace();
    if (keepParentDirectory && items->empty()) items->push_back("");
    const std::uint64_t total = items->size();
    std::uint64_t done = 0;

    for (const auto& relative : *items) {
        const std::string fullPath = appendComponent(directoryPath, relative);
        // Reading the archive into itself would never end, links kept or not.
        if (isArchiveItself(fullPath, path)) {
            CVLog::core().error(
                "[SSZipArchive] the archive path and the file path: {} are the same, which is forbidden.", fullPath);
            continue;
        }
        const std::string name =
            keepParentDirectory ? appendComponent(lastComponent(directoryPath), relative) : relative;
        std::error_code error;
        const bool isLink = keepSymlinks && mz_os_is_symlink(fullPath);
        if (isLink) {
            success &= zip.writeSymlinkFileAtPath(fullPath, name, compressionLevel, password, aes);
        } else if (fs::is_directory(fs::path(fullPath), error)) {
            if (isEmptyFolder(fullPath)) success &= zip.writeFolderAtPath(fullPath, name, password);
        } else {
            success &= zip.writeFileAtPath(fullPath, name, compressionLevel, password, aes);
        }
        ++done;
        if (progressHandler) progressHandler(done, total);
    }
    success &= zip.close();
    return success;
}

}  // namespace

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths) {
    return createZipFileAtPath(path, paths, std::nullopt);
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
                                       const std::optional<std::string>& password) {
    return createZipFileAtPath(path, paths, password, SSZipArchiveCreationProgressHandler());
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
                                       const std::optional<std::string>& password,
                                       const SSZipArchiveCreationProgressHandler& progressHandler) {
    return packFiles(path, paths, password, progressHandler, false);
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::vector<std::string>& paths,
                                       const std::optional<std::string>& password, bool keepSymlinks) {
    return packFiles(path, paths, password, SSZipArchiveCreationProgressHandler(), keepSymlinks);
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath) {
    return createZipFileAtPath(path, directoryPath, false, std::optional<std::string>());
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                       const std::optional<std::string>& password) {
    return createZipFileAtPath(path, directoryPath, false, password);
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                       const char* password) {
    return createZipFileAtPath(path, directoryPath, false,
                               password ? std::optional<std::string>(password) : std::nullopt);
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                       bool keepParentDirectory) {
    return createZipFileAtPath(path, directoryPath, keepParentDirectory, std::optional<std::string>());
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                       bool keepParentDirectory, const std::optional<std::string>& password) {
    return createZipFileAtPath(path, directoryPath, keepParentDirectory, password,
                               SSZipArchiveCreationProgressHandler());
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                       bool keepParentDirectory, const std::optional<std::string>& password,
                                       const SSZipArchiveCreationProgressHandler& progressHandler) {
    return createZipFileAtPath(path, directoryPath, keepParentDirectory, -1, password, true, progressHandler);
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                       bool keepParentDirectory, int compressionLevel,
                                       const std::optional<std::string>& password, bool aes,
                                       const SSZipArchiveCreationProgressHandler& progressHandler) {
    return packTree(path, directoryPath, keepParentDirectory, compressionLevel, password, aes, progressHandler, false);
}

bool SSZipArchive::createZipFileAtPath(const std::string& path, const std::string& directoryPath,
                                       bool keepParentDirectory, int compressionLevel,
                                       const std::optional<std::string>& password, bool aes,
                                       const SSZipArchiveCreationProgressHandler& progressHandler, bool keepSymlinks) {
    return packTree(path, directoryPath, keepParentDirectory, compressionLevel, password, aes, progressHandler,
                    keepSymlinks);
}

}  // namespace ambrell

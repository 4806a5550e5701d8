#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "Ambrell/CVLog.h"
#include "zip/DestinationFolder.h"
#include "zip/SSZipArchive.h"
#include "zip/ZipArchiveReader.h"
#include "zip/ZipErrors.h"
#include "zip/ZipHelpers.h"
#include "zip/ZipResultCodes.h"

namespace ambrell {

namespace {

constexpr unsigned kReadBufferSize = 4096;
// Output is written in blocks of this many bytes.
constexpr std::size_t kWriteBufferSize = 65536;
// Longer targets than the system takes are refused before reading on.
constexpr std::size_t kLongestLinkTarget = 4096;

using zipio::zipArchiveError;

std::error_code lastError() { return {errno, std::generic_category()}; }

// The destination joined with a relative path as one more component: a
// leading "/" does not make it absolute and no separator is doubled.
std::string joinPath(const std::string& destination, const std::string& relative) {
    std::string result = destination;
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    for (const auto& component : zipio::pathComponents(relative)) {
        if (result.empty() || result.back() != '/') result += '/';
        result += component;
    }
    return result;
}

bool hasZipExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4) return false;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "zip";
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// A file being written beside its target. A target that is not there yet
// gets an unnamed file that is linked under its name only once the entry
// checked out: a failure, or the process's end, leaves nothing behind. A
// target that is there, or a file system without unnamed files, gets a
// file under a name of its own that replaces the target only once the entry
// checked out; until then any failure removes it, so a damaged entry never
// replaces what was there.
class PendingFile {
public:
    PendingFile(int folder, pid_t pid) : folder_(folder), pid_(pid) {}
    ~PendingFile() {
        fd_.reset();
        if (!name_.empty() && !placed_) ::unlinkat(folder_, name_.c_str(), 0);
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // False with errno set when no file could be made. A missing target
    // may get an unnamed file.
    bool create(bool targetMissing) {
        if (targetMissing && unnamedFilesWork().load(std::memory_order_relaxed)) {
            fd_ = zipio::UniqueFd(::openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
            if (fd_) {
                unnamed_ = true;
                return true;
            }
        }
        return createNamed();
    }
    [[nodiscard]] int fd() const { return fd_.get(); }
    // Closes the file; false with errno set when its last bytes could not be
    // written. An unnamed file stays open until it is linked.
    bool close() { return unnamed_ || ::close(fd_.release()) == 0; }
    // Gives the file the name, replacing whatever file or link has it; false
    // with errno set.
    bool place(const std::string& leaf) {
        if (unnamed_) {
            if (link(leaf.c_str())) {
                placed_ = true;
                if (::close(fd_.release()) == 0) return true;
                // Its last bytes are lost: it must not stay under the name.
                const int number = errno;
                ::unlinkat(folder_, leaf.c_str(), 0);
                errno = number;
                return false;
            }
            // Something took the name meanwhile, or unnamed files cannot be
            // linked here: the file goes in under a name of its own.
            if (!nameUnnamed()) return false;
        }
        if (::renameat(folder_, name_.c_str(), folder_, leaf.c_str()) != 0) return false;
        placed_ = true;
        return true;
    }

private:
    // Cleared for the process once an unnamed file could not be linked.
    static std::atomic<bool>& unnamedFilesWork() {
        static std::atomic<bool> works{true};
        return works;
    }

    bool createNamed() {
        static std::atomic<std::uint64_t> counter{0};
        // Short, so that a long target name cannot make it too long.
        for (int attempt = 0; attempt < 64; ++attempt) {
            name_ = fmt::format(".ambrell-unzip-{}-{}", pid_, counter.fetch_add(1, std::memory_order_relaxed));
            fd_ = zipio::UniqueFd(
                ::openat(folder_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (fd_) return true;
            if (errno != EEXIST) break;
        }
        const int number = errno;
        name_.clear();
        errno = number;
        return false;
    }

    // Links the open unnamed file under the name, which must be free.
    bool link(const char* leaf) const {
        // Without the capability this needs, the kernel answers ENOENT.
        if (::linkat(fd_.get(), "", folder_, leaf, AT_EMPTY_PATH) == 0) return true;
        if (errno != ENOENT && errno != EPERM) return false;
        const std::string self = fmt::format("/proc/self/fd/{}", fd_.get());
        return ::linkat(AT_FDCWD, self.c_str(), folder_, leaf, AT_SYMLINK_FOLLOW) == 0;
    }

    // The unnamed file, finished, under a name of its own: linked when a
    // link can be made, else copied with its mode and dates.
    bool nameUnnamed() {
        const bool taken = errno == EEXIST;
        for (int attempt = 0; attempt < 64 && taken; ++attempt) {
            static std::atomic<std::uint64_t> counter{0};
            std::string name =
                fmt::format(".ambrell-unzip-{}-l{}", pid_, counter.fetch_add(1, std::memory_order_relaxed));
            if (link(name.c_str())) {
                name_ = std::move(name);
                unnamed_ = false;
                return ::close(fd_.release()) == 0;
            }
            if (errno != EEXIST) break;
        }
        unnamedFilesWork().store(false, std::memory_order_relaxed);
        zipio::UniqueFd source = std::move(fd_);
        unnamed_ = false;
        struct stat facts {};
        if (::fstat(source.get(), &facts) != 0 || !createNamed()) return false;
        off_t offset = 0;
        while (offset < facts.st_size) {
            const ssize_t n = ::copy_file_range(source.get(), &offset, fd_.get(), nullptr,
                                                static_cast<std::size_t>(facts.st_size - offset), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                return false;
            }
        }
        const timespec times[2] = {{0, UTIME_OMIT}, facts.st_mtim};
        ::futimens(fd_.get(), times);
        ::fchmod(fd_.get(), facts.st_mode & 07777);
        return ::close(fd_.release()) == 0;
    }

    int folder_;
    pid_t pid_;
    std::string name_;
    zipio::UniqueFd fd_;
    bool unnamed_ = false;
    bool placed_ = false;
};

// The platform's file domain and its code for a volume out of space.
constexpr std::string_view kFileErrorDomain = "NSCocoaErrorDomain";
constexpr std::int64_t kFileWriteOutOfSpaceError = 640;

struct DateRecord {
    std::string path;
    std::vector<std::string> components;
    std::chrono::system_clock::time_point modDate;
    // A file that got this date when it was written keeps it: nothing later
    // in the extraction touches it, so the pass after the loop skips it.
    bool applied = false;
};

// Folders opened lately, kept open while entries go on into them: the
// entries of a folder mostly come together.
constexpr std::size_t kOpenFoldersKept = 16;

// Settings of one extraction, as the worker received them.
struct Request {
    const std::string& path;
    const std::string& destination;
    bool preserveAttributes;
    bool overwrite;
    int nestedZipLevel;
    const std::optional<std::string>& password;
    SSZipArchiveDelegate* delegate;
    const SSZipArchiveProgressHandler& progressHandler;
};

// One extraction pass over an open archive. Each method handles one step
// of an entry and returns false when the loop must stop.
class Extraction {
public:
    Extraction(const Request& request, zipio::ZipArchiveReader& archive, long total)
        : request_(request), archive_(archive), total_(total) {}

    // The loop over the entries; false when it was stopped by the delegate.
    bool run(std::uint64_t archiveSize);
    void applyFolderDates();

    bool success = true;
    int lastCloseResult = zipio::kResultOk;
    std::optional<platform::NSError> pending;

private:
    enum class Step { next, stop, stopByDelegate };

    Step handleEntry(std::uint64_t archiveSize);
    Step skipEntry();
    Step fail(platform::NSError error);
    bool ensureDestination(std::error_code& error);
    Step writeFile(int folder, const std::string& leaf, int targetState, const std::string& fullPath,
                   const std::vector<std::string>& components, const unz_file_info& info);
    Step writeSymlink(const std::string& fullPath, const std::vector<std::string>& components);
    // True when the file got the entry's date.
    bool applyFileAttributes(int fd, const unz_file_info& info, std::chrono::system_clock::time_point date);
    // The folder, created with its missing parents; owned by the cache.
    int openFolder(const std::vector<std::string>& components, bool& created, std::error_code& error);
    bool unzipNested(const std::string& fullPath, const std::vector<std::string>& components);
    // Whether the name is known to be free in the folder without asking.
    // Only when entries replace what is there: where names differ only by
    // case, the system may still find one.
    [[nodiscard]] bool isFreeInMadeFolder(const std::vector<std::string>& folder, const std::string& leaf) const {
        if (!request_.overwrite) return false;
        const auto made = madeFolders_.find(folder);
        return made != madeFolders_.end() && !made->second.contains(leaf);
    }
    void forgetFolders() {
        openFolders_.clear();
        madeFolders_.clear();
    }
    // Closes the entry, which checks its CRC, size and authentication code;
    // false when they do not check out.
    bool closeEntryChecked();

    const Request& request_;
    zipio::ZipArchiveReader& archive_;
    long total_;
    long currentFileNumber_ = -1;
    std::uint64_t compressedSoFar_ = 0;
    std::unique_ptr<zipio::DestinationFolder> folder_;
    std::vector<DateRecord> records_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kWriteBufferSize);
    bool entryClosed_ = false;
    struct OpenFolder {
        std::vector<std::string> components;
        zipio::UniqueFd fd;
    };
    // Most recent last. Emptied whenever a link or a nested archive may have
    // put something else where a kept folder was.
    std::vector<OpenFolder> openFolders_;
    // Folders this extraction made, with every name it has put in each
    // since: nothing else is in them, so a name not listed needs no look-up
    // before it is written. Emptied with the kept folders.
    std::map<std::vector<std::string>, std::set<std::string>> madeFolders_;
    std::optional<std::pair<std::uint32_t, std::chrono::system_clock::time_point>> lastDate_;
    const pid_t pid_ = ::getpid();
};

int Extraction::openFolder(const std::vector<std::string>& components, bool& created, std::error_code& error) {
    created = false;
    for (auto it = openFolders_.rbegin(); it != openFolders_.rend(); ++it) {
        if (it->components == components) return it->fd.get();
    }
    if (!ensureDestination(error)) return -1;
    zipio::UniqueFd fd = folder_->createFolders(components, created, error);
    if (!fd) return -1;
    if (created) madeFolders_[components];
    // Each segment of the path is a name in its parent now.
    std::vector<std::string> parent;
    for (const auto& component : components) {
        if (const auto made = madeFolders_.find(parent); made != madeFolders_.end()) made->second.insert(component);
        parent.push_back(component);
    }
    if (openFolders_.size() == kOpenFoldersKept) openFolders_.erase(openFolders_.begin());
    openFolders_.push_back({components, std::move(fd)});
    return openFolders_.back().fd.get();
}

bool Extraction::closeEntryChecked() {
    lastCloseResult = archive_.closeCurrentEntry();
    entryClosed_ = true;
    if (lastCloseResult != zipio::kResultCrcError) return true;
    success = false;
    return false;
}

// The first failure is the one reported.
Extraction::Step Extraction::fail(platform::NSError error) {
    if (!pending) pending = std::move(error);
    success = false;
    return Step::stop;
}

Extraction::Step Extraction::skipEntry() {
    archive_.closeCurrentEntry();
    const int next = archive_.goToNextEntry();
    if (next == zipio::kResultOk) return Step::next;
    if (next != zipio::kResultEndOfList) return fail(zipArchiveError(-3, "failed to retrieve info for file"));
    return Step::stop;
}

bool Extraction::ensureDestination(std::error_code& error) {
    if (folder_) return true;
    const std::filesystem::path destination(request_.destination);
    std::error_code lookup;
    // Anything but a plain "not there" counts as there.
    const bool existed =
        std::filesystem::symlink_status(destination, lookup).type() != std::filesystem::file_type::not_found;
    folder_ = zipio::DestinationFolder::open(destination, error);
    if (folder_ && !existed) madeFolders_[{}];
    return folder_ != nullptr;
}

bool Extraction::run(std::uint64_t archiveSize) {
    for (;;) {
        switch (handleEntry(archiveSize)) {
            case Step::next: continue;
            case Step::stop: return true;
            case Step::stopByDelegate: return false;
        }
    }
}

Extraction::Step Extraction::handleEntry(std::uint64_t archiveSize) {
    zipio::ZipArchiveReader::Entry entry;
    if (archive_.currentEntry(entry) != zipio::kResultOk) {
        archive_.close();
        return fail(zipArchiveError(-3, "failed to retrieve info for file"));
    }
    const bool withPassword = request_.password && !request_.password->empty();
    if (archive_.openCurrentEntry(withPassword ? std::optional<std::string_view>(*request_.password) : std::nullopt) !=
        zipio::kResultOk) {
        archive_.close();
        return fail(zipArchiveError(-2, "failed to open file in zip file"));
    }
    const unz_file_info& info = entry.info;
    ++currentFileNumber_;

    SSZipArchiveDelegate* delegate = request_.delegate;
    if (delegate && !delegate->zipArchiveShouldUnzipFileAtIndex(currentFileNumber_, total_, request_.path, info)) {
        archive_.close();
        success = false;
        return Step::stopByDelegate;
    }
    if (delegate) delegate->zipArchiveWillUnzipFileAtIndex(currentFileNumber_, total_, request_.path, info);
    compressedSoFar_ += info.compressed_size;
    if (delegate) delegate->zipArchiveProgressEvent(compressedSoFar_, archiveSize);

    const bool isSymlink = _fileIsSymbolicLink(info);
    const std::string rawName(entry.name.c_str());  // a name ends at its first NUL
    const std::string name =
        SSZipArchive::_filenameStringWithCString(rawName.c_str(), info.version, info.flag, rawName.size());
    if (name.starts_with("__MACOSX/")) return skipEntry();

    const bool isDirectory = !rawName.empty() && (rawName.back() == '/' || rawName.back() == '\\');
    const auto sanitized = _sanitizedPath(name);
    const std::string relative = sanitized && !sanitized->empty() ? *sanitized : std::to_string(currentFileNumber_);
    const std::string fullPath = joinPath(request_.destination, relative);
    const auto components = zipio::pathComponents(relative);

    std::optional<std::chrono::system_clock::time_point> folderDate;
    if (request_.preserveAttributes) {
        // Entries mostly share a date, and each conversion asks the system
        // for its time zone file.
        if (!lastDate_ || lastDate_->first != info.dos_date) {
            lastDate_.emplace(info.dos_date, SSZipArchive::_dateWithMSDOSFormat(info.dos_date));
        }
        folderDate = lastDate_->second;
        records_.push_back({fullPath, components, *folderDate});
    }

    // The folder that holds the entry, or the entry's own folder.
    std::vector<std::string> folderComponents = components;
    if (!isDirectory && !folderComponents.empty()) folderComponents.pop_back();
    std::error_code folderError;
    bool created = false;
    const int folder = openFolder(folderComponents, created, folderError);
    if (folder < 0) {
        std::string folderPath = request_.destination;
        for (const auto& component : folderComponents) folderPath = joinPath(folderPath, component);
        const std::string message =
            fmt::format("Failed to create folder \"{}\": {}", folderPath, folderError.message());
        CVLog::core().error("[SSZipArchive] Error: {}", message);
        archive_.closeCurrentEntry();
        if (folderError.value() == ENOSPC) {
            platform::NSError error;
            error.domain = std::string(kFileErrorDomain);
            error.code = kFileWriteOutOfSpaceError;
            error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), message);
            return fail(std::move(error));
        }
        return fail(zipArchiveError(SSZipArchiveErrorCodeFailedToCreateFolder, message, folderError));
    }
    if (created && folderDate) zipio::setModificationDate(folder, *folderDate);

    // What stands at a file's target: 0 for nothing, EEXIST, EISDIR for a
    // folder, or the error number that looking for it gave.
    int targetState = 0;
    if (!isDirectory) {
        struct stat existing {};
        if (components.empty()) {
            targetState = EISDIR;
        } else if (isFreeInMadeFolder(folderComponents, components.back())) {
            targetState = 0;
        } else if (::fstatat(folder, components.back().c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            targetState = S_ISDIR(existing.st_mode) ? EISDIR : EEXIST;
        } else if (errno != ENOENT) {
            targetState = errno;
        }
        const bool exists = targetState == EEXIST || targetState == EISDIR;
        if (exists && !request_.overwrite) return skipEntry();
    }

    Step step = Step::next;
    if (isSymlink) {
        step = writeSymlink(fullPath, components);
    } else if (!isDirectory) {
        const std::string leaf = components.empty() ? std::string() : components.back();
        step = writeFile(folder, leaf, targetState, fullPath, components, info);
    }
    if (step != Step::next) return step;

    if (!entryClosed_) lastCloseResult = archive_.closeCurrentEntry();
    entryClosed_ = false;
    if (lastCloseResult == zipio::kResultCrcError) {
        success = false;
        return Step::stop;
    }
    const int next = archive_.goToNextEntry();
    if (delegate) sendDidUnzipFile(*delegate, currentFileNumber_, total_, request_.path, info, fullPath);
    if (request_.progressHandler) request_.progressHandler(relative, info, currentFileNumber_, total_);
    if (next == zipio::kResultOk) return Step::next;
    // Running out of entries ends the loop; a broken directory is an error.
    if (next != zipio::kResultEndOfList) return fail(zipArchiveError(-3, "failed to retrieve info for file"));
    return Step::stop;
}

Extraction::Step Extraction::writeFile(int folder, const std::string& leaf, int targetState,
                                       const std::string& fullPath, const std::vector<std::string>& components,
                                       const unz_file_info& info) {
    int read = archive_.readCurrentEntry(buffer_.data(), kReadBufferSize);
    if (read < 0) return fail(zipArchiveError(-4, "failed to read contents of file entry"));

    // What stands at the target decides before anything is written: a folder
    // there is left alone, as opening it for writing would fail with EISDIR.
    int number = targetState == EEXIST ? 0 : targetState;
    PendingFile output(folder, pid_);
    if (number == 0 && !output.create(targetState == 0)) number = errno;
    if (number == EISDIR) return Step::next;
    if (number != 0) {
        const std::error_code cause(number, std::generic_category());
        archive_.closeCurrentEntry();
        entryClosed_ = true;
        if (number == EMFILE || number == ENOSPC) {
            const auto error = zipio::posixError(number);
            CVLog::core().error("[SSZipArchive] Failed to open file on unzipping.({})", error.localizedDescription());
            return fail(error);
        }
        const std::string message =
            fmt::format("Failed to open file on unzipping \"{}\": {}", fullPath, cause.message());
        CVLog::core().error("[SSZipArchive] Failed to open file on unzipping.({})", message);
        return fail(zipArchiveError(SSZipArchiveErrorCodeFailedToOpenOutputFile, message, cause));
    }

    // Chunks are read as they always were, but gathered into larger writes.
    std::size_t filled = static_cast<std::size_t>(read);
    while (filled > 0) {
        if (read > 0 && filled + kReadBufferSize <= buffer_.size()) {
            read = archive_.readCurrentEntry(buffer_.data() + filled, kReadBufferSize);
            if (read < 0) return fail(zipArchiveError(-4, "failed to read contents of file entry"));
            filled += static_cast<std::size_t>(read);
            if (read > 0) continue;
        }
        if (!writeAll(output.fd(), buffer_.data(), filled)) {
            CVLog::core().error("[SSZipArchive] {}", "Failed to write file (check your free space)");
            return fail(zipArchiveError(-5, "Failed to write file (check your free space)"));
        }
        filled = 0;
        if (read > 0) {
            read = archive_.readCurrentEntry(buffer_.data(), kReadBufferSize);
            if (read < 0) return fail(zipArchiveError(-4, "failed to read contents of file entry"));
            filled = static_cast<std::size_t>(read);
        }
    }
    if (!closeEntryChecked()) return Step::stop;

    // The record of this entry holds its date, converted once.
    if (request_.preserveAttributes && !records_.empty() &&
        applyFileAttributes(output.fd(), info, records_.back().modDate)) {
        records_.back().applied = true;
    }
    if (!output.close()) {
        CVLog::core().error("[SSZipArchive] {}", "Failed to write file (check your free space)");
        return fail(zipArchiveError(-5, "Failed to write file (check your free space)"));
    }
    if (!output.place(leaf)) {
        // A folder whose name differs only by case, found by the system
        // after all, is left alone as any folder where a file goes.
        if (errno == EISDIR && targetState == 0) return Step::next;
        const std::error_code cause = lastError();
        const std::string message =
            fmt::format("Failed to open file on unzipping \"{}\": {}", fullPath, cause.message());
        CVLog::core().error("[SSZipArchive] Failed to open file on unzipping.({})", message);
        return fail(zipArchiveError(SSZipArchiveErrorCodeFailedToOpenOutputFile, message, cause));
    }

    if (const auto made = madeFolders_.find({components.begin(), components.end() - 1}); made != madeFolders_.end()) {
        made->second.insert(leaf);
    }
    if (request_.nestedZipLevel > 0 && hasZipExtension(leaf)) {
        if (unzipNested(fullPath, components)) ::unlinkat(folder, leaf.c_str(), 0);
        // The inner archive may have put links where kept folders were.
        forgetFolders();
    }
    return Step::next;
}

bool Extraction::unzipNested(const std::string& fullPath, const std::vector<std::string>& components) {
    std::vector<std::string> parent(components.begin(), components.end() - 1);
    std::string holder = request_.destination;
    for (const auto& component : parent) holder = joinPath(holder, component);
    const bool unzipped =
        SSZipArchive::unzipFileAtPath(fullPath, holder, request_.preserveAttributes, request_.overwrite,
                                      request_.nestedZipLevel - 1, request_.password, nullptr, nullptr, {}, {});
    if (unzipped && request_.preserveAttributes && !records_.empty()) records_.pop_back();
    return unzipped;
}

bool Extraction::applyFileAttributes(int fd, const unz_file_info& info, std::chrono::system_clock::time_point date) {
    bool dated = false;
    if (info.dos_date != 0) {
        dated = !zipio::setModificationDate(fd, date);
        if (!dated) CVLog::core().error("[SSZipArchive] Failed to set attributes - whilst setting modification date");
    }
    // Owner read and write are always granted; set-id and sticky bits never.
    const mode_t mode = static_cast<mode_t>(((info.external_fa >> 16) & 0777u) | 0600u);
    if (::fchmod(fd, mode) != 0) {
        CVLog::core().error("[SSZipArchive] Failed to set attributes - whilst setting permissions");
    }
    return dated;
}

Extraction::Step Extraction::writeSymlink(const std::string& fullPath, const std::vector<std::string>& components) {
    std::string target;
    for (;;) {
        const int read = archive_.readCurrentEntry(buffer_.data(), kReadBufferSize);
        if (read < 0) return fail(zipArchiveError(-4, "failed to read contents of file entry"));
        if (read == 0) break;
        target.append(reinterpret_cast<const char*>(buffer_.data()), static_cast<std::size_t>(read));
        if (target.size() > kLongestLinkTarget) break;
    }
    // A link is checked like a file before it is made.
    if (target.size() <= kLongestLinkTarget && !closeEntryChecked()) return Step::stop;

    const std::size_t depth = components.empty() ? 0 : components.size() - 1;
    if (components.empty() || target.size() > kLongestLinkTarget || target.find('\0') != std::string::npos ||
        !zipio::linkTargetStaysInside(target, depth)) {
        const std::string message =
            fmt::format("Refused to create symbolic link at \"{}\" to \"{}\" - the target leaves the destination",
                        fullPath, target.substr(0, std::min(target.find('\0'), std::size_t{256})));
        CVLog::core().error("[SSZipArchive] {}", message);
        return fail(zipArchiveError(SSZipArchiveErrorCodeSymbolicLinkOutsideDestination, message));
    }

    // The link may take the place of a folder kept open.
    forgetFolders();
    std::error_code folderError;
    const std::vector<std::string> parent(components.begin(), components.end() - 1);
    zipio::UniqueFd folder = folder_->openFolder(parent, folderError);
    const std::string& leaf = components.back();
    struct stat existing {};
    if (folder && request_.overwrite && ::fstatat(folder.get(), leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        std::error_code removal;
        if (S_ISDIR(existing.st_mode)) {
            std::filesystem::remove_all(std::filesystem::path(fullPath), removal);
        } else if (::unlinkat(folder.get(), leaf.c_str(), 0) != 0) {
            removal = lastError();
        }
        if (removal) {
            const std::string message =
                fmt::format("Failed to delete existing symbolic link at \"{}\"", removal.message());
            CVLog::core().error("[SSZipArchive] {}", message);
            return fail(zipArchiveError(removal.value(), message));
        }
    }
    if (!folder || ::symlinkat(target.c_str(), folder.get(), leaf.c_str()) != 0) {
        const int number = folder ? errno : folderError.value();
        const std::string message = fmt::format(
            "Failed to create symbolic link at \"{}\" to \"{}\" - symlink() error code: {}", fullPath, target, number);
        CVLog::core().error("[SSZipArchive] {}", message);
        return fail(zipio::posixError(-1, message));
    }
    return Step::next;
}

void Extraction::applyFolderDates() {
    if (!folder_) return;
    for (const auto& record : records_) {
        if (record.applied) continue;
        std::error_code error;
        std::vector<std::string> parent = record.components;
        std::string leaf;
        if (!parent.empty()) {
            leaf = parent.back();
            parent.pop_back();
        }
        zipio::UniqueFd folder = folder_->openFolder(parent, error);
        if (folder) error = zipio::setModificationDateAt(folder.get(), leaf, record.modDate);
        if (error) {
            CVLog::core().error("[SSZipArchive] Set attributes failed for directory: {}.", record.path);
            CVLog::core().error("[SSZipArchive] Error setting directory file modification date attribute: {}",
                                error.message());
        }
    }
}

void report(SSZipArchiveErrorOut error, const SSZipArchiveCompletionHandler& completion,
            const std::optional<std::string>& path, bool result, const std::optional<platform::NSError>& reported) {
    if (error) *error = reported;
    if (completion) completion(path, result, reported);
}

}  // namespace

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool preserveAttributes,
                                   bool overwrite, int nestedZipLevel, const std::optional<std::string>& password,
                                   SSZipArchiveErrorOut error, SSZipArchiveDelegate* delegate,
                                   const SSZipArchiveProgressHandler& progressHandler,
                                   const SSZipArchiveCompletionHandler& completionHandler) {
    if (path.empty() || destination.empty() || path.find('\0') != std::string::npos ||
        destination.find('\0') != std::string::npos) {
        report(error, completionHandler, std::nullopt, false, zipArchiveError(-6, "received invalid argument(s)"));
        return false;
    }
    auto archive = zipio::ZipArchiveReader::open(std::filesystem::path(path));
    if (!archive) {
        report(error, completionHandler, std::nullopt, false, zipArchiveError(-1, "failed to open zip file"));
        return false;
    }

    std::error_code sizeError;
    const auto fileSize = std::filesystem::file_size(std::filesystem::path(path), sizeError);
    const std::uint64_t archiveSize = sizeError ? 0 : fileSize;
    const unz_global_info globalInfo = archive->globalInfo();
    const auto total = static_cast<long>(globalInfo.number_entry & 0xFFFFFFFFu);

    const int first = archive->goToFirstEntry();
    if (first != zipio::kResultOk && first != zipio::kResultEndOfList) {
        archive->close();
        report(error, completionHandler, std::nullopt, false,
               zipArchiveError(-2, "failed to open first file in zip file"));
        return false;
    }

    if (delegate) {
        delegate->zipArchiveWillUnzipArchiveAtPath(path, globalInfo);
        delegate->zipArchiveProgressEvent(0, archiveSize);
    }

    const Request request{path,     destination, preserveAttributes, overwrite, std::max(nestedZipLevel, 0),
                          password, delegate,    progressHandler};
    Extraction extraction(request, *archive, total);
    const bool finished = first == zipio::kResultOk ? extraction.run(archiveSize) : true;
    archive->close();

    bool result = false;
    if (extraction.success) {
        if (preserveAttributes) extraction.applyFolderDates();
        if (delegate) delegate->zipArchiveDidUnzipArchiveAtPath(path, globalInfo, destination);
        result = true;
    }
    if (finished && delegate) delegate->zipArchiveProgressEvent(archiveSize, archiveSize);

    std::optional<platform::NSError> reported = extraction.pending;
    if (!reported && extraction.lastCloseResult == zipio::kResultCrcError) {
        reported = zipArchiveError(-3, "crc check failed for file");
    }
    report(error, completionHandler, path, result, reported);
    return result;
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination) {
    return unzipFileAtPath(path, destination, true, true, 0, std::nullopt, nullptr, nullptr, {}, {});
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination,
                                   SSZipArchiveDelegate* delegate) {
    return unzipFileAtPath(path, destination, true, true, 0, std::nullopt, nullptr, delegate, {}, {});
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                   const std::optional<std::string>& password, SSZipArchiveErrorOut error) {
    return unzipFileAtPath(path, destination, true, overwrite, 0, password, error, nullptr, {}, {});
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                   const std::optional<std::string>& password, SSZipArchiveErrorOut error,
                                   SSZipArchiveDelegate* delegate) {
    return unzipFileAtPath(path, destination, true, overwrite, 0, password, error, delegate, {}, {});
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool overwrite,
                                   const std::optional<std::string>& password,
                                   const SSZipArchiveProgressHandler& progressHandler,
                                   const SSZipArchiveCompletionHandler& completionHandler) {
    return unzipFileAtPath(path, destination, true, overwrite, 0, password, nullptr, nullptr, progressHandler,
                           completionHandler);
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination,
                                   const SSZipArchiveProgressHandler& progressHandler,
                                   const SSZipArchiveCompletionHandler& completionHandler) {
    return unzipFileAtPath(path, destination, true, true, 0, std::nullopt, nullptr, nullptr, progressHandler,
                           completionHandler);
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool preserveAttributes,
                                   bool overwrite, const std::optional<std::string>& password,
                                   SSZipArchiveErrorOut error, SSZipArchiveDelegate* delegate) {
    return unzipFileAtPath(path, destination, preserveAttributes, overwrite, 0, password, error, delegate, {}, {});
}

bool SSZipArchive::unzipFileAtPath(const std::string& path, const std::string& destination, bool preserveAttributes,
                                   bool overwrite, const std::optional<std::string>& password,
                                   SSZipArchiveErrorOut error, SSZipArchiveDelegate* delegate,
                                   const SSZipArchiveProgressHandler& progressHandler,
                                   const SSZipArchiveCompletionHandler& completionHandler) {
    return unzipFileAtPath(path, destination, preserveAttributes, overwrite, 0, password, error, delegate,
                           progressHandler, completionHandler);
}

}  // namespace ambrell

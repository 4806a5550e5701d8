#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/FileDescriptor.h"
#include "platform/UUID.h"

namespace ambrell::platform {

namespace {

using detail::FileDescriptor;
using detail::lastSystemError;

std::error_code writeAll(int descriptor, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return lastSystemError();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return {};
}

// Reads until the end rather than trusting the size: files of /proc and
// files still growing report sizes that do not match what a read returns.
std::error_code readAll(int descriptor, std::vector<std::uint8_t>& bytes) {
    struct stat status {};
    if (::fstat(descriptor, &status) == 0 && status.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(status.st_size));
    std::uint8_t chunk[64 * 1024];
    while (true) {
        const auto got = ::read(descriptor, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return lastSystemError();
        }
        if (got == 0) return {};
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}

void syncFolder(const std::filesystem::path& folder) {
    // Makes the rename itself durable. Best effort: some file systems refuse
    // to sync a folder, and the data is already safe in the renamed file.
    FileDescriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptor.isOpen()) ::fsync(descriptor.get());
}

std::filesystem::path folderOf(const std::filesystem::path& path) {
    auto folder = path.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// A temporary file beside its destination (a rename cannot cross file
// systems), removed unless committed.
class TemporarySibling {
public:
    std::error_code open(const std::filesystem::path& destination) {
        // The destination's name is shortened so that the temporary name stays
        // within the file system's limit whatever the destination's length.
        const auto name = destination.filename().native().substr(0, 100);
        for (int attempt = 0; attempt < 8; ++attempt) {
            const auto suffix = UUID::random().uuidString().substr(0, 18);
            auto candidate = destination.parent_path() / ("." + name + ".tmp-" + suffix);
            // 0666 lets the umask decide, as for any newly created file.
            FileDescriptor descriptor(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (descriptor.isOpen()) {
                path_ = std::move(candidate);
                descriptor_ = std::move(descriptor);
                return {};
            }
            if (errno != EEXIST) return lastSystemError();
        }
        return std::make_error_code(std::errc::file_exists);
    }

    ~TemporarySibling() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    [[nodiscard]] int descriptor() const { return descriptor_.get(); }

    std::error_code commit(const std::filesystem::path& destination) {
        if (::fsync(descriptor_.get()) != 0) return lastSystemError();
        if (auto error = descriptor_.close()) return error;
        if (::rename(path_.c_str(), destination.c_str()) != 0) return lastSystemError();
        path_.clear();
        syncFolder(folderOf(destination));
        return {};
    }

private:
    std::filesystem::path path_;
    FileDescriptor descriptor_;
};

// rename() across file systems: copies the file's contents, permissions and
// dates into place, then removes the source.
std::error_code moveFileAcrossFileSystems(const std::filesystem::path& destination,
                                          const std::filesystem::path& source) {
    FileDescriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input.isOpen()) return lastSystemError();
    struct stat status {};
    if (::fstat(input.get(), &status) != 0) return lastSystemError();
    if (!S_ISREG(status.st_mode)) return std::make_error_code(std::errc::cross_device_link);

    TemporarySibling copy;
    if (auto error = copy.open(destination)) return error;
    std::uint8_t chunk[64 * 1024];
    while (true) {
        const auto got = ::read(input.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return lastSystemError();
        }
        if (got == 0) break;
        if (auto error = writeAll(copy.descriptor(), {chunk, static_cast<std::size_t>(got)})) return error;
    }
    if (::fchmod(copy.descriptor(), status.st_mode & 07777) != 0) return lastSystemError();
    const timespec dates[2] = {status.st_atim, status.st_mtim};
    if (::futimens(copy.descriptor(), dates) != 0) return lastSystemError();
    if (auto error = copy.commit(destination)) return error;
    // The destination now holds everything; a source that cannot be removed
    // is a leftover copy, not a loss.
    ::unlink(source.c_str());
    return {};
}

}  // namespace

std::error_code validateSystemPath(const std::filesystem::path& path) {
    const auto& text = path.native();
    if (text.empty() || text.find('\0') != std::string::npos) return std::make_error_code(std::errc::invalid_argument);
    return {};
}

std::optional<std::vector<std::uint8_t>> readFile(const std::filesystem::path& path) {
    if (validateSystemPath(path)) return std::nullopt;
    FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!descriptor.isOpen()) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    if (readAll(descriptor.get(), bytes)) return std::nullopt;  // EISDIR for a folder
    return bytes;
}

std::optional<std::string> readTextFile(const std::filesystem::path& path) {
    auto bytes = readFile(path);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    if (auto error = validateSystemPath(path)) return error;
    if (!path.has_filename()) return std::make_error_code(std::errc::is_a_directory);
    if (const auto folder = path.parent_path(); !folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) return error;
    }
    TemporarySibling temporary;
    if (auto error = temporary.open(path)) return error;
    if (auto error = writeAll(temporary.descriptor(), bytes)) return error;
    return temporary.commit(path);
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view text) {
    return writeFileAtomically(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::error_code replaceItem(const std::filesystem::path& destination, const std::filesystem::path& source) {
    if (auto error = validateSystemPath(destination)) return error;
    if (auto error = validateSystemPath(source)) return error;
    if (::rename(source.c_str(), destination.c_str()) == 0) return {};
    if (errno != EXDEV) return lastSystemError();
    return moveFileAcrossFileSystems(destination, source);
}

std::optional<std::chrono::system_clock::time_point> modificationDate(const std::filesystem::path& path) {
    if (validateSystemPath(path)) return std::nullopt;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    const auto sinceEpoch =
        std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceEpoch));
}

namespace {

// The access date left as it is, the modification date set.
void modificationDateTimes(std::chrono::system_clock::time_point date, timespec (&dates)[2]) {
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch());
    // Floored so that the nanoseconds stay in [0, 1e9) before 1970 too.
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    dates[0] = timespec{};
    dates[0].tv_nsec = UTIME_OMIT;
    dates[1].tv_sec = static_cast<time_t>(seconds.count());
    dates[1].tv_nsec = static_cast<long>((sinceEpoch - seconds).count());
}

}  // namespace

std::error_code setModificationDate(const std::filesystem::path& path, std::chrono::system_clock::time_point date) {
    if (auto error = validateSystemPath(path)) return error;
    timespec dates[2]{};
    modificationDateTimes(date, dates);
    if (::utimensat(AT_FDCWD, path.c_str(), dates, 0) != 0) return lastSystemError();
    return {};
}

std::error_code setModificationDate(int descriptor, std::chrono::system_clock::time_point date) {
    timespec dates[2]{};
    modificationDateTimes(date, dates);
    if (::futimens(descriptor, dates) != 0) return lastSystemError();
    return {};
}

std::optional<std::uint32_t> permissions(const std::filesystem::path& path) {
    if (validateSystemPath(path)) return std::nullopt;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return static_cast<std::uint32_t>(status.st_mode & 07777);
}

std::error_code setPermissions(const std::filesystem::path& path, std::uint32_t mode) {
    if (auto error = validateSystemPath(path)) return error;
    if ((mode & ~std::uint32_t{07777}) != 0) return std::make_error_code(std::errc::invalid_argument);
    if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) return lastSystemError();
    return {};
}

}  // namespace ambrell::platform

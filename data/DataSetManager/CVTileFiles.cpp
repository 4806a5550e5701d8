#include "data/DataSetManager/CVTileFiles.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include "Ambrell/CVLog.h"
#include "foundation/CVExtendedFileAttributes.h"

namespace ambrell {

namespace fs = std::filesystem;

namespace {

// Far above any map tile; a bigger file is not a tile and is not read whole.
constexpr std::uintmax_t kMaxTileFileSize = 64U * 1024U * 1024U;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    // Some file systems report write errors only here.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0 || errno == EINTR; }

private:
    int fd_;
};

void logWriteFailure(std::string_view reason) { CVLog::core().error("[E] TileCache: writeToFile failed: {}", reason); }

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

bool writeAll(int fd, const std::vector<std::byte>& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::byte>> readTileFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    Descriptor guard(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > kMaxTileFileSize) {
        return std::nullopt;
    }
    std::vector<std::byte> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    // A file that shrank meanwhile gives what it still held.
    bytes.resize(done);
    return bytes;
}

bool tileFileMarksMissingTile(const fs::path& path) {
    std::error_code error;
    const auto status = fs::status(path, error);
    if (error || !fs::exists(status)) return false;
    const auto size = fs::file_size(path, error);
    return error || size == 0;
}

void writeTileFileAtomically(const fs::path& file, const std::vector<std::byte>& bytes, std::string_view attributeName,
                             std::string_view attributeValue) {
    // A short name of its own: the tile's name may already be as long as a
    // name can be.
    std::string temporary = (file.parent_path() / ".tile-XXXXXX").string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        logWriteFailure(file.string() + ": " + errnoText(errno));
        return;
    }
    int failure = 0;
    {
        Descriptor guard(fd);
        if (!writeAll(fd, bytes)) failure = errno;
        if (!guard.close() && failure == 0) failure = errno;
    }
    std::error_code error;
    if (failure != 0) {
        logWriteFailure(file.string() + ": " + errnoText(failure));
        fs::remove(temporary, error);
        return;
    }
    // The tile stays usable without its attribute (it is then fetched again),
    // so a file system without extended attributes costs only the reuse.
    if (!xattr_setValue(temporary, attributeValue, attributeName)) {
        CVLog::core().error("[E] TileCache: setting {} failed for {}", attributeName, file.string());
    }
    ::chmod(temporary.c_str(), 0644);
    fs::rename(temporary, file, error);
    if (error) {
        logWriteFailure(file.string() + ": " + error.message());
        fs::remove(temporary, error);
    }
}

void removeTileFolder(const fs::path& folder) {
    if (folder.empty()) return;
    std::error_code error;
    fs::remove_all(folder, error);
    if (error) CVLog::core().error("[E] Failed removing tileCache: {} (err={})", folder.string(), error.message());
}

}  // namespace ambrell

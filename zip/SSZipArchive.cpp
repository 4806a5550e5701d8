#include "zip/SSZipArchive.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zip.h>
#include <zlib.h>

#include "Ambrell/CVLog.h"
#include "platform/TextEncoding.h"
#include "zip/MinizipHelpers.h"
#include "zip/UniqueFd.h"
#include "zip/ZipCentralDirectory.h"
#include "zip/ZipEntryWriter.h"
#include "zip/ZipHelpers.h"

namespace ambrell {

namespace {

constexpr std::size_t kFileChunk = 16384;
constexpr std::uint16_t kVersionMadeByDarwin = 0x1300;
constexpr std::uint16_t kVersionMadeByUnix = 0x0300;
constexpr std::uint16_t kUtf8NamesFlag = 0x0800;

// Reads the whole descriptor in chunks; false on a read error.
template <typename Consume>
bool readChunks(int fd, Consume&& consume) {
    std::vector<std::uint8_t> buffer(kFileChunk);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!consume(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)))) return false;
    }
}

std::string lastPathComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

SSZipArchive::SSZipArchive(std::string path) : _path(std::move(path)) {}

SSZipArchive::~SSZipArchive() {
    if (_zip) close();
}

bool SSZipArchive::openWithMode(int mode) {
    if (_zip) throw std::logic_error("Attempting to open an archive which is already open");
    if (_path.empty() || _path.find('\0') != std::string::npos) return false;
    _zip = zipOpen64(_path.c_str(), mode);
    if (!_zip && mode == APPEND_STATUS_ADDINZIP) {
        // minizip cannot open an archive without entries; starting it anew
        // gives the same archive.
        const auto directory = zipformat::readCentralDirectory(std::filesystem::path(_path));
        if (directory && directory->entries.empty()) _zip = zipOpen64(_path.c_str(), APPEND_STATUS_CREATE);
    }
    return _zip != nullptr;
}

bool SSZipArchive::open() { return openWithMode(APPEND_STATUS_CREATE); }

bool SSZipArchive::openForAppending() { return openWithMode(APPEND_STATUS_ADDINZIP); }

void SSZipArchive::requireOpen() const {
    if (!_zip) throw std::logic_error("Attempting to write to an archive which was never opened");
}

bool SSZipArchive::close() {
    if (!_zip) throw std::logic_error("[SSZipArchive] Attempting to close an archive which was never opened");
    const int closed = zipClose(static_cast<zipFile>(_zip), nullptr);
    _zip = nullptr;
    bool marked = true;
    if (wroteAes_ && closed == ZIP_OK) marked = zipformat::markAesEntries(std::filesystem::path(_path));
    wroteAes_ = false;
    // minizip writes zip64 end records for offsets past 4 GiB only; past
    // 65,534 entries it leaves a 16-bit count that has wrapped.
    if (closed == ZIP_OK && marked) marked = zipformat::addZip64EndRecords(std::filesystem::path(_path));
    return closed == ZIP_OK && marked;
}

bool SSZipArchive::writeEntry(const std::string& name, const zip_fileinfo& info, int level,
                              const std::optional<std::string>& password, bool aes, bool symlink,
                              const std::vector<std::uint8_t>* data, const std::string* sourcePath) {
    zipio::ZipEntryWriter::Settings settings;
    settings.name = name;
    settings.dosDate = info.dos_date;
    settings.internalAttributes = info.internal_fa;
    settings.externalAttributes = info.external_fa;
    settings.level = level;
    settings.password = password;
    settings.aes = aes;
    settings.versionMadeBy = symlink ? kVersionMadeByUnix : kVersionMadeByDarwin;
    settings.flags = symlink ? 0 : kUtf8NamesFlag;
    settings.zip64 = !symlink;

    zipio::UniqueFd source;
    if (sourcePath) {
        source = zipio::UniqueFd(::open(sourcePath->c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (!source || ::fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        settings.expectedSize = static_cast<std::uint64_t>(st.st_size);
    } else {
        settings.expectedSize = data ? data->size() : 0;
    }

    if (password && !aes) {
        // Traditional encryption puts a byte of the CRC before the data.
        std::uint32_t crc = 0;
        if (data) crc = static_cast<std::uint32_t>(crc32(0, data->data(), static_cast<uInt>(data->size())));
        if (source) {
            const bool read = readChunks(source.get(), [&](std::span<const std::uint8_t> chunk) {
                crc = static_cast<std::uint32_t>(crc32(crc, chunk.data(), static_cast<uInt>(chunk.size())));
                return true;
            });
            if (!read || ::lseek(source.get(), 0, SEEK_SET) != 0) return false;
        }
        settings.expectedCrc = crc;
    }

    zipio::ZipEntryWriter writer(_zip);
    if (!writer.open(settings)) return false;
    if (password && aes) wroteAes_ = true;
    bool ok = true;
    if (data) ok = writer.write(*data);
    if (source) ok = readChunks(source.get(), [&](std::span<const std::uint8_t> chunk) { return writer.write(chunk); });
    const bool closed = writer.close();
    return ok && closed;
}

bool SSZipArchive::writeFolderAtPath(const std::string& path, const std::string& folderName,
                                     const std::optional<std::string>& password) {
    requireOpen();
    zip_fileinfo info;
    zipInfo(info, path);
    return writeEntry(folderName + "/", info, 0, password, false, false, nullptr, nullptr);
}

bool SSZipArchive::writeFile(const std::string& path, const std::optional<std::string>& password) {
    return writeFileAtPath(path, std::nullopt, password);
}

bool SSZipArchive::writeFileAtPath(const std::string& path, const std::optional<std::string>& fileName,
                                   const std::optional<std::string>& password) {
    return writeFileAtPath(path, fileName, -1, password, true);
}

bool SSZipArchive::writeFileAtPath(const std::string& path, const std::optional<std::string>& fileName,
                                   int compressionLevel, const std::optional<std::string>& password, bool aes) {
    requireOpen();
    zip_fileinfo info;
    zipInfo(info, path);
    return writeEntry(fileName.value_or(lastPathComponent(path)), info, compressionLevel, password, aes, false, nullptr,
                      &path);
}

bool SSZipArchive::writeSymlinkFileAtPath(const std::string& path, const std::optional<std::string>& fileName,
                                          int compressionLevel, const std::optional<std::string>& password, bool aes) {
    requireOpen();
    const auto target = mz_os_read_symlink(path);
    if (!target) {
        // Spelt as the log has always read, for whoever searches logs for it.
        CVLog::core().error("[SSZipArchive] Failed to read sylink");
        return false;
    }
    zip_fileinfo info;
    zipInfo(info, path);
    if (const auto mode = mz_os_get_file_attribs(path)) {
        const auto converted = mz_zip_attrib_convert(MZ_HOST_SYSTEM_OSX_DARWIN, *mode, MZ_HOST_SYSTEM_MSDOS);
        info.external_fa = converted.value_or(info.external_fa) | (*mode << 16);
    }
    const std::vector<std::uint8_t> bytes(target->begin(), target->end());
    return writeEntry(fileName.value_or(lastPathComponent(path)), info, compressionLevel, password, aes, true, &bytes,
                      nullptr);
}

bool SSZipArchive::writeData(const std::optional<std::vector<std::uint8_t>>& data, const std::string& filename,
                             const std::optional<std::string>& password) {
    return writeData(data, filename, -1, password, true);
}

bool SSZipArchive::writeData(const std::optional<std::vector<std::uint8_t>>& data, const std::string& filename,
                             int compressionLevel, const std::optional<std::string>& password, bool aes) {
    if (!data || !_zip) return false;
    zip_fileinfo info;
    zipInfo(info, std::chrono::system_clock::now());
    return writeEntry(filename, info, compressionLevel, password, aes, false, &*data, nullptr);
}

void SSZipArchive::zipInfo(zip_fileinfo& zipInfo, const std::string& setAttributesOfItemAtPath) {
    struct stat st {};
    if (setAttributesOfItemAtPath.find('\0') != std::string::npos ||
        ::lstat(setAttributesOfItemAtPath.c_str(), &st) != 0) {
        return;
    }
    const auto modified =
        std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    SSZipArchive::zipInfo(zipInfo, modified);
    zipInfo.external_fa = ((st.st_mode & 07777u) + 0100000u) << 16;
}

void SSZipArchive::zipInfo(zip_fileinfo& zipInfo, std::chrono::system_clock::time_point setDate) {
    if (const auto local = _gregorian().components(setDate)) zipInfo.dos_date = mz_zip_tm_to_dosdate(*local);
}

const SSZipArchive::Calendar& SSZipArchive::_gregorian() {
    static const Calendar calendar;
    return calendar;
}

std::optional<std::tm> SSZipArchive::Calendar::components(std::chrono::system_clock::time_point date) const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
    std::lock_guard lock(mutex_);
    if (!localtime_r(&seconds, &local)) return std::nullopt;
    return local;
}

std::chrono::system_clock::time_point SSZipArchive::Calendar::date(std::tm components) const {
    components.tm_isdst = -1;
    std::lock_guard lock(mutex_);
    return std::chrono::system_clock::from_time_t(std::mktime(&components));
}

std::string SSZipArchive::_filenameStringWithCString(const char* filename, std::uint16_t versionMadeBy,
                                                     std::uint16_t generalPurposeFlag, std::size_t size) {
    if (!filename) return {};
    const std::string_view bytes(filename, ::strnlen(filename, size));
    if (versionMadeBy <= 255 && (generalPurposeFlag & kUtf8NamesFlag) == 0) {
        if (auto text = platform::decodeCP437(bytes)) return *text;
    }
    if (platform::isValidUTF8(bytes)) return std::string(bytes);
    // No encoding guesser here: a name that is neither becomes hexadecimal.
    return _hexString(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::chrono::system_clock::time_point SSZipArchive::_dateWithMSDOSFormat(std::uint32_t msdosDateTime) {
    std::tm components{};
    components.tm_year = static_cast<int>(msdosDateTime >> 25) + 1980 - 1900;
    components.tm_mon = static_cast<int>((msdosDateTime >> 21) & 15) - 1;
    components.tm_mday = static_cast<int>((msdosDateTime >> 16) & 31);
    components.tm_hour = static_cast<int>((msdosDateTime >> 11) & 31);
    components.tm_min = static_cast<int>((msdosDateTime >> 5) & 63);
    components.tm_sec = static_cast<int>(msdosDateTime & 31) * 2;
    return _gregorian().date(components);
}

}  // namespace ambrell

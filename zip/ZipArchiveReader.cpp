#include "zip/ZipArchiveReader.h"

#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unzip.h>

#include "zip/UniqueFd.h"
#include "zip/ZipCentralDirectory.h"
#include "zip/ZipEntryDecoder.h"
#include "zip/ZipFormat.h"
#include "zip/ZipResultCodes.h"

namespace ambrell::zipio {

struct ZipArchiveReader::Impl {
    std::filesystem::path path;
    unzFile file = nullptr;
    unz_global_info global;
    // Only an archive without entries lives without a minizip handle.
    bool emptyArchive = false;
    std::uint64_t index = 0;
    std::optional<Entry> current;
    std::optional<zipformat::CentralDirectory> directory;
    UniqueFd ownFd;
    // Stored bytes of an AES entry, read by ourselves.
    std::uint64_t ownOffset = 0;
    std::uint64_t ownLeft = 0;
    bool minizipEntryOpen = false;
    std::unique_ptr<ZipEntryDecoder> decoder;

    ~Impl() { close(); }

    void close() {
        decoder.reset();
        if (minizipEntryOpen) unzCloseCurrentFile(file);
        minizipEntryOpen = false;
        if (file) unzClose(file);
        file = nullptr;
        emptyArchive = false;
        ownFd.reset();
    }

    bool loadDirectory() {
        if (directory) return true;
        if (!ownFd) ownFd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!ownFd) return false;
        directory = zipformat::readCentralDirectory(ownFd.get());
        return directory.has_value();
    }

    int rawRead(std::uint8_t* buffer, unsigned length) {
        if (minizipEntryOpen) return unzReadCurrentFile(file, buffer, length);
        if (ownLeft == 0) return 0;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(ownLeft, length));
        if (!zipformat::readAt(ownFd.get(), ownOffset, std::span(buffer, n))) return kResultErrno;
        ownOffset += n;
        ownLeft -= n;
        return static_cast<int>(n);
    }

    // The AES entry's stored bytes, found through our own directory; the
    // entry there must be the one minizip stands on.
    int locateOwnData(const Entry& entry) {
        if (!loadDirectory() || index >= directory->entries.size()) return kResultBadZipFile;
        const auto& own = directory->entries[static_cast<std::size_t>(index)];
        if (own.name != entry.name || own.compressedSize != entry.info.compressed_size) return kResultBadZipFile;
        const auto offset = zipformat::entryDataOffset(ownFd.get(), own);
        struct stat st {};
        if (!offset || ::fstat(ownFd.get(), &st) != 0 || *offset > static_cast<std::uint64_t>(st.st_size) ||
            own.compressedSize > static_cast<std::uint64_t>(st.st_size) - *offset) {
            return kResultBadZipFile;
        }
        ownOffset = *offset;
        ownLeft = own.compressedSize;
        return kResultOk;
    }
};

std::unique_ptr<ZipArchiveReader> ZipArchiveReader::open(const std::filesystem::path& path) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->file = unzOpen64(path.c_str());
    if (impl->file) {
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(impl->file, &global) != UNZ_OK) return nullptr;
        impl->global.number_entry = global.number_entry;
        impl->global.size_comment = static_cast<std::uint16_t>(global.size_comment);
    } else {
        // minizip cannot open an archive without entries, which is still a
        // valid archive to unpack.
        const auto directory = zipformat::readCentralDirectory(path);
        if (!directory || !directory->entries.empty()) return nullptr;
        impl->emptyArchive = true;
        impl->global.number_disk_with_CD = directory->diskWithCentralDirectory;
    }
    return std::unique_ptr<ZipArchiveReader>(new ZipArchiveReader(std::move(impl)));
}

ZipArchiveReader::ZipArchiveReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ZipArchiveReader::~ZipArchiveReader() = default;

const unz_global_info& ZipArchiveReader::globalInfo() const { return impl_->global; }

int ZipArchiveReader::goToFirstEntry() {
    if (impl_->emptyArchive) return kResultEndOfList;
    if (!impl_->file) return kResultParamError;
    impl_->index = 0;
    impl_->current.reset();
    return unzGoToFirstFile(impl_->file);
}

int ZipArchiveReader::goToNextEntry() {
    if (impl_->emptyArchive) return kResultEndOfList;
    if (!impl_->file) return kResultParamError;
    impl_->current.reset();
    const int result = unzGoToNextFile(impl_->file);
    if (result == UNZ_OK) ++impl_->index;
    return result;
}

int ZipArchiveReader::currentEntry(Entry& entry) {
    if (impl_->current) {
        entry = *impl_->current;
        return kResultOk;
    }
    if (!impl_->file) return kResultParamError;
    unz_file_info64 info{};
    int result = unzGetCurrentFileInfo64(impl_->file, &info, nullptr, 0, nullptr, 0, nullptr, 0);
    if (result != UNZ_OK) return result;
    Entry read;
    read.name.resize(info.size_filename);
    read.extra.resize(info.size_file_extra);
    result = unzGetCurrentFileInfo64(impl_->file, &info, read.name.data(), static_cast<uLong>(read.name.size()),
                                     read.extra.data(), static_cast<uLong>(read.extra.size()), nullptr, 0);
    if (result != UNZ_OK) return result;
    auto& out = read.info;
    out.version = static_cast<std::uint16_t>(info.version);
    out.version_needed = static_cast<std::uint16_t>(info.version_needed);
    out.flag = static_cast<std::uint16_t>(info.flag);
    out.compression_method = static_cast<std::uint16_t>(info.compression_method);
    out.dos_date = static_cast<std::uint32_t>(info.dosDate);
    out.crc = static_cast<std::uint32_t>(info.crc);
    out.compressed_size = info.compressed_size;
    out.uncompressed_size = info.uncompressed_size;
    out.size_filename = static_cast<std::uint16_t>(info.size_filename);
    out.size_file_extra = static_cast<std::uint16_t>(info.size_file_extra);
    out.size_file_comment = static_cast<std::uint16_t>(info.size_file_comment);
    out.disk_num_start = static_cast<std::uint32_t>(info.disk_num_start);
    out.internal_fa = static_cast<std::uint16_t>(info.internal_fa);
    out.external_fa = static_cast<std::uint32_t>(info.external_fa);
    impl_->current = read;
    entry = std::move(read);
    return kResultOk;
}

int ZipArchiveReader::openCurrentEntry(std::optional<std::string_view> password) {
    if (!impl_->file || impl_->decoder) return kResultParamError;
    Entry entry;
    int result = currentEntry(entry);
    if (result != kResultOk) return result;

    ZipEntryDecoder::Facts facts;
    facts.flags = entry.info.flag;
    facts.method = entry.info.compression_method;
    facts.crc = entry.info.crc;
    facts.dosDate = entry.info.dos_date;
    facts.compressedSize = entry.info.compressed_size;
    facts.uncompressedSize = entry.info.uncompressed_size;
    if (const auto block = zipformat::findExtraField(entry.extra, zipformat::kExtraAes)) {
        facts.aes = zipformat::AesExtraField::parse(*block);
    }

    if (facts.method == zipformat::kMethodAes) {
        result = impl_->locateOwnData(entry);
    } else {
        int method = 0;
        int level = 0;
        result = unzOpenCurrentFile2(impl_->file, &method, &level, 1);
        impl_->minizipEntryOpen = result == UNZ_OK;
    }
    if (result != kResultOk) return result;

    auto decoder = std::make_unique<ZipEntryDecoder>(
        [impl = impl_.get()](std::uint8_t* buffer, unsigned length) { return impl->rawRead(buffer, length); }, facts);
    result = decoder->open(password);
    if (result != kResultOk) {
        if (impl_->minizipEntryOpen) unzCloseCurrentFile(impl_->file);
        impl_->minizipEntryOpen = false;
        return result;
    }
    impl_->decoder = std::move(decoder);
    return kResultOk;
}

int ZipArchiveReader::readCurrentEntry(void* buffer, unsigned length) {
    if (!impl_->decoder) return kResultParamError;
    return impl_->decoder->read(static_cast<std::uint8_t*>(buffer), length);
}

int ZipArchiveReader::closeCurrentEntry() {
    if (!impl_->decoder) return kResultParamError;
    int result = impl_->decoder->close();
    impl_->decoder.reset();
    if (impl_->minizipEntryOpen) {
        const int closed = unzCloseCurrentFile(impl_->file);
        if (result == kResultOk) result = closed;
        impl_->minizipEntryOpen = false;
    }
    impl_->ownLeft = 0;
    return result;
}

void ZipArchiveReader::close() { impl_->close(); }

}  // namespace ambrell::zipio

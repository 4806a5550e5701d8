#include "zip/ZipArchiveReader.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include "Ambrell/CVLog.h"
#include "zip/UniqueFd.h"
#include "zip/ZipCentralDirectory.h"
#include "zip/ZipEntryDecoder.h"
#include "zip/ZipFormat.h"
#include "zip/ZipResultCodes.h"

namespace ambrell::zipio {

namespace {

// Stored bytes are read ahead in blocks this large, so that an entry read
// 4096 bytes at a time does not cost a system call per read.
constexpr std::size_t kReadAhead = 65536;

unz_file_info recordOf(const zipformat::CentralEntry& entry) {
    unz_file_info info;
    info.version = entry.versionMadeBy;
    info.version_needed = entry.versionNeeded;
    info.flag = entry.flags;
    info.compression_method = entry.method;
    info.dos_date = entry.dosDate;
    info.crc = entry.crc;
    info.compressed_size = entry.compressedSize;
    info.uncompressed_size = entry.uncompressedSize;
    info.size_filename = static_cast<std::uint16_t>(entry.name.size());
    info.size_file_extra = static_cast<std::uint16_t>(entry.extra.size());
    info.size_file_comment = entry.commentSize;
    info.disk_num_start = entry.diskNumberStart;
    info.internal_fa = entry.internalAttributes;
    info.external_fa = entry.externalAttributes;
    return info;
}

// Whether the local header agrees with the directory where it has to. Its
// sizes and CRC only count without a data descriptor, which carries them
// after the data instead.
bool localHeaderAgrees(const zipformat::LocalHeader& local, const zipformat::CentralEntry& entry) {
    if (local.method != entry.method) return false;
    if (local.flags & zipformat::kFlagDataDescriptor) return true;
    return local.crc == entry.crc && local.compressedSize == entry.compressedSize &&
           local.uncompressedSize == entry.uncompressedSize;
}

}  // namespace

struct ZipArchiveReader::Impl {
    UniqueFd fd;
    zipformat::CentralDirectory directory;
    unz_global_info global;
    std::size_t index = 0;
    bool positioned = false;
    std::unique_ptr<ZipEntryDecoder> decoder;
    // The current entry's stored bytes not yet handed out, and the block
    // read ahead of them.
    std::uint64_t offset = 0;
    std::uint64_t left = 0;
    std::vector<std::uint8_t> ahead;
    std::size_t aheadAt = 0;

    void close() {
        decoder.reset();
        fd.reset();
        positioned = false;
    }

    int rawRead(std::uint8_t* buffer, unsigned length) {
        if (aheadAt < ahead.size()) {
            const std::size_t n = std::min<std::size_t>(length, ahead.size() - aheadAt);
            std::copy_n(ahead.data() + aheadAt, n, buffer);
            aheadAt += n;
            return static_cast<int>(n);
        }
        if (left == 0 || length == 0) return 0;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadAhead));
        ahead.resize(wanted);
        aheadAt = 0;
        if (!zipformat::readAt(fd.get(), offset, ahead)) {
            ahead.clear();
            return kResultErrno;
        }
        offset += wanted;
        left -= wanted;
        return rawRead(buffer, length);
    }
};

std::unique_ptr<ZipArchiveReader> ZipArchiveReader::open(const std::filesystem::path& path) {
    auto impl = std::make_unique<Impl>();
    impl->fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!impl->fd) return nullptr;
    auto directory = zipformat::readCentralDirectory(impl->fd.get());
    if (!directory) return nullptr;
    impl->directory = std::move(*directory);
    const auto& d = impl->directory;
    impl->global.number_entry = d.entryListBroken ? d.recordedEntryCount : d.entries.size();
    impl->global.number_disk_with_CD = d.diskWithCentralDirectory;
    impl->global.size_comment = d.commentSize;
    return std::unique_ptr<ZipArchiveReader>(new ZipArchiveReader(std::move(impl)));
}

ZipArchiveReader::ZipArchiveReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ZipArchiveReader::~ZipArchiveReader() = default;

const unz_global_info& ZipArchiveReader::globalInfo() const { return impl_->global; }

int ZipArchiveReader::goToFirstEntry() {
    if (!impl_->fd || impl_->decoder) return kResultParamError;
    if (impl_->directory.entryListBroken) return kResultBadZipFile;
    impl_->index = 0;
    impl_->positioned = !impl_->directory.entries.empty();
    return impl_->positioned ? kResultOk : kResultEndOfList;
}

int ZipArchiveReader::goToNextEntry() {
    if (!impl_->fd || !impl_->positioned || impl_->decoder) return kResultParamError;
    if (impl_->index + 1 >= impl_->directory.entries.size()) {
        impl_->positioned = false;
        return kResultEndOfList;
    }
    ++impl_->index;
    return kResultOk;
}

int ZipArchiveReader::currentEntry(Entry& entry) {
    if (!impl_->fd || !impl_->positioned) return kResultParamError;
    const auto& own = impl_->directory.entries[impl_->index];
    entry.info = recordOf(own);
    entry.name = own.name;
    entry.extra = own.extra;
    return kResultOk;
}

int ZipArchiveReader::openCurrentEntry(std::optional<std::string_view> password) {
    if (!impl_->fd || !impl_->positioned || impl_->decoder) return kResultParamError;
    const auto& own = impl_->directory.entries[impl_->index];
    // One read takes the local header and, for a small entry, all its data.
    auto& ahead = impl_->ahead;
    const std::size_t headerGuess = zipformat::kLocalHeaderFixedSize + own.name.size() + own.extra.size();
    const auto dataGuess = static_cast<std::size_t>(std::min<std::uint64_t>(own.compressedSize, kReadAhead));
    ahead.resize(headerGuess + dataGuess);
    std::optional<zipformat::LocalHeader> local;
    if (own.locatable && zipformat::readAt(impl_->fd.get(), own.localHeaderOffset, ahead)) {
        local = zipformat::parseLocalHeader(ahead, own.localHeaderOffset);
    }
    const bool prefetched = local && local->complete && local->size == headerGuess;
    if (!prefetched) {
        ahead.clear();
        local = zipformat::readLocalHeader(impl_->fd.get(), own);
    }
    if (!local || !localHeaderAgrees(*local, own) || local->dataOffset > impl_->directory.start ||
        own.compressedSize > impl_->directory.start - local->dataOffset) {
        ahead.clear();
        return kResultBadZipFile;
    }
    if (local->name != own.name) {
        // The directory's name is the one that is sanitised and used; a local
        // name that differs may be an attempt to smuggle another path past
        // readers that trust it.
        CVLog::core().error(
            "[SSZipArchive] Entry {}: its local header names it \"{}\", the central directory \"{}\"; "
            "the central directory's name is used",
            impl_->index, local->name.substr(0, 256), own.name.substr(0, 256));
    }

    ZipEntryDecoder::Facts facts;
    facts.flags = own.flags;
    facts.method = own.method;
    facts.crc = own.crc;
    facts.dosDate = own.dosDate;
    facts.compressedSize = own.compressedSize;
    facts.uncompressedSize = own.uncompressedSize;
    if (const auto block = zipformat::findExtraField(own.extra, zipformat::kExtraAes)) {
        facts.aes = zipformat::AesExtraField::parse(*block);
    }
    if (prefetched) {
        impl_->aheadAt = headerGuess;
        impl_->offset = local->dataOffset + dataGuess;
        impl_->left = own.compressedSize - dataGuess;
    } else {
        impl_->aheadAt = 0;
        impl_->offset = local->dataOffset;
        impl_->left = own.compressedSize;
    }

    auto decoder = std::make_unique<ZipEntryDecoder>(
        [impl = impl_.get()](std::uint8_t* buffer, unsigned length) { return impl->rawRead(buffer, length); }, facts);
    const int result = decoder->open(password);
    if (result != kResultOk) {
        impl_->left = 0;
        impl_->ahead.clear();
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
    const int result = impl_->decoder->close();
    impl_->decoder.reset();
    impl_->left = 0;
    impl_->ahead.clear();
    impl_->aheadAt = 0;
    return result;
}

void ZipArchiveReader::close() { impl_->close(); }

}  // namespace ambrell::zipio

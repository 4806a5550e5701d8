#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zip/SSZipArchiveTypes.h"

namespace ambrell::zipio {

// One archive opened for reading, entry by entry, in the order of its
// central directory. The directory is our own reading (ZipCentralDirectory):
// it is walked by its recorded size and offset, zip64 records and fields
// included, and names, sizes and offsets come from it, never from the
// local headers. Decryption, inflation and checks are ZipEntryDecoder's.
// Synchronous; one thread at a time per reader.
class ZipArchiveReader {
public:
    struct Entry {
        unz_file_info info;
        std::string name;  // the raw name bytes, from the central directory
        std::vector<std::uint8_t> extra;
    };

    // Null when the file cannot be opened as a zip archive.
    [[nodiscard]] static std::unique_ptr<ZipArchiveReader> open(const std::filesystem::path& path);

    ~ZipArchiveReader();
    ZipArchiveReader(const ZipArchiveReader&) = delete;
    ZipArchiveReader& operator=(const ZipArchiveReader&) = delete;

    // number_entry is the number of entries the directory holds, which a
    // wrapped 16-bit count in the end record does not tell.
    [[nodiscard]] const unz_global_info& globalInfo() const;

    // 0, kResultEndOfList when there are no (more) entries, or an error:
    // kResultBadZipFile when the entry list is broken (its headers and the
    // recorded count disagree in a way that no wrapped count explains), so
    // that nothing of it is taken for the whole archive.
    int goToFirstEntry();
    int goToNextEntry();

    // The current entry's record, name and extra field.
    int currentEntry(Entry& entry);
    // A null password opens unencrypted entries only. kResultBadZipFile when
    // the entry's local header is missing or contradicts the directory, or
    // its data would run into the directory.
    int openCurrentEntry(std::optional<std::string_view> password);
    int readCurrentEntry(void* buffer, unsigned length);
    // kResultCrcError when the entry was read to its end and does not check out.
    int closeCurrentEntry();

    // Ends all reading; later calls fail.
    void close();

private:
    struct Impl;
    explicit ZipArchiveReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell::zipio

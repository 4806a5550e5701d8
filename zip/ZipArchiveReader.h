#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zip/SSZipArchiveTypes.h"

namespace ambrell::zipio {

// One archive opened for reading: minizip walks the central directory and
// hands out stored bytes in raw mode; decryption, inflation and checks are
// ours (ZipEntryDecoder). WinZip AES entries, which minizip refuses, and
// archives without entries, which it cannot open, go through our own reading
// of the central directory.
class ZipArchiveReader {
public:
    struct Entry {
        unz_file_info info;
        std::string name;  // the raw name bytes
        std::vector<std::uint8_t> extra;
    };

    // Null when the file cannot be opened as a zip archive.
    [[nodiscard]] static std::unique_ptr<ZipArchiveReader> open(const std::filesystem::path& path);

    ~ZipArchiveReader();
    ZipArchiveReader(const ZipArchiveReader&) = delete;
    ZipArchiveReader& operator=(const ZipArchiveReader&) = delete;

    [[nodiscard]] const unz_global_info& globalInfo() const;

    // 0, kResultEndOfList when there are no (more) entries, or an error.
    int goToFirstEntry();
    int goToNextEntry();

    // The current entry's record, name and extra field.
    int currentEntry(Entry& entry);
    // A null password opens unencrypted entries only.
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

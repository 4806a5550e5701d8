#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace ambrell::zipio {

// Writes one entry into an archive that minizip has open for writing. minizip
// only frames the entry (raw mode): compression, encryption and the CRC are
// ours, because Debian's minizip writes traditional encryption that other
// readers cannot open and knows nothing of WinZip AES.
class ZipEntryWriter {
public:
    struct Settings {
        std::string name;
        std::uint32_t dosDate = 0;
        std::uint16_t internalAttributes = 0;
        std::uint32_t externalAttributes = 0;
        int level = -1;  // zlib's default
        std::optional<std::string> password;
        bool aes = true;
        std::uint16_t versionMadeBy = 0x1300;
        std::uint16_t flags = 0x0800;
        bool zip64 = true;
        // Traditional encryption must know the CRC before the data; the
        // writer fails at close when the data turns out different.
        std::optional<std::uint32_t> expectedCrc;
        // Chooses AE-2 (no CRC stored) for tiny contents, as WinZip does.
        std::uint64_t expectedSize = 0;
    };

    // zipFile is minizip's open archive handle.
    explicit ZipEntryWriter(void* zipFile);
    ~ZipEntryWriter();
    ZipEntryWriter(const ZipEntryWriter&) = delete;
    ZipEntryWriter& operator=(const ZipEntryWriter&) = delete;

    // False when the entry cannot be opened; then nothing else may be called.
    [[nodiscard]] bool open(const Settings& settings);
    [[nodiscard]] bool write(std::span<const std::uint8_t> bytes);
    // Ends the entry; false when anything failed on the way.
    [[nodiscard]] bool close();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace ambrell::zipio

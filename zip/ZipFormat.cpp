#include "zip/ZipFormat.h"

namespace ambrell::zipformat {

std::optional<std::span<const std::uint8_t>> findExtraField(std::span<const std::uint8_t> extra, std::uint16_t id) {
    std::size_t offset = 0;
    while (offset + 4 <= extra.size()) {
        const std::uint16_t blockId = readLE16(extra.data() + offset);
        const std::uint16_t size = readLE16(extra.data() + offset + 2);
        if (offset + 4 + size > extra.size()) return std::nullopt;
        if (blockId == id) return extra.subspan(offset + 4, size);
        offset += 4 + std::size_t{size};
    }
    return std::nullopt;
}

std::optional<AesExtraField> AesExtraField::parse(std::span<const std::uint8_t> data) {
    if (data.size() != 7 || data[2] != 'A' || data[3] != 'E') return std::nullopt;
    AesExtraField field;
    field.vendorVersion = readLE16(data.data());
    field.strength = data[4];
    field.method = readLE16(data.data() + 5);
    if (field.vendorVersion != 1 && field.vendorVersion != 2) return std::nullopt;
    return field;
}

std::vector<std::uint8_t> AesExtraField::serialize() const {
    std::vector<std::uint8_t> block(11);
    writeLE16(block.data(), kExtraAes);
    writeLE16(block.data() + 2, 7);
    writeLE16(block.data() + 4, vendorVersion);
    block[6] = 'A';
    block[7] = 'E';
    block[8] = strength;
    writeLE16(block.data() + 9, method);
    return block;
}

}  // namespace ambrell::zipformat

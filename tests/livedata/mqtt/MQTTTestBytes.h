#pragma once

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell::test {

// Bytes written as hex pairs, with quoted runs of text: "00 04 'MQTT' 04".
inline std::vector<std::uint8_t> parseHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t index = 0; index < text.size();) {
        const char c = text[index];
        if (c == ' ') {
            ++index;
        } else if (c == '\'') {
            const std::size_t end = text.find('\'', index + 1);
            for (std::size_t at = index + 1; at < end; ++at) bytes.push_back(static_cast<std::uint8_t>(text[at]));
            index = end + 1;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(index, 2)), nullptr, 16)));
            index += 2;
        }
    }
    return bytes;
}

inline std::string printHex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) text.push_back(' ');
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace ambrell::test

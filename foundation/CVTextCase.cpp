#include "foundation/CVTextCase.h"

#include <utf8proc.h>

namespace ambrell {

std::string lowercasedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const auto size = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_ssize_t i = 0;
    while (i < size) {
        const unsigned char byte = bytes[i];
        if (byte < 0x80) {
            out += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte);
            ++i;
            continue;
        }
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(bytes + i, size - i, &codePoint);
        if (length <= 0) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        utf8proc_uint8_t encoded[4];
        const utf8proc_ssize_t written = utf8proc_encode_char(utf8proc_tolower(codePoint), encoded);
        out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(written));
        i += length;
    }
    return out;
}

bool equalsIgnoringCase(std::string_view lhs, std::string_view rhs) {
    return lhs == rhs || lowercasedText(lhs) == lowercasedText(rhs);
}

}  // namespace ambrell

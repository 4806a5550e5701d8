#include "platform/TextEncoding.h"

#include <iconv.h>

#include <cerrno>

#include "platform/Logger.h"

namespace ambrell::platform {

namespace {

// The conversion descriptor, closed whatever way the conversion ends.
class IconvConverter {
public:
    IconvConverter(const char* to, const char* from) : descriptor_(::iconv_open(to, from)) {}
    ~IconvConverter() {
        if (isOpen()) ::iconv_close(descriptor_);
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    [[nodiscard]] bool isOpen() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }

    std::optional<std::string> convert(std::string_view input) {
        // Every CP437 character takes at most three bytes in UTF-8; the buffer
        // still grows should a conversion need more.
        std::string output(input.size() * 3 + 4, '\0');
        char* in = const_cast<char*>(input.data());  // iconv's signature predates const
        std::size_t inLeft = input.size();
        std::size_t written = 0;
        bool flushed = false;
        while (!flushed) {
            char* out = output.data() + written;
            std::size_t outLeft = output.size() - written;
            // Once the text is consumed, a null input flushes any shift state.
            const bool flushing = inLeft == 0;
            const auto result = flushing ? ::iconv(descriptor_, nullptr, nullptr, &out, &outLeft)
                                         : ::iconv(descriptor_, &in, &inLeft, &out, &outLeft);
            written = output.size() - outLeft;
            if (result == static_cast<std::size_t>(-1)) {
                if (errno != E2BIG) return std::nullopt;
                output.resize(output.size() * 2);
                continue;
            }
            flushed = flushing;
        }
        output.resize(written);
        return output;
    }

private:
    iconv_t descriptor_;
};

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;  // continuation byte, overlong lead (C0, C1) or beyond U+10FFFF
}

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool isValidUTF8(std::string_view text) {
    std::size_t index = 0;
    while (index < text.size()) {
        const auto lead = static_cast<unsigned char>(text[index]);
        const auto length = sequenceLength(lead);
        if (length == 0 || text.size() - index < length) return false;
        if (length > 1) {
            const auto second = static_cast<unsigned char>(text[index + 1]);
            // The second byte's range rules out overlongs, surrogates and
            // code points above U+10FFFF (Unicode table 3-7).
            unsigned char low = 0x80;
            unsigned char high = 0xBF;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
            if (second < low || second > high) return false;
            for (std::size_t offset = 2; offset < length; ++offset) {
                if (!isContinuation(static_cast<unsigned char>(text[index + offset]))) return false;
            }
        }
        index += length;
    }
    return true;
}

std::optional<std::string> decodeCP437(std::string_view bytes) {
    IconvConverter converter("UTF-8", "CP437");
    if (!converter.isOpen()) {
        const int openError = errno;
        Logger("platform").error("CP437 conversion is unavailable: iconv_open failed (errno {})", openError);
        return std::nullopt;
    }
    return converter.convert(bytes);
}

std::optional<std::string> decodeCP437(std::span<const std::uint8_t> bytes) {
    return decodeCP437(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace ambrell::platform

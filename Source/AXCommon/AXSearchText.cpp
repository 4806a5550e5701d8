#include "Source/AXCommon/AXSearchText.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace ambrell::axsearch {
namespace {

constexpr const char* kWordSeparators = " \t\r\n,.;:!?()[]{}\"'/\\-_&+";

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string mapWithUtf8proc(std::string_view text, int options) {
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
                     &mapped, static_cast<utf8proc_option_t>(options));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
    if (length < 0) {
        throw std::invalid_argument(std::string("search text is not valid UTF-8: ") + utf8proc_errmsg(length));
    }
    return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

}  // namespace

std::string foldedSearchText(std::string_view text) {
    // Plain ASCII is by far the common case and only needs lower-casing;
    // every step of the full mapping is the identity on it otherwise.
    if (isAscii(text)) {
        return asciiLower(text);
    }
    return mapWithUtf8proc(text, UTF8PROC_COMPAT | UTF8PROC_DECOMPOSE | UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK);
}

std::vector<std::string> searchTokens(std::string_view text) {
    const std::string folded = foldedSearchText(text);
    std::vector<std::string> tokens;
    boost::algorithm::split(tokens, folded, boost::algorithm::is_any_of(kWordSeparators),
                            boost::algorithm::token_compress_on);
    std::erase_if(tokens, [](const std::string& token) { return token.empty(); });
    return tokens;
}

std::string foldedKey(std::string_view key) {
    if (isAscii(key)) {
        return asciiLower(key);
    }
    return mapWithUtf8proc(key, UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);
}

}  // namespace ambrell::axsearch

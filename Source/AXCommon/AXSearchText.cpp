#include "Source/AXCommon/AXSearchText.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace ambrell::axsearch {
namespace {

constexpr std::string_view kWordSeparators = " \t\r\n,.;:!?()[]{}\"'/\\-_&+";

// Separators are ASCII, so no byte of a multi-byte UTF-8 sequence is one and
// folded text splits byte by byte.
constexpr std::array<bool, 256> kIsWordSeparator = [] {
    std::array<bool, 256> table{};
    for (const char c : kWordSeparators) {
        table[static_cast<unsigned char>(c)] = true;
    }
    return table;
}();

bool isWordSeparator(char c) { return kIsWordSeparator[static_cast<unsigned char>(c)]; }

// Every word of the text, in order, lower-cased as it is copied when the
// text is not folded yet (plain ASCII needs nothing else).
void appendWords(std::string_view text, bool lowerCase, std::vector<std::string>& words) {
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isWordSeparator(text[at])) {
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && !isWordSeparator(text[at])) {
            ++at;
        }
        if (at > start) {
            std::string& word = words.emplace_back(text.substr(start, at - start));
            if (lowerCase) {
                for (char& c : word) {
                    if (c >= 'A' && c <= 'Z') {
                        c = static_cast<char>(c - 'A' + 'a');
                    }
                }
            }
        }
    }
}

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
    std::vector<std::string> tokens;
    // Split first and lower-cased word by word: plain ASCII needs no folded copy.
    if (isAscii(text)) {
        appendWords(text, true, tokens);
    } else {
        appendWords(foldedSearchText(text), false, tokens);
    }
    return tokens;
}

std::string foldedKey(std::string_view key) {
    if (isAscii(key)) {
        return asciiLower(key);
    }
    return mapWithUtf8proc(key, UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);
}

}  // namespace ambrell::axsearch

#include "foundation/CVPercentEncoding.h"

#include <gtest/gtest.h>

namespace ambrell {
namespace {

TEST(PercentEncoding, EncodesWhatNoUrlPartAllows) {
    const std::pair<std::string_view, std::optional<std::string>> cases[] = {
        {"https://example.com/venues/Main Hall.json", "https://example.com/venues/Main%20Hall.json"},
        {"https://example.com/Café/Straße", "https://example.com/Caf%C3%A9/Stra%C3%9Fe"},
        {"https://user:pw@example.com:8443/a?key=a b&lang=de#top",
         "https://user:pw@example.com:8443/a?key=a%20b&lang=de#top"},
        {"/sync/{id}|<v>\"^`\\", "/sync/%7Bid%7D%7C%3Cv%3E%22%5E%60%5C"},
        {"https://example.com/a%20b", "https://example.com/a%20b"},  // already encoded: not again
        {"https://example.com/!$&'()*+,;=:@~_-.", "https://example.com/!$&'()*+,;=:@~_-."},
        {"http://[::1]:8080/x", "http://[::1]:8080/x"},
        // Left as they are, and then no URL.
        {"https://example.com/a%20b c", std::nullopt},
        {"https://example.com/100%", std::nullopt},
        {"http://[::1/x", std::nullopt},
        {"https://example.com/a#b#c", std::nullopt},
        {"https://example.com/a?b=[1]", std::nullopt},  // brackets belong in a host only
        {"", std::nullopt},
    };
    for (const auto& [text, url] : cases) EXPECT_EQ(URLByPercentEncodingPath(text), url) << text;
}

TEST(CVPercentEncoding, EscapesOneByteAsUpperCaseHex) {
    std::string out = "a";
    for (const unsigned char byte : {' ', '\xC3', '\n'}) appendPercentEscaped(out, byte);
    EXPECT_EQ(out, "a%20%C3%0A");
}

}  // namespace
}  // namespace ambrell

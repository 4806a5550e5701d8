#include "foundation/CVPercentEncoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace ambrell {
namespace {

struct Encoding {
    std::string_view text;
    std::optional<std::string> url;
};

class PercentEncodingTest : public ::testing::TestWithParam<Encoding> {};

TEST_P(PercentEncodingTest, EncodesWhatNoUrlPartAllows) {
    EXPECT_EQ(URLByPercentEncodingPath(GetParam().text), GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PercentEncodingTest,
    ::testing::Values(
        Encoding{"https://example.com/venues/Main Hall.json", "https://example.com/venues/Main%20Hall.json"},
        Encoding{"https://example.com/Café/Straße", "https://example.com/Caf%C3%A9/Stra%C3%9Fe"},
        Encoding{"https://user:pw@example.com:8443/a?key=a b&lang=de#top",
                 "https://user:pw@example.com:8443/a?key=a%20b&lang=de#top"},
        Encoding{"/sync/{id}|<v>\"^`\\", "/sync/%7Bid%7D%7C%3Cv%3E%22%5E%60%5C"},
        Encoding{"https://example.com/a%20b", "https://example.com/a%20b"},  // already encoded: not again
        Encoding{"https://example.com/!$&'()*+,;=:@~_-.", "https://example.com/!$&'()*+,;=:@~_-."},
        Encoding{"http://[::1]:8080/x", "http://[::1]:8080/x"},
        // Left as they are, and then no URL.
        Encoding{"https://example.com/a%20b c", std::nullopt}, Encoding{"https://example.com/100%", std::nullopt},
        Encoding{"http://[::1/x", std::nullopt}, Encoding{"https://example.com/a#b#c", std::nullopt},
        Encoding{"https://example.com/a?b=[1]", std::nullopt},  // brackets belong in a host only
        Encoding{"", std::nullopt}));

}  // namespace
}  // namespace ambrell

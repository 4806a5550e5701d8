#include "platform/TextEncoding.h"

#include <vector>

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

TEST(TextEncodingTest, UTF8IsStrict) {
    for (const std::string_view text : {"", "plain", "\xC2\x80", "\xED\x9F\xBF" /* U+D7FF */, "\xEE\x80\x80" /* U+E000 */,
                                        "\xF0\x9F\x97\xBA", "\xF4\x8F\xBF\xBF" /* U+10FFFF */}) {
        EXPECT_TRUE(isValidUTF8(text)) << testing::PrintToString(std::string(text));
    }
    for (const std::string_view text : {
             "\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",  // stray continuation, overlongs
             "\xED\xA0\x80", "\xED\xBF\xBF",                                      // surrogates
             "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",                      // beyond U+10FFFF
             "\xC3", "\xF0\x9F\x97", "\xE2\x28\xA1", "ok\xC3(",                   // truncated
         }) {
        EXPECT_FALSE(isValidUTF8(text)) << testing::PrintToString(std::string(text));
    }
}

TEST(TextEncodingTest, CP437MapsTheUpperHalfToUnicode) {
    EXPECT_EQ(decodeCP437("readme.txt"), "readme.txt");
    EXPECT_EQ(decodeCP437("\x80\x81\xE1\xC9"), "\xC3\x87\xC3\xBC\xC3\x9F\xE2\x95\x94");  // Ç ü ß ╔
    EXPECT_EQ(decodeCP437(""), "");
    std::vector<std::uint8_t> everyByte;
    for (int byte = 0; byte < 256; ++byte) everyByte.push_back(static_cast<std::uint8_t>(byte));
    const auto text = decodeCP437(everyByte).value_or("");
    EXPECT_TRUE(isValidUTF8(text));
    EXPECT_TRUE(text.ends_with("\xC2\xA0"));  // 0xFF, the no-break space
}

}  // namespace
}  // namespace ambrell::platform

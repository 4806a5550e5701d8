#include "platform/TextEncoding.h"

#include <vector>

#include <gtest/gtest.h>

namespace ambrell::platform {
namespace {

TEST(TextEncodingUTF8Test, AcceptsEveryLengthUpToTheLastCodePoint) {
    EXPECT_TRUE(isValidUTF8(""));
    EXPECT_TRUE(isValidUTF8("plain ASCII"));
    EXPECT_TRUE(isValidUTF8(std::string_view("\0", 1)));
    EXPECT_TRUE(isValidUTF8("\xC2\x80"));                 // U+0080
    EXPECT_TRUE(isValidUTF8("Caf\xC3\xA9 \xE2\x82\xAC"));  // é €
    EXPECT_TRUE(isValidUTF8("\xED\x9F\xBF"));             // U+D7FF, just below the surrogates
    EXPECT_TRUE(isValidUTF8("\xEE\x80\x80"));             // U+E000, just above
    EXPECT_TRUE(isValidUTF8("\xF0\x9F\x97\xBA"));         // U+1F5FA
    EXPECT_TRUE(isValidUTF8("\xF4\x8F\xBF\xBF"));         // U+10FFFF
}

TEST(TextEncodingUTF8Test, RefusesMalformedSequences) {
    for (const std::string_view text : {
             "\x80",                  // stray continuation
             "\xC0\x80",              // overlong NUL
             "\xC1\xBF",              // overlong
             "\xE0\x80\x80",          // overlong three-byte form
             "\xE0\x9F\xBF",          // overlong, just below U+0800
             "\xF0\x80\x80\x80",      // overlong four-byte form
             "\xF0\x8F\xBF\xBF",      // overlong, just below U+10000
             "\xED\xA0\x80",          // U+D800, a surrogate
             "\xED\xBF\xBF",          // U+DFFF
             "\xF4\x90\x80\x80",      // U+110000
             "\xF5\x80\x80\x80",      // lead byte beyond the range
             "\xFE", "\xFF",
             "\xC3",                  // truncated at the end
             "\xE2\x82",
             "\xF0\x9F\x97",
             "\xE2\x28\xA1",          // continuation missing in the middle
             "ok\xC3(",
         }) {
        EXPECT_FALSE(isValidUTF8(text)) << testing::PrintToString(std::string(text));
    }
}

TEST(TextEncodingCP437Test, MapsTheUpperHalfToUnicode) {
    EXPECT_EQ(decodeCP437("readme.txt"), "readme.txt");
    EXPECT_EQ(decodeCP437("\x80\x81\xE1"), "\xC3\x87\xC3\xBC\xC3\x9F");  // Ç ü ß
    EXPECT_EQ(decodeCP437("\xC9\xCD\xBB"), "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97");  // ╔═╗
    EXPECT_EQ(decodeCP437("\xFF"), "\xC2\xA0");  // no-break space
    EXPECT_EQ(decodeCP437(""), "");
}

TEST(TextEncodingCP437Test, EveryByteDecodesToValidUTF8) {
    std::vector<std::uint8_t> bytes;
    for (int byte = 0; byte < 256; ++byte) bytes.push_back(static_cast<std::uint8_t>(byte));
    const auto text = decodeCP437(bytes);
    ASSERT_TRUE(text);
    EXPECT_TRUE(isValidUTF8(*text));
    EXPECT_GE(text->size(), bytes.size());
}

}  // namespace
}  // namespace ambrell::platform

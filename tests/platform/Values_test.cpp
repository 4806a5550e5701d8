#include <limits>
#include <regex>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Color.h"
#include "platform/Error.h"
#include "platform/TextEncoding.h"
#include "platform/UUID.h"

namespace ambrell::platform {
namespace {

void expectRGB(const Color& actual, const Color& expected) {
    EXPECT_NEAR(actual.red, expected.red, 1e-12);
    EXPECT_NEAR(actual.green, expected.green, 1e-12);
    EXPECT_NEAR(actual.blue, expected.blue, 1e-12);
}

TEST(ColorTest, HueWalksTheHexconeAndWrapsAround) {
    const Color sectors[] = {{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1}};
    for (int sector = 0; sector < 6; ++sector) {
        expectRGB(Color::fromHSB(sector / 6.0, 1, 1), sectors[sector]);
        expectRGB(Color::fromHSB(sector / 6.0 - 1, 1, 1), sectors[sector]);
    }
    expectRGB(Color::fromHSB(1, 1, 1), sectors[0]);
    expectRGB(Color::fromHSB(0.25, 0.5, 0.8), {0.6, 0.8, 0.4});
    // No sector to name: red, without an undefined conversion on the way.
    expectRGB(Color::fromHSB(std::numeric_limits<double>::quiet_NaN(), 1, 1), sectors[0]);
}

TEST(ColorTest, HSBRoundTripsAndGreysHaveNoHue) {
    for (double hue = 0; hue < 1; hue += 0.05) {
        const auto hsb = Color::fromHSB(hue, 0.3, 0.7, 0.5).hsb();
        EXPECT_NEAR(hsb.hue, hue, 1e-9);
        EXPECT_NEAR(hsb.saturation, 0.3, 1e-9);
        EXPECT_NEAR(hsb.brightness, 0.7, 1e-9);
        EXPECT_EQ(hsb.alpha, 0.5);
    }
    const auto grey = Color::fromRGBA(0.4, 0.4, 0.4).hsb();
    EXPECT_EQ(grey.hue, 0);
    EXPECT_EQ(grey.saturation, 0);
    EXPECT_EQ(Color::fromRGBA(0, 0, 0).hsb().saturation, 0);
}

TEST(ColorTest, HexTakesAHashAndSixDigitsOfEitherCase) {
    expectRGB(Color::fromHex("#FF8000").value_or(Color{}), {1, 128 / 255.0, 0});
    EXPECT_EQ(Color::fromHex("#ff8000"), Color::fromHex("#FF8000"));
    for (const std::string_view text : {"", "#", "FF8000", "#FFF", "#FF80001", "#FF80GG", " #FF8000", "#+F8000"}) {
        EXPECT_EQ(Color::fromHex(text), std::nullopt) << text;
    }
}

const std::string kDescriptionKey(NSLocalizedDescriptionKey);
const std::string kUnderlyingKey(NSUnderlyingErrorKey);

TEST(ErrorTest, DescriptionAndTypedLookupsRefuseOtherKinds) {
    const NSError error{
        "com.corvay.Ambrell", -7, {{kDescriptionKey, 5}, {"text", "value"}, {kUnderlyingKey, "not an error"}}};
    EXPECT_EQ(error.localizedDescription(), "The operation couldn\u2019t be completed. (com.corvay.Ambrell error -7.)");
    EXPECT_EQ(error.stringForKey("text"), "value");
    EXPECT_EQ(error.integerForKey(kDescriptionKey), 5);
    EXPECT_EQ(error.stringForKey(kDescriptionKey), std::nullopt);
    EXPECT_EQ(error.integerForKey("text"), std::nullopt);
    EXPECT_EQ(error.stringForKey("missing"), std::nullopt);
    EXPECT_EQ(error.underlyingError(), nullptr);
    EXPECT_STREQ(static_cast<const std::exception&>(CancellationError()).what(), "CancellationError");
}

TEST(ErrorTest, EqualityComparesUnderlyingErrorsByValue) {
    const auto cause = [](std::int64_t code) {
        return std::make_shared<const NSError>(NSError{"NSPOSIXErrorDomain", code, {}});
    };
    const NSError error{"com.corvay.Ambrell", 10, {{kUnderlyingKey, cause(2)}}};
    ASSERT_TRUE(error.underlyingError());
    EXPECT_EQ(error.underlyingError()->code, 2);
    EXPECT_EQ(error, (NSError{"com.corvay.Ambrell", 10, {{kUnderlyingKey, cause(2)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{kUnderlyingKey, cause(13)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{kUnderlyingKey, std::shared_ptr<const NSError>()}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 11, {{kUnderlyingKey, cause(2)}}}));
    EXPECT_NE(error, (NSError{"com.corvay.Ambrell", 10, {{kUnderlyingKey, cause(2)}, {"extra", true}}}));
    EXPECT_NE((NSError{"d", 1, {{"k", 1}}}), (NSError{"d", 1, {{"k", 1.0}}}));  // same digits, other kind
}

TEST(UUIDTest, RandomIsVersionFourInCanonicalUpperCaseAndUnique) {
    std::unordered_set<UUID> seen;
    const std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    for (int index = 0; index < 1000; ++index) {
        const auto uuid = UUID::random();
        EXPECT_TRUE(std::regex_match(uuid.uuidString(), canonical)) << uuid.uuidString();
        EXPECT_EQ(UUID::fromString(uuid.uuidString()), uuid);
        EXPECT_TRUE(seen.insert(uuid).second);
    }
}

TEST(UUIDTest, ParsesTheCanonicalFormOnlyInEitherCase) {
    const auto lower = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    EXPECT_EQ(lower, UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    EXPECT_EQ(lower.value_or(UUID()).uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(UUID::fromString("00000000-0000-0000-0000-000000000000"), UUID());
    for (const std::string_view text :
         {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", " E621E1F8-C36C-495A-93FC-0C247A3E6E5"}) {
        EXPECT_EQ(UUID::fromString(text), std::nullopt) << text;
    }
}

TEST(TextEncodingTest, UTF8IsStrict) {
    for (const std::string_view text :
         {"", "plain", "\xC2\x80", "\xED\x9F\xBF" /* U+D7FF */, "\xEE\x80\x80" /* U+E000 */, "\xF0\x9F\x97\xBA",
          "\xF4\x8F\xBF\xBF" /* U+10FFFF */}) {
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
    std::vector<std::uint8_t> everyByte(256);
    for (int byte = 0; byte < 256; ++byte) everyByte[byte] = static_cast<std::uint8_t>(byte);
    const auto text = decodeCP437(everyByte).value_or("");
    EXPECT_TRUE(isValidUTF8(text));
    EXPECT_TRUE(text.ends_with("\xC2\xA0"));  // 0xFF, the no-break space
}

}  // namespace
}  // namespace ambrell::platform

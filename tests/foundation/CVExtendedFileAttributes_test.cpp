#include "foundation/CVExtendedFileAttributes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

class FileAttributesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(platform::writeFileAtomically(file_, "{}"));
        if (platform::setExtendedAttribute(file_, "probe", "1") == std::errc::operation_not_supported) {
            GTEST_SKIP() << "the temp folder's file system has no user extended attributes";
        }
        ASSERT_FALSE(platform::removeExtendedAttribute(file_, "probe"));
    }

    // What another reader of the file sees under the attribute's name.
    [[nodiscard]] std::optional<std::string> stored(std::string_view name) const {
        return platform::getExtendedAttribute(file_, name);
    }

    test::TempDirectory folder_;
    const std::filesystem::path file_ = folder_ / "https:__example.com_venues.json";
};

TEST_F(FileAttributesTest, RawValueRoundTripsAndSettingNothingRemoves) {
    EXPECT_TRUE(xattr_setValue(file_, "https://example.com/tiles/{z}", "tilecache:url"));
    EXPECT_EQ(xattr_valueForAttribute(file_, "tilecache:url"), "https://example.com/tiles/{z}");
    EXPECT_EQ(stored("tilecache:url"), "https://example.com/tiles/{z}");

    EXPECT_TRUE(xattr_setValue(file_, "Zürich", "tilecache:url"));  // replaces, UTF-8 kept
    EXPECT_EQ(xattr_valueForAttribute(file_, "tilecache:url"), "Zürich");

    EXPECT_TRUE(xattr_setValue(file_, std::nullopt, "tilecache:url"));
    EXPECT_EQ(stored("tilecache:url"), std::nullopt);
    EXPECT_TRUE(xattr_setValue(file_, std::nullopt, "tilecache:url"));  // nothing to remove is no failure
    EXPECT_TRUE(xattr_removeAttribute(file_, "tilecache:url"));
}

TEST_F(FileAttributesTest, MissingEmptyOrUnreadableValuesReadAsNone) {
    EXPECT_EQ(xattr_valueForAttribute(file_, "com.corvay.url"), std::nullopt);
    ASSERT_TRUE(xattr_setValue(file_, "", "com.corvay.url"));
    EXPECT_EQ(stored("com.corvay.url"), "");  // written, but empty
    EXPECT_EQ(xattr_valueForAttribute(file_, "com.corvay.url"), std::nullopt);
    ASSERT_FALSE(platform::setExtendedAttribute(file_, "com.corvay.url", "\xFF\xFE"));
    EXPECT_EQ(xattr_valueForAttribute(file_, "com.corvay.url"), std::nullopt);

    const auto missing = folder_ / "missing.json";
    EXPECT_EQ(xattr_valueForAttribute(missing, "com.corvay.url"), std::nullopt);
    EXPECT_FALSE(xattr_setValue(missing, "x", "com.corvay.url"));
    EXPECT_FALSE(xattr_setValue(missing, std::nullopt, "com.corvay.url"));

    EXPECT_FALSE(xattr_setValue(file_, "x", ""));
    EXPECT_FALSE(xattr_removeAttribute(file_, ""));
    EXPECT_EQ(xattr_valueForAttribute(file_, ""), std::nullopt);
}

struct TextAttribute {
    std::string_view name;
    std::optional<std::string> (*get)(const std::filesystem::path&);
    bool (*set)(const std::filesystem::path&, std::optional<std::string_view>);
};

class TextAttributeTest : public FileAttributesTest, public ::testing::WithParamInterface<TextAttribute> {};

TEST_P(TextAttributeTest, RoundTripsUnderItsStoredName) {
    const auto& attribute = GetParam();
    EXPECT_EQ(attribute.get(file_), std::nullopt);
    ASSERT_TRUE(attribute.set(file_, "Tue, 14 Nov 2023 22:13:20 GMT"));
    EXPECT_EQ(stored(attribute.name), "Tue, 14 Nov 2023 22:13:20 GMT");
    EXPECT_EQ(attribute.get(file_), "Tue, 14 Nov 2023 22:13:20 GMT");
    ASSERT_TRUE(attribute.set(file_, std::nullopt));
    EXPECT_EQ(stored(attribute.name), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TextAttributeTest,
    ::testing::Values(TextAttribute{"com.corvay.last-modified", xattr_lastModified, xattr_setLastModified},
                      TextAttribute{"com.corvay.url", xattr_downloadUrl, xattr_setDownloadUrl},
                      TextAttribute{"com.corvay.content-language", xattr_contentLanguage, xattr_setContentLanguage},
                      TextAttribute{"com.corvay.api-endpoint", xattr_apiEndpoint, xattr_setApiEndpoint}));

TEST_F(FileAttributesTest, DownloadDateKeepsWholeSeconds) {
    ASSERT_TRUE(xattr_setDownloadDate(file_, Clock::time_point(1700000000s + 750ms)));
    EXPECT_EQ(stored("com.corvay.download-date"), "1700000000");
    EXPECT_EQ(xattr_downloadDate(file_), Clock::time_point(1700000000s));

    EXPECT_FALSE(xattr_setDownloadDate(file_, Clock::time_point(-2s)));  // no unsigned form: refused
    EXPECT_EQ(stored("com.corvay.download-date"), "1700000000");

    ASSERT_TRUE(xattr_setDownloadDate(file_, std::nullopt));
    EXPECT_EQ(stored("com.corvay.download-date"), std::nullopt);
}

struct StoredNumber {
    std::string_view text;
    std::optional<std::int64_t> value;
};

class StoredDateTest : public FileAttributesTest, public ::testing::WithParamInterface<StoredNumber> {};

// Other writers may leave any text; only a whole number the clock can hold is
// a date.
TEST_P(StoredDateTest, ParsesSignedWholeSeconds) {
    ASSERT_FALSE(platform::setExtendedAttribute(file_, "com.corvay.download-date", GetParam().text));
    std::optional<Clock::time_point> expected;
    if (GetParam().value) expected = Clock::time_point(std::chrono::seconds(*GetParam().value));
    EXPECT_EQ(xattr_downloadDate(file_), expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, StoredDateTest,
                         ::testing::Values(StoredNumber{"1700000000", 1700000000}, StoredNumber{"-86400", -86400},
                                           StoredNumber{"10000000000", std::nullopt},  // past the clock's range
                                           StoredNumber{"17e8", std::nullopt}, StoredNumber{" 17", std::nullopt},
                                           StoredNumber{"date", std::nullopt}));

}  // namespace
}  // namespace ambrell

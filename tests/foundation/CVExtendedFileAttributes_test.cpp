#include "foundation/CVExtendedFileAttributes.h"

#include <gtest/gtest.h>

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

TEST_F(FileAttributesTest, TextAttributesRoundTripUnderTheirStoredNames) {
    using Path = const std::filesystem::path&;
    const std::tuple<std::string_view, std::optional<std::string> (*)(Path),
                     bool (*)(Path, std::optional<std::string_view>)>
        attributes[] = {{"com.corvay.last-modified", xattr_lastModified, xattr_setLastModified},
                        {"com.corvay.url", xattr_downloadUrl, xattr_setDownloadUrl},
                        {"com.corvay.content-language", xattr_contentLanguage, xattr_setContentLanguage},
                        {"com.corvay.api-endpoint", xattr_apiEndpoint, xattr_setApiEndpoint}};
    for (const auto& [name, get, set] : attributes) {
        SCOPED_TRACE(name);
        EXPECT_EQ(get(file_), std::nullopt);
        ASSERT_TRUE(set(file_, "Tue, 14 Nov 2023 22:13:20 GMT"));
        EXPECT_EQ(stored(name), "Tue, 14 Nov 2023 22:13:20 GMT");
        EXPECT_EQ(get(file_), "Tue, 14 Nov 2023 22:13:20 GMT");
        ASSERT_TRUE(set(file_, std::nullopt));
        EXPECT_EQ(stored(name), std::nullopt);
    }
}

TEST_F(FileAttributesTest, DownloadDateIsStoredAndReadAsWholeSignedSeconds) {
    ASSERT_TRUE(xattr_setDownloadDate(file_, Clock::time_point(1700000000s + 750ms)));
    EXPECT_EQ(stored("com.corvay.download-date"), "1700000000");
    EXPECT_EQ(xattr_downloadDate(file_), Clock::time_point(1700000000s));

    EXPECT_FALSE(xattr_setDownloadDate(file_, Clock::time_point(-2s)));  // no unsigned form: refused
    EXPECT_EQ(stored("com.corvay.download-date"), "1700000000");

    ASSERT_TRUE(xattr_setDownloadDate(file_, std::nullopt));
    EXPECT_EQ(stored("com.corvay.download-date"), std::nullopt);

    // Other writers may leave any text; only a whole number the clock can hold is a date.
    const std::pair<std::string_view, std::optional<std::int64_t>> cases[] = {
        {"1700000000", 1700000000}, {"-86400", -86400},
        {"10000000000", std::nullopt},  // past the clock's range
        {"17e8", std::nullopt},     {" 17", std::nullopt}, {"date", std::nullopt},
    };
    for (const auto& [text, seconds] : cases) {
        ASSERT_FALSE(platform::setExtendedAttribute(file_, "com.corvay.download-date", text));
        std::optional<Clock::time_point> expected;
        if (seconds) expected = Clock::time_point(std::chrono::seconds(*seconds));
        EXPECT_EQ(xattr_downloadDate(file_), expected) << text;
    }
}

}  // namespace
}  // namespace ambrell

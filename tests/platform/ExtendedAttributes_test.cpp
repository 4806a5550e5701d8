#include "platform/ExtendedAttributes.h"

#include <sys/xattr.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::platform {
namespace {

class ExtendedAttributesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(writeFileAtomically(file_, "contents"));
        if (const auto error = setExtendedAttribute(file_, "probe", "1"); error == std::errc::operation_not_supported) {
            GTEST_SKIP() << "the temp folder's file system has no user extended attributes";
        }
        ASSERT_FALSE(removeExtendedAttribute(file_, "probe"));
    }

    test::TempDirectory folder_;
    const std::filesystem::path file_ = folder_ / "cached.json";
};

TEST_F(ExtendedAttributesTest, PlatformNamesLiveInTheUserNamespace) {
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.url", "https://example.com/a.json"));
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.url"), "https://example.com/a.json");
    EXPECT_EQ(getExtendedAttribute(file_, "user.com.corvay.url"), "https://example.com/a.json");

    // What other tools see: the kernel's name carries the prefix once.
    char value[64];
    const auto size = ::getxattr(file_.c_str(), "user.com.corvay.url", value, sizeof value);
    EXPECT_EQ(std::string(value, size > 0 ? static_cast<std::size_t>(size) : 0), "https://example.com/a.json");
}

TEST_F(ExtendedAttributesTest, ValuesAreBytesAndSettingReplaces) {
    const std::string binary("a\0b\xFF", 4);
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.etag", binary));
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.etag"), binary);

    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.etag", ""));
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.etag"), "");

    const std::string large(2048, 'x');  // ext4 keeps values within one block
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.etag", large));
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.etag"), large);
}

TEST_F(ExtendedAttributesTest, MissingAttributeOrFile) {
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.none"), std::nullopt);
    EXPECT_FALSE(removeExtendedAttribute(file_, "com.corvay.none"));

    const auto missing = folder_ / "missing";
    EXPECT_EQ(getExtendedAttribute(missing, "com.corvay.url"), std::nullopt);
    EXPECT_EQ(setExtendedAttribute(missing, "com.corvay.url", "x"), std::errc::no_such_file_or_directory);
    EXPECT_EQ(removeExtendedAttribute(missing, "com.corvay.url"), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(listExtendedAttributes(missing).empty());
}

TEST_F(ExtendedAttributesTest, ListsNamesWithoutThePrefix) {
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.url", "u"));
    ASSERT_FALSE(setExtendedAttribute(file_, "user.com.corvay.date", "d"));
    auto names = listExtendedAttributes(file_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"com.corvay.date", "com.corvay.url"}));

    ASSERT_FALSE(removeExtendedAttribute(file_, "com.corvay.url"));
    EXPECT_EQ(listExtendedAttributes(file_), std::vector<std::string>{"com.corvay.date"});
}

TEST_F(ExtendedAttributesTest, RefusesNamesTheKernelWouldMisread) {
    const std::string withNul("com.corvay\0.url", 15);
    EXPECT_EQ(setExtendedAttribute(file_, withNul, "x"), std::errc::invalid_argument);
    EXPECT_EQ(setExtendedAttribute(file_, "", "x"), std::errc::invalid_argument);
    EXPECT_EQ(setExtendedAttribute(file_, "user.", "x"), std::errc::invalid_argument);
    EXPECT_EQ(setExtendedAttribute(file_, std::string(300, 'n'), "x"), std::errc::filename_too_long);
    EXPECT_EQ(getExtendedAttribute(file_, std::string(300, 'n')), std::nullopt);
    EXPECT_EQ(getExtendedAttribute(file_, withNul), std::nullopt);
    EXPECT_TRUE(listExtendedAttributes(file_).empty());

    // A path cut short by a NUL would name another file.
    const std::filesystem::path cutPath(file_.native() + std::string("\0.other", 7));
    EXPECT_EQ(setExtendedAttribute(cutPath, "com.corvay.url", "x"), std::errc::invalid_argument);
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.url"), std::nullopt);
}

TEST_F(ExtendedAttributesTest, FollowsSymbolicLinks) {
    const auto link = folder_ / "link";
    std::filesystem::create_symlink(file_, link);
    ASSERT_FALSE(setExtendedAttribute(link, "com.corvay.url", "through the link"));
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.url"), "through the link");
}

TEST_F(ExtendedAttributesTest, ReadsAWholeValueWhileAnotherThreadResizesIt) {
    const std::string shortValue(10, 's');
    const std::string longValue(2000, 'l');
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.url", shortValue));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop; ++round) {
            (void)setExtendedAttribute(file_, "com.corvay.url", round % 2 == 0 ? longValue : shortValue);
        }
    });
    for (int read = 0; read < 2000; ++read) {
        const auto value = getExtendedAttribute(file_, "com.corvay.url");
        // None only when a writer won every retry; never a torn value.
        if (value) {
            EXPECT_TRUE(*value == shortValue || *value == longValue) << value->size();
        }
    }
    stop = true;
    writer.join();
}

}  // namespace
}  // namespace ambrell::platform

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
        if (setExtendedAttribute(file_, "probe", "1") == std::errc::operation_not_supported) {
            GTEST_SKIP() << "the temp folder's file system has no user extended attributes";
        }
        ASSERT_FALSE(removeExtendedAttribute(file_, "probe"));
    }

    test::TempDirectory folder_;
    const std::filesystem::path file_ = folder_ / "cached.json";
};

TEST_F(ExtendedAttributesTest, PlatformNamesLiveInTheUserNamespace) {
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.url", "https://example.com/a.json"));
    ASSERT_FALSE(setExtendedAttribute(file_, "user.com.corvay.date", "d"));
    EXPECT_EQ(getExtendedAttribute(file_, "user.com.corvay.url"), "https://example.com/a.json");
    EXPECT_EQ(::getxattr(file_.c_str(), "user.com.corvay.url", nullptr, 0), 26);  // the prefix once, as other tools see it
    auto names = listExtendedAttributes(file_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"com.corvay.date", "com.corvay.url"}));
}

TEST_F(ExtendedAttributesTest, ValuesAreBytesAndSettingReplaces) {
    for (const auto& value : {std::string("a\0b\xFF", 4), std::string(), std::string(2048, 'x')}) {
        ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.etag", value));
        EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.etag"), value);
    }
    ASSERT_FALSE(removeExtendedAttribute(file_, "com.corvay.etag"));
    EXPECT_EQ(getExtendedAttribute(file_, "com.corvay.etag"), std::nullopt);
    EXPECT_FALSE(removeExtendedAttribute(file_, "com.corvay.etag"));  // already gone: fine

    const auto missing = folder_ / "missing";
    EXPECT_EQ(getExtendedAttribute(missing, "com.corvay.url"), std::nullopt);
    EXPECT_EQ(setExtendedAttribute(missing, "com.corvay.url", "x"), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(listExtendedAttributes(missing).empty());
}

TEST_F(ExtendedAttributesTest, RefusesNamesAndPathsTheKernelWouldMisread) {
    EXPECT_EQ(setExtendedAttribute(file_, std::string("com.corvay\0.url", 15), "x"), std::errc::invalid_argument);
    EXPECT_EQ(setExtendedAttribute(file_, "", "x"), std::errc::invalid_argument);
    EXPECT_EQ(setExtendedAttribute(file_, "user.", "x"), std::errc::invalid_argument);
    // The kernel answers ERANGE to a long name, which would pass for a race.
    EXPECT_EQ(setExtendedAttribute(file_, std::string(300, 'n'), "x"), std::errc::filename_too_long);
    EXPECT_EQ(getExtendedAttribute(file_, std::string(300, 'n')), std::nullopt);
    const std::filesystem::path cutShort(file_.native() + std::string("\0.other", 7));
    EXPECT_EQ(setExtendedAttribute(cutShort, "com.corvay.url", "x"), std::errc::invalid_argument);
    EXPECT_TRUE(listExtendedAttributes(file_).empty());
}

TEST_F(ExtendedAttributesTest, ReadsAWholeValueWhileAnotherThreadResizesIt) {
    const std::string shortValue(10, 's');
    const std::string longValue(2000, 'l');
    ASSERT_FALSE(setExtendedAttribute(file_, "com.corvay.url", shortValue));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop; ++round) (void)setExtendedAttribute(file_, "com.corvay.url", round % 2 ? shortValue : longValue);
    });
    for (int read = 0; read < 2000; ++read) {
        // None only when the writer won every retry; never a torn value.
        if (const auto value = getExtendedAttribute(file_, "com.corvay.url")) {
            EXPECT_TRUE(*value == shortValue || *value == longValue) << value->size();
        }
    }
    stop = true;
    writer.join();
}

}  // namespace
}  // namespace ambrell::platform

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "mapcontrol/AXSDKContentSizeChange.h"
#include "mapcontrol/CVDynamicContentSizeHelper.h"
#include "platform/ContentSizeCategory.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::dynamic_text_size_test {
namespace {

using platform::ContentSize;
using platform::ContentSizeCategory;

// Any object may observe; this one records what its handler heard.
struct Observer : AXSDKContentSizeChange {
    std::vector<CVDynamicTextSize> heard;
    void listen() {
        cvsdk_onContentSizeChange([this](CVDynamicTextSize size) { heard.push_back(size); });
    }
};

// The platform's change notification, as the system posts it (also when the
// category stayed the same).
void postCategoryChange() { platform::NotificationCenter::defaultCenter().post(ContentSize::didChangeNotification()); }

TEST(DynamicTextSize, StartsFromThePreferredCategory) {
    auto& helper = CVDynamicContentSizeHelper::sharedInstance();
    EXPECT_EQ(helper.dynamicTextSize(), CVDynamicTextSize::L);
    EXPECT_EQ(&helper, &CVDynamicContentSizeHelper::sharedInstance());
}

TEST(DynamicTextSize, EveryCategoryMapsToItsSizeAndName) {
    struct Row {
        ContentSizeCategory category;
        CVDynamicTextSize size;
        const char* name;
    };
    const Row rows[] = {
        {ContentSizeCategory::ExtraSmall, CVDynamicTextSize::XS, "CVDynamicTextSize_XS"},
        {ContentSizeCategory::Small, CVDynamicTextSize::S, "CVDynamicTextSize_S"},
        {ContentSizeCategory::Medium, CVDynamicTextSize::M, "CVDynamicTextSize_M"},
        {ContentSizeCategory::Large, CVDynamicTextSize::L, "CVDynamicTextSize_L"},
        {ContentSizeCategory::ExtraLarge, CVDynamicTextSize::XL, "CVDynamicTextSize_XL"},
        {ContentSizeCategory::ExtraExtraLarge, CVDynamicTextSize::XXL, "CVDynamicTextSize_XXL"},
        {ContentSizeCategory::ExtraExtraExtraLarge, CVDynamicTextSize::XXXL, "CVDynamicTextSize_XXXL"},
        {ContentSizeCategory::AccessibilityMedium, CVDynamicTextSize::Accessibility_M,
         "CVDynamicTextSize_Accessibility_M"},
        {ContentSizeCategory::AccessibilityLarge, CVDynamicTextSize::Accessibility_L,
         "CVDynamicTextSize_Accessibility_L"},
        {ContentSizeCategory::AccessibilityExtraLarge, CVDynamicTextSize::Accessibility_XL,
         "CVDynamicTextSize_Accessibility_XL"},
        {ContentSizeCategory::AccessibilityExtraExtraLarge, CVDynamicTextSize::Accessibility_XXL,
         "CVDynamicTextSize_Accessibility_XXL"},
        {ContentSizeCategory::AccessibilityExtraExtraExtraLarge, CVDynamicTextSize::Accessibility_XXXL,
         "CVDynamicTextSize_Accessibility_XXXL"},
    };
    auto& helper = CVDynamicContentSizeHelper::sharedInstance();
    for (const auto& row : rows) {
        ContentSize::setPreferredCategory(row.category);
        EXPECT_EQ(helper.dynamicTextSize(), row.size) << row.name;
        EXPECT_EQ(CVDynamicContentSizeHelper::nameForTextSize(row.size), row.name);
    }
    EXPECT_EQ(static_cast<int>(helper.dynamicTextSize()), 12);
}

TEST(DynamicTextSize, AnUnknownCategoryKeepsTheSize) {
    auto& helper = CVDynamicContentSizeHelper::sharedInstance();
    ContentSize::setPreferredCategory(ContentSizeCategory::Large);
    ContentSize::setPreferredCategory(ContentSizeCategory::Unspecified);
    EXPECT_EQ(helper.dynamicTextSize(), CVDynamicTextSize::L);
}

TEST(DynamicTextSize, NamesPastTheTableCarryTheNumber) {
    EXPECT_EQ(CVDynamicContentSizeHelper::nameForTextSize(CVDynamicTextSize::Unknown), "CVDynamicTextSize_Unknown");
    EXPECT_EQ(CVDynamicContentSizeHelper::nameForTextSize(static_cast<CVDynamicTextSize>(13)), "CVDynamicTextSize=13");
    EXPECT_EQ(CVDynamicContentSizeHelper::nameForTextSize(static_cast<CVDynamicTextSize>(4000)),
              "CVDynamicTextSize=4000");
}

TEST(DynamicTextSize, AChangeIsLoggedOnceAndEveryUpdateReachesBlockAndObservers) {
    auto& helper = CVDynamicContentSizeHelper::sharedInstance();
    std::vector<CVDynamicTextSize> blockCalls;
    helper.setUpdateBlock([&](CVDynamicTextSize size) { blockCalls.push_back(size); });
    Observer observer;
    observer.listen();
    const test::ScopedLogCapture logs;

    ContentSize::setPreferredCategory(ContentSizeCategory::ExtraLarge);
    postCategoryChange();

    const std::vector<CVDynamicTextSize> twice{CVDynamicTextSize::XL, CVDynamicTextSize::XL};
    EXPECT_EQ(blockCalls, twice);
    EXPECT_EQ(observer.heard, twice);
    int changes = 0;
    for (const auto& entry : logs.sink().messages()) {
        if (entry.message.find("CVDynamicContentSizeHelper:") == std::string::npos) continue;
        ++changes;
        EXPECT_EQ(entry.level, platform::LogLevel::debug);
        EXPECT_EQ(entry.message,
                  "-[CVDynamicContentSizeHelper setDynamicTextSize:] CVDynamicContentSizeHelper: "
                  "CVDynamicTextSize_L => CVDynamicTextSize_XL");
    }
    EXPECT_EQ(changes, 1);
    helper.setUpdateBlock(nullptr);
}

TEST(DynamicTextSize, ASecondHandlerReplacesTheFirstAndObservesOnce) {
    Observer observer;
    int first = 0;
    int second = 0;
    observer.cvsdk_onContentSizeChange([&](CVDynamicTextSize) { ++first; });
    observer.cvsdk_onContentSizeChange([&](CVDynamicTextSize) { ++second; });
    ContentSize::setPreferredCategory(ContentSizeCategory::Small);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(observer.cvsdk_currentContentSize(), CVDynamicTextSize::S);
}

TEST(DynamicTextSize, StoppingOrAnEmptyHandlerEndsTheObservation) {
    Observer stopped;
    stopped.listen();
    stopped.cvsdk_stopMonitoringContentSizeChanges();
    EXPECT_FALSE(stopped.cvsdk_currentContentSizeChangeBlock());
    stopped.cvsdk_stopMonitoringContentSizeChanges();  // nothing to stop: nothing happens

    Observer emptied;
    emptied.listen();
    emptied.cvsdk_onContentSizeChange(nullptr);

    // Storing a handler alone does not observe.
    Observer stored;
    int storedCalls = 0;
    stored.setCvsdk_currentContentSizeChangeBlock([&](CVDynamicTextSize) { ++storedCalls; });

    ContentSize::setPreferredCategory(ContentSizeCategory::Medium);
    EXPECT_TRUE(stopped.heard.empty());
    EXPECT_TRUE(emptied.heard.empty());
    EXPECT_EQ(storedCalls, 0);
    EXPECT_TRUE(stored.cvsdk_currentContentSizeChangeBlock());
}

TEST(DynamicTextSize, AnObserverThatGoesIsNeverCalled) {
    auto observer = std::make_unique<Observer>();
    observer->listen();
    observer.reset();
    ContentSize::setPreferredCategory(ContentSizeCategory::ExtraSmall);
    EXPECT_EQ(CVDynamicContentSizeHelper::sharedInstance().dynamicTextSize(), CVDynamicTextSize::XS);
}

// Handlers run outside every lock: one may read the helper, replace the
// update block, stop its own observation and start another's.
TEST(DynamicTextSize, HandlersMayCallBackIntoTheHelperAndObservers) {
    auto& helper = CVDynamicContentSizeHelper::sharedInstance();
    Observer other;
    Observer self;
    std::vector<CVDynamicTextSize> read;
    self.cvsdk_onContentSizeChange([&](CVDynamicTextSize size) {
        read.push_back(helper.dynamicTextSize());
        helper.setUpdateBlock([](CVDynamicTextSize) {});
        self.cvsdk_stopMonitoringContentSizeChanges();
        other.listen();
        EXPECT_EQ(size, helper.dynamicTextSize());
    });
    ContentSize::setPreferredCategory(ContentSizeCategory::ExtraExtraLarge);
    ContentSize::setPreferredCategory(ContentSizeCategory::AccessibilityMedium);
    EXPECT_EQ(read, std::vector<CVDynamicTextSize>{CVDynamicTextSize::XXL});
    EXPECT_EQ(other.heard, std::vector<CVDynamicTextSize>{CVDynamicTextSize::Accessibility_M});
    helper.setUpdateBlock(nullptr);
}

}  // namespace
}  // namespace ambrell::dynamic_text_size_test

#include "data/CVLanguageSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "data/AmbrellLegacy.h"
#include "platform/UserDefaults.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using platform::MainQueue;
using platform::NotificationCenter;
using platform::UserDefaults;

// What observers of the language change see: the language stored when each
// notification arrives, and whether it arrived on the main queue.
class LanguageObserver {
public:
    LanguageObserver()
        : token_(NotificationCenter::defaultCenter().addObserver(
              kNotificationAmbrellLanguageChanged(), [this](const platform::Notification& notification) {
                  std::lock_guard lock(mutex_);
                  seen_.push_back(CVLanguageSupport::ax_getLanguage());
                  allOnMainQueue_ = allOnMainQueue_ && MainQueue::shared().isCurrent();
                  EXPECT_FALSE(notification.object.has_value());
              })) {}

    // Everything posted so far has been delivered.
    std::vector<std::optional<std::string>> seen() const {
        MainQueue::shared().drain();
        std::lock_guard lock(mutex_);
        return seen_;
    }
    bool allOnMainQueue() const {
        std::lock_guard lock(mutex_);
        return allOnMainQueue_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::optional<std::string>> seen_;
    bool allOnMainQueue_ = true;
    NotificationCenter::ObserverToken token_;
};

class LanguageSupport : public test::ContainerFixture {
protected:
    // The file the values are written to, read by a fresh reader.
    static UserDefaults fromDisk() { return UserDefaults(UserDefaults::standard().filePath()); }

    platform::MainQueueThread mainQueue_;
    LanguageObserver observer_;
};

TEST_F(LanguageSupport, StoresTheThreeValuesUnderTheirKeys) {
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    CVLanguageSupport::ax_setDefaultLanguage("en");
    CVLanguageSupport::ax_setAvailableLanguages(std::vector<std::string>{"en", "de", "da"});

    const auto stored = fromDisk();
    EXPECT_EQ(stored.stringForKey("ax-language"), "de");
    EXPECT_EQ(stored.stringForKey("ax-default-language"), "en");
    EXPECT_EQ(stored.stringArrayForKey("ax-available-languages"), (std::vector<std::string>{"en", "de", "da"}));
    EXPECT_EQ(CVLanguageSupport::ax_getLanguage(), "de");
    EXPECT_EQ(CVLanguageSupport::ax_getDefaultLanguage(), "en");
    EXPECT_TRUE(CVLanguageSupport::ax_isLanguageAvailable("da"));
    EXPECT_FALSE(CVLanguageSupport::ax_isLanguageAvailable("DA"));
    EXPECT_FALSE(CVLanguageSupport::ax_isLanguageAvailable("fr"));

    CVLanguageSupport::ax_setDefaultLanguage(std::nullopt);
    CVLanguageSupport::ax_setAvailableLanguages(std::nullopt);
    const auto cleared = fromDisk();
    EXPECT_FALSE(cleared.hasKey("ax-default-language"));
    EXPECT_FALSE(cleared.hasKey("ax-available-languages"));
    EXPECT_EQ(cleared.stringForKey("ax-language"), "de");
}

TEST_F(LanguageSupport, NoListMeansNoLanguageIsAvailable) {
    for (const char* language : {"en", "de", ""}) EXPECT_FALSE(CVLanguageSupport::ax_isLanguageAvailable(language));
    CVLanguageSupport::ax_setAvailableLanguages(std::vector<std::string>{});
    EXPECT_FALSE(CVLanguageSupport::ax_isLanguageAvailable("en"));
}

TEST_F(LanguageSupport, AnnouncesOnlyRealChangesOnTheMainQueue) {
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    EXPECT_FALSE(CVLanguageSupport::ax_setLanguage("de"));
    EXPECT_EQ(observer_.seen(), (std::vector<std::optional<std::string>>{"de"}));

    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("fr"));
    EXPECT_EQ(observer_.seen().size(), 2u);
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage(std::nullopt));
    EXPECT_EQ(observer_.seen().size(), 3u);
    // A missing language never equals anything, also a missing one.
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage(std::nullopt));
    EXPECT_EQ(observer_.seen(), (std::vector<std::optional<std::string>>{"de", "fr", std::nullopt, std::nullopt}));
    EXPECT_TRUE(observer_.allOnMainQueue());
}

TEST_F(LanguageSupport, ObserversSeeTheValueStoredLast) {
    // Hold the main queue so both changes are stored before either is delivered.
    std::promise<void> release;
    MainQueue::shared().async([gate = release.get_future().share()] { gate.wait(); });
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("fr"));
    release.set_value();
    EXPECT_EQ(observer_.seen(), (std::vector<std::optional<std::string>>{"fr", "fr"}));
}

TEST_F(LanguageSupport, FallingBackWithoutDefaultRemovesTheLanguage) {
    ASSERT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    ASSERT_EQ(observer_.seen().size(), 1u);
    CVLanguageSupport::ax_switchToDefaultLanguage();

    EXPECT_FALSE(fromDisk().hasKey("ax-language"));
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "en");
    EXPECT_EQ(observer_.seen(), (std::vector<std::optional<std::string>>{"de", std::nullopt}));

    CVLanguageSupport::ax_setDefaultLanguage("da");
    CVLanguageSupport::ax_switchToDefaultLanguage();
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "da");
    EXPECT_EQ(observer_.seen().size(), 3u);
}

TEST_F(LanguageSupport, RefusedTextChangesNothing) {
    ASSERT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    EXPECT_FALSE(CVLanguageSupport::ax_setLanguage("\xff\xfe"));
    EXPECT_EQ(fromDisk().stringForKey("ax-language"), "de");
    EXPECT_EQ(observer_.seen(), (std::vector<std::optional<std::string>>{"de"}));
}

TEST_F(LanguageSupport, ConcurrentSettersAnnounceOneChange) {
    std::atomic<int> changed{0};
    std::vector<std::thread> setters;
    for (int i = 0; i < 8; ++i) {
        setters.emplace_back([&changed] {
            if (CVLanguageSupport::ax_setLanguage("nl")) ++changed;
        });
    }
    for (auto& setter : setters) setter.join();
    EXPECT_EQ(changed.load(), 1);
    EXPECT_EQ(observer_.seen(), (std::vector<std::optional<std::string>>{"nl"}));
}

}  // namespace
}  // namespace ambrell

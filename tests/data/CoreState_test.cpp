// The library's shared state: the bound key, the content language and its
// announcements, the position provider, and the memory and user-default caches.

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "Ambrell/CVPositionProvider.h"
#include "data/AmbrellLegacy.h"
#include "data/CVLanguageSupport.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVModelCache.h"
#include "data/CVUserDefaultCache.h"
#include "foundation/CVContentContext.h"
#include "foundation/LRUCache.h"
#include "platform/UserDefaults.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using platform::MainQueue;
using platform::NSError;
using platform::NotificationCenter;
using platform::UserDefaults;
using Languages = std::vector<std::optional<std::string>>;

class CoreState : public test::ContainerFixture {
protected:
    ~CoreState() override { AmbrellLegacy::resetForTesting(); }
};

TEST_F(CoreState, BindsTheKeyAndLanguageTheFoundationReads) {
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "en");  // the fallback
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), std::nullopt);
    EXPECT_EQ(AmbrellLegacy::getGoogleAPIKey(), std::nullopt);

    AmbrellLegacy::setApiKey("solution-2");
    CVLanguageSupport::ax_setLanguage("fi");
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "fi");
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), "solution-2");
    EXPECT_EQ(AmbrellLegacy::getGoogleAPIKey(), std::nullopt);  // never one
    EXPECT_EQ(CVContentContext::apiKey(), "solution-2");
    EXPECT_EQ(CVContentContext::language(), "fi");

    CVContentContext::resetForTesting();
    AmbrellLegacy::resetForTesting();
    EXPECT_EQ(CVContentContext::apiKey(), std::nullopt);
    EXPECT_EQ(CVContentContext::language(), "fi");
}

class StubPositionProvider : public CVPositionProvider {};

TEST_F(CoreState, ObserversOfAReassignmentSeeThePreviousProvider) {
    // Per notification: whether it carries a provider, that provider, and the one stored when it arrives.
    using Provider = std::shared_ptr<CVPositionProvider>;
    using Seen = std::tuple<bool, Provider, Provider>;
    std::vector<Seen> seen;
    auto token = NotificationCenter::defaultCenter().addObserver(
        CVPositionProviderReassignedNotification(), [&seen](const platform::Notification& notification) {
            const bool carried = notification.object.has_value();
            seen.emplace_back(carried, carried ? std::any_cast<Provider>(notification.object) : nullptr,
                              AmbrellLegacy::positionProvider());
        });
    const Provider first = std::make_shared<StubPositionProvider>();
    const Provider second = std::make_shared<StubPositionProvider>();
    AmbrellLegacy::setPositionProvider(first);
    AmbrellLegacy::setPositionProvider(second);
    AmbrellLegacy::setPositionProvider(nullptr);
    EXPECT_EQ(seen, (std::vector<Seen>{{true, first, nullptr}, {true, second, first}, {false, nullptr, second}}));
    EXPECT_EQ(AmbrellLegacy::positionProvider(), nullptr);
}

TEST_F(CoreState, DataLoadingErrorCarriesItsCauses) {
    using Causes = AmbrellLegacy::UnderlyingErrors;
    const std::string key = "syncContent::underlyingError";
    const auto timeout = std::make_shared<const NSError>(NSError{"NSURLErrorDomain", -1001, {}});
    const auto missing = std::make_shared<const NSError>(NSError{"com.corvay.Ambrell", 10, {}});
    const NSError error = AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(Causes{timeout, missing});
    EXPECT_EQ(error, (NSError{"com.corvay.Ambrell", 101610, {{key, Causes{timeout, missing}}}}));
    // The very objects given.
    EXPECT_EQ(std::get<Causes>(error.userInfo.at(key)), (Causes{timeout, missing}));

    // Equal causes, other objects: equal errors; other causes: not.
    const auto sameTimeout = std::make_shared<const NSError>(*timeout);
    EXPECT_EQ(error, AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(Causes{sameTimeout, missing}));
    EXPECT_NE(error, AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(Causes{missing, timeout}));

    EXPECT_EQ(AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(std::nullopt),
              (NSError{"com.corvay.Ambrell", 101610, {}}));
    EXPECT_EQ(AmbrellLegacy::createDataLoadingErrorWithUnderlyingErrors(Causes{}),
              (NSError{"com.corvay.Ambrell", 101610, {{key, Causes{}}}}));
}

// Observes the language change: the language stored when each notification
// arrives, and whether every one arrived on the main queue.
class LanguageSupport : public test::ContainerFixture {
protected:
    // The file the values are written to, read by a fresh reader.
    static UserDefaults fromDisk() { return UserDefaults(UserDefaults::standard().filePath()); }

    // Once everything posted so far has been delivered.
    Languages seen() {
        MainQueue::shared().drain();
        std::lock_guard lock(mutex_);
        return seen_;
    }

    platform::MainQueueThread mainQueue_;
    std::mutex mutex_;
    Languages seen_;
    bool allOnMainQueue_ = true;
    NotificationCenter::ObserverToken token_ = NotificationCenter::defaultCenter().addObserver(
        kNotificationAmbrellLanguageChanged(), [this](const platform::Notification& notification) {
            std::lock_guard lock(mutex_);
            seen_.push_back(CVLanguageSupport::ax_getLanguage());
            allOnMainQueue_ = allOnMainQueue_ && MainQueue::shared().isCurrent();
            EXPECT_FALSE(notification.object.has_value());
        });
};

TEST_F(LanguageSupport, StoresTheThreeValuesUnderTheirKeys) {
    // No list means no language is available.
    for (const char* language : {"en", "de", ""}) EXPECT_FALSE(CVLanguageSupport::ax_isLanguageAvailable(language));
    CVLanguageSupport::ax_setAvailableLanguages(std::vector<std::string>{});
    EXPECT_FALSE(CVLanguageSupport::ax_isLanguageAvailable("en"));

    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    CVLanguageSupport::ax_setDefaultLanguage("en");
    CVLanguageSupport::ax_setAvailableLanguages(std::vector<std::string>{"en", "de", "da"});
    const auto stored = fromDisk();
    EXPECT_EQ(std::tuple(stored.stringForKey("ax-language"), stored.stringForKey("ax-default-language")),
              std::tuple("de", "en"));
    EXPECT_EQ(stored.stringArrayForKey("ax-available-languages"), (std::vector<std::string>{"en", "de", "da"}));
    EXPECT_EQ(std::tuple(CVLanguageSupport::ax_getLanguage(), CVLanguageSupport::ax_getDefaultLanguage()),
              std::tuple("de", "en"));
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

TEST_F(LanguageSupport, AnnouncesOnlyRealChangesOnTheMainQueue) {
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    EXPECT_FALSE(CVLanguageSupport::ax_setLanguage("de"));
    EXPECT_EQ(seen(), Languages{"de"});
    // Refused text changes nothing.
    EXPECT_FALSE(CVLanguageSupport::ax_setLanguage("\xff\xfe"));
    EXPECT_EQ(fromDisk().stringForKey("ax-language"), "de");
    EXPECT_EQ(seen(), Languages{"de"});

    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("fr"));
    EXPECT_EQ(seen().size(), 2u);
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage(std::nullopt));
    EXPECT_EQ(seen().size(), 3u);
    // A missing language never equals anything, also a missing one.
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage(std::nullopt));
    EXPECT_EQ(seen(), (Languages{"de", "fr", std::nullopt, std::nullopt}));
    EXPECT_TRUE(allOnMainQueue_);  // every delivery has run, see seen()
}

TEST_F(LanguageSupport, ObserversSeeTheValueStoredLast) {
    // Hold the main queue so both changes are stored before either is delivered.
    std::promise<void> release;
    MainQueue::shared().async([gate = release.get_future().share()] { gate.wait(); });
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    EXPECT_TRUE(CVLanguageSupport::ax_setLanguage("fr"));
    release.set_value();
    EXPECT_EQ(seen(), (Languages{"fr", "fr"}));
}

TEST_F(LanguageSupport, FallingBackWithoutDefaultRemovesTheLanguage) {
    ASSERT_TRUE(CVLanguageSupport::ax_setLanguage("de"));
    ASSERT_EQ(seen().size(), 1u);
    CVLanguageSupport::ax_switchToDefaultLanguage();
    EXPECT_FALSE(fromDisk().hasKey("ax-language"));
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "en");
    EXPECT_EQ(seen(), (Languages{"de", std::nullopt}));

    CVLanguageSupport::ax_setDefaultLanguage("da");
    CVLanguageSupport::ax_switchToDefaultLanguage();
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "da");
    EXPECT_EQ(seen().size(), 3u);
}

TEST_F(LanguageSupport, ConcurrentSettersAnnounceOneChange) {
    std::atomic<int> changed{0};
    {
        std::vector<std::jthread> setters;
        for (int i = 0; i < 8; ++i) {
            setters.emplace_back([&changed] {
                if (CVLanguageSupport::ax_setLanguage("nl")) ++changed;
            });
        }
    }
    EXPECT_EQ(changed.load(), 1);
    EXPECT_EQ(seen(), Languages{"nl"});
}

TEST(CVModelCache, KeysAreTheUrlsOnTheProductionHost) {
    const std::pair<const char*, const char*> table[] = {
        {"https://api-dev.ambrell.com/sync/v1/locations?lang=en", "https://api.ambrell.com/sync/v1/locations?lang=en"},
        {"https://api-staging.ambrell.com/sync/v1/venues", "https://api.ambrell.com/sync/v1/venues"},
        {"https://api.ambrell.com/sync/v1/venues", "https://api.ambrell.com/sync/v1/venues"},
        {"https://example.com/file.json", "https://example.com/file.json"},
    };
    for (const auto& [url, key] : table) EXPECT_EQ(CVModelCache::cacheKeyForUrl(url), key) << url;
}

TEST(CVModelCache, OneInstanceHoldsModelsByTypeAndClearsWithTheIndex) {
    auto cache = CVModelCache::memoryCache();
    EXPECT_EQ(CVModelCache::memoryCache(), cache);
    const auto key = CVModelCache::cacheKeyForUrl("https://api-dev.ambrell.com/sync/v1/solutions");
    cache->setObject(std::make_shared<std::string>("solution"), key);
    const auto productionKey = CVModelCache::cacheKeyForUrl("https://api.ambrell.com/sync/v1/solutions");
    EXPECT_EQ(*cache->objectForKey<std::string>(productionKey), "solution");
    EXPECT_EQ(cache->objectForKey<int>(key), nullptr);  // another type is a miss, never a bad cast

    // The index is process-wide: other tests in this process may have filled it.
    CVLocationSourceIndex::clear();
    auto index = CVLocationSourceIndex::current();
    EXPECT_EQ(CVLocationSourceIndex::current(), index);
    index->setParentId("floor-1", "b1-1");
    index->setParentId("floor", "b1-1");  // a later registration wins
    EXPECT_EQ(index->parentIdForReadableId("b1-2"), std::nullopt);
    test::ScopedLogCapture log;
    cache->clearCache();
    EXPECT_EQ(cache->count(), 0u);
    EXPECT_TRUE(log.sink().contains("-[CVModelCache clearCache] Clearing memory cache data"));
    EXPECT_NE(CVLocationSourceIndex::current(), index);
    EXPECT_TRUE(CVLocationSourceIndex::current()->readableLocationIdMap().empty());
    EXPECT_EQ(index->parentIdForReadableId("b1-1"), "floor");  // an old holder keeps its copy
}

TEST(CVModelCache, AMemoryWarningEmptiesTheCacheButKeepsTheIndexAndTheCacheFillsAgain) {
    NotificationCenter center;
    NotificationCenter elsewhere;
    auto cache = std::make_shared<CVModelCache>(center);
    cache->setObject(std::make_shared<std::string>("venues"), "venues");
    // A model whose release looks into the cache, as a provider's may: inside the cache's lock that would deadlock.
    int released = 0;
    cache->setObject(std::shared_ptr<int>(new int(1),
                                          [&](const int* value) {
                                              (void)cache->objectForKey<std::string>("venues");
                                              ++released;
                                              delete value;
                                          }),
                     "buildings");
    CVLocationSourceIndex::current()->setParentId("b-1", "ax_b_north");

    elsewhere.post(LRUCacheMemoryWarningNotification());
    EXPECT_EQ(cache->count(), 2u);  // another centre's warning is not this cache's

    center.post(LRUCacheMemoryWarningNotification());
    EXPECT_EQ(cache->count(), 0u);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(cache->objectForKey<std::string>("venues"), nullptr);
    // Models still held elsewhere made their readable ids once; the index must keep them.
    EXPECT_EQ(CVLocationSourceIndex::current()->parentIdForReadableId("ax_b_north"), "b-1");

    cache->setObject(std::make_shared<std::string>("again"), "venues");
    EXPECT_EQ(*cache->objectForKey<std::string>("venues"), "again");

    // A cache that is gone no longer observes: the warning touches nothing freed.
    cache.reset();
    center.post(LRUCacheMemoryWarningNotification());
    CVLocationSourceIndex::clear();
}

TEST(CVModelCache, TheProcessCacheObservesTheHostsMemoryWarning) {
    CVModelCache::resetMemoryCacheForTesting();
    const auto cache = CVModelCache::memoryCache();
    cache->setObject(std::make_shared<std::string>("solution"), "solutions");
    NotificationCenter::defaultCenter().post(LRUCacheMemoryWarningNotification());
    EXPECT_EQ(cache->count(), 0u);
    CVModelCache::resetMemoryCacheForTesting();
}

TEST(CVModelCache, WarningsWhileOtherThreadsFillTheCacheLoseNothingButWhatTheyEmpty) {
    NotificationCenter center;
    CVModelCache cache(center);
    constexpr int kWrites = 2000;
    std::jthread writer([&] {
        for (int i = 0; i < kWrites; ++i) cache.setObject(std::make_shared<int>(i), "key-" + std::to_string(i));
    });
    for (int i = 0; i < 200; ++i) center.post(LRUCacheMemoryWarningNotification());
    writer.join();
    // Every entry the cache still holds is one that was written, whole.
    for (int i = 0; i < kWrites; ++i) {
        if (const auto value = cache.objectForKey<int>("key-" + std::to_string(i))) {
            EXPECT_EQ(*value, i);
        }
    }
    center.post(LRUCacheMemoryWarningNotification());
    EXPECT_EQ(cache.count(), 0u);
}

using UserDefaultCache = test::ContainerFixture;

TEST_F(UserDefaultCache, PrefixesKeysOnceAndRefusesHugeTexts) {
    EXPECT_EQ(CVUserDefaultCache::userDefaultsKeyForCacheKey("venues"), "ax-venues");
    EXPECT_EQ(CVUserDefaultCache::userDefaultsKeyForCacheKey("ax-venues"), "ax-venues");
    CVUserDefaultCache::setString("one", "ax-venues");
    EXPECT_EQ(UserDefaults::standard().stringForKey("ax-venues"), "one");
    EXPECT_EQ(CVUserDefaultCache::getStringFromCache("venues"), "one");

    CVUserDefaultCache::setString(std::string(CVUserDefaultCache::kMaximumLength, 'x'), "big");
    EXPECT_FALSE(CVUserDefaultCache::getStringFromCache("big"));
    UserDefaults::standard().setInteger("ax-number", 4);
    EXPECT_FALSE(CVUserDefaultCache::getStringFromCache("number"));
}

TEST_F(UserDefaultCache, ClearingKeepsKeyValidityLanguageAndForeignKeys) {
    auto& defaults = UserDefaults::standard();
    const char* kept[] = {"ax-apikeyvalid-key1", "ax-apikeyvalid-key2", "ax-language", "AX_VERSION", "other"};
    const char* removed[] = {"ax-default-language", "ax-available-languages", "ax-solution-id",
                             "ax-tileDataTimestamp-sol1"};
    for (const char* key : kept) defaults.setString(key, "v");
    for (const char* key : removed) defaults.setString(key, "v");
    test::ScopedLogCapture log;
    CVUserDefaultCache::clearCache();
    for (const char* key : kept) EXPECT_TRUE(defaults.hasKey(key)) << key;
    for (const char* key : removed) EXPECT_FALSE(defaults.hasKey(key)) << key;
    EXPECT_TRUE(log.sink().contains(
        "+[CVUserDefaultCache clearCache] [I] Ambrell: Clearing persistent cache data\nax-available-languages\n"
        "ax-default-language\nax-solution-id\nax-tileDataTimestamp-sol1"));
}

}  // namespace
}  // namespace ambrell

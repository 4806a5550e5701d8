// Binding the core state to a key against the sample solution on loopback:
// what the bind leaves behind (user defaults, data sets, tile cache), the
// session refresh's continuation, the version check across two processes, the
// offline check and the lifecycle's usage events.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "data/CVCoreStateLifecycle.h"
#include "data/CVSolutionInternal.h"
#include "data/DataSetManager/CVTileCache.h"
#include "foundation/CVLogger.h"
#include "foundation/SdkVersion.h"
#include "platform/UserDefaults.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/ChildTest.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using platform::NotificationCenter;
using platform::UserDefaults;

constexpr const char* kChildContainer = "AMBRELL_TEST_BINDING_CHILD_CONTAINER";
constexpr const char* kChildTest = "CoreStateBindingChild.BindsInTheNextProcess";

std::int64_t scopeOf(std::string_view dataSetId) {
    return AmbrellLegacy::dataSetCacheManager()->internalDataSetWithId(dataSetId)->item()->cachingScope();
}
std::int64_t strategyOf(std::string_view dataSetId) {
    return AmbrellLegacy::dataSetCacheManager()->internalDataSetWithId(dataSetId)->item()->cachingStrategy();
}

// Binds and waits for the completion, which must come exactly once.
bool bind(const std::string& key) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    if (!AmbrellLegacy::provideAPIKey(key, [calls] { ++*calls; })) return false;
    EXPECT_TRUE(test::waitFor([&] { return calls->load() > 0; }, std::chrono::seconds(30)));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(calls->load(), 1);
    return true;
}

class CoreStateBinding : public test::CapturedLog, public test::SampleServiceFixture {
protected:
    CoreStateBinding() {
        CVTileCache::resetDefaultTileCacheForTesting();
        CVLogger::resetSharedForTesting();
        AmbrellLegacy::setApiKey(std::nullopt);
    }
    ~CoreStateBinding() override {
        platform::MainQueue::shared().drain();
        CVTileCache::resetDefaultTileCacheForTesting();
        CVLogger::resetSharedForTesting();
    }

    // Resources without any content of the host app.
    void withoutBundle() {
        platform::Paths::setResourcesFolder(emptyResources_.path());
        CVOfflineBundleHelper::resetForTesting();
    }
    [[nodiscard]] std::string gateway(std::string_view key) const { return "/" + std::string(key) + "/api"; }

    // How many log lines say so, at debug level.
    [[nodiscard]] std::size_t debugLines(std::string_view text) const {
        std::size_t lines = 0;
        for (const auto& entry : logs_.sink().messages()) {
            lines += entry.level == platform::LogLevel::debug && entry.message.find(text) != std::string::npos;
        }
        return lines;
    }

    test::TempDirectory emptyResources_;
};

TEST_F(CoreStateBinding, BindsTheKeyTheAppCarriesContentForAndReloadsItsSolution) {
    auto called = std::make_shared<std::atomic<int>>(0);
    EXPECT_FALSE(AmbrellLegacy::provideAPIKey(std::nullopt, [called] { ++*called; }));
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().hasKey("ax-solution-id"));

    // A tile date stored by an earlier bind goes at every bind.
    AmbrellLegacy::setApiKey(id());
    UserDefaults::standard().setDouble(CVOfflineBundleHelper::userDefaultsKeyForTileDataTimestamp(), 1.0);
    ASSERT_TRUE(bind(id()));
    EXPECT_EQ(called->load(), 0);
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), id());
    ASSERT_TRUE(AmbrellLegacy::solution());
    EXPECT_EQ(AmbrellLegacy::solution()->solutionId, id());
    EXPECT_EQ(UserDefaults::standard().stringForKey("ax-solution-id"), id());
    EXPECT_EQ(CVOfflineBundleHelper::tileDataTimestamp(), CVOfflineBundleHelper::offlineDataTimestamp());
    EXPECT_EQ(CVLogger::sharedInstance()->apiKey(), id());
    EXPECT_TRUE(AmbrellLegacy::isOfflineDataAvailable());
    EXPECT_TRUE(logs_.sink().contains("AmbrellLegacy.isOfflineDataAvailable = YES"));
    EXPECT_FALSE(logs_.sink().contains("NOT using bundled data"));
    EXPECT_EQ(service_.web().requestsTo(gateway(id())).size(), 1u);

    // The carried data set: SDK-managed, full scope, since the app carries tiles.
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    EXPECT_EQ(manager->managedDataSets().size(), 1u);
    EXPECT_EQ(strategyOf(id()), rawValue(CVDataSetCachingStrategy::sdkManaged));
    EXPECT_EQ(scopeOf(id()), rawValue(CVDataSetCachingScope::full));
    EXPECT_EQ(manager->internalDataSetWithId(id())->realDatasetId(), id());
    const auto tiles = CVTileCache::defaultTileCache();
    EXPECT_EQ(tiles->basePath(), manager->pathForCachingDataSetId(id()));
    EXPECT_EQ(tiles->strategy(), CVTileCacheStrategy::tilePackage);

    // Again: nothing added twice, the solution reloaded.
    ASSERT_TRUE(bind(id()));
    EXPECT_EQ(manager->managedDataSets().size(), 1u);
    EXPECT_EQ(tiles->strategy(), CVTileCacheStrategy::tilePackage);
    EXPECT_EQ(service_.web().requestsTo(gateway(id())).size(), 2u);

    AmbrellLegacy::unProvideAPIKey();
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), std::nullopt);
    EXPECT_EQ(AmbrellLegacy::solution(), nullptr);
    EXPECT_EQ(AmbrellLegacy::memoryCache()->count(), 0u);
}

TEST_F(CoreStateBinding, AKeyOtherThanTheCarriedOneGetsABasicDataSetAndOnlineTiles) {
    CVTileCache::defaultTileCache()->setStrategy(CVTileCacheStrategy::tilePackage);
    ASSERT_TRUE(bind("other-key"));
    EXPECT_EQ(debugLines("+[AmbrellLegacy provideSolutionId:completion:] [W] NOT using bundled data! App has "
                         "bundled data, but for a different datasetId."),
              1u);
    EXPECT_EQ(AmbrellLegacy::solution(), nullptr);  // the service knows no such solution
    EXPECT_FALSE(AmbrellLegacy::isOfflineDataAvailable());
    // The carried id's data set is added by the manager's first use, and only then.
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    EXPECT_EQ(manager->managedDataSets().size(), 2u);
    EXPECT_EQ(scopeOf(id()), rawValue(CVDataSetCachingScope::full));
    EXPECT_EQ(strategyOf("other-key"), rawValue(CVDataSetCachingStrategy::sdkManaged));
    EXPECT_EQ(scopeOf("other-key"), rawValue(CVDataSetCachingScope::basic));
    const auto tiles = CVTileCache::defaultTileCache();
    EXPECT_EQ(tiles->basePath(), manager->pathForCachingDataSetId("other-key"));
    EXPECT_EQ(tiles->strategy(), CVTileCacheStrategy::online);

    ASSERT_TRUE(bind("third-key"));
    EXPECT_EQ(manager->managedDataSets().size(), 3u);
    EXPECT_EQ(debugLines("NOT using bundled data"), 2u);  // at every such bind
}

TEST_F(CoreStateBinding, AnExistingDataSetKeepsItsStrategyAndScopeAndTheTilesFollowItsScope) {
    withoutBundle();
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    const auto existing = manager->addDataSet("host-key", rawValue(CVDataSetCachingScope::detailed));
    ASSERT_TRUE(existing);
    const auto tiles = CVTileCache::defaultTileCache();
    tiles->setStrategy(CVTileCacheStrategy::tilePackage);
    ASSERT_TRUE(bind("host-key"));
    EXPECT_EQ(manager->managedDataSets().size(), 1u);
    EXPECT_EQ(strategyOf("host-key"), rawValue(CVDataSetCachingStrategy::hostManaged));
    EXPECT_EQ(scopeOf("host-key"), rawValue(CVDataSetCachingScope::detailed));
    EXPECT_EQ(tiles->strategy(), CVTileCacheStrategy::online);

    // A package in use stays while the data set synchronises it; without
    // carried tiles a bind never switches to it.
    manager->setCachingScope(rawValue(CVDataSetCachingScope::full), existing->cacheItem());
    tiles->setStrategy(CVTileCacheStrategy::tilePackage);
    ASSERT_TRUE(bind("host-key"));
    EXPECT_EQ(tiles->strategy(), CVTileCacheStrategy::tilePackage);
    tiles->setStrategy(CVTileCacheStrategy::online);
    ASSERT_TRUE(bind("host-key"));
    EXPECT_EQ(tiles->strategy(), CVTileCacheStrategy::online);
}

TEST_F(CoreStateBinding, AnUnauthorisedSessionCompletesWithoutASolutionUntilATokenArrives) {
    service_.web().respond(gateway(id()), {200, R"({"sessionToken":"gw","authRequired":true})", {}});
    ASSERT_TRUE(bind(id()));
    EXPECT_EQ(AmbrellLegacy::solution(), nullptr);
    EXPECT_EQ(requestsTo("solutions"), 0u);

    // Known details reach a new callback at once.
    std::vector<bool> required;
    AmbrellLegacy::fetchAuthenticationDetails([&required](auto details, auto error) {
        EXPECT_FALSE(error);
        required.push_back(details && details->isAuthRequired());
    });
    EXPECT_EQ(required, std::vector<bool>{true});

    AmbrellLegacy::setAccessToken("jwt");
    EXPECT_EQ(AmbrellLegacy::accessToken(), "jwt");
    ASSERT_TRUE(test::waitFor([] { return AmbrellLegacy::solution() != nullptr; }));

    // Already authorised: a new token fetches nothing. The reload after it is
    // the one request more.
    platform::MainQueue::shared().drain();
    const auto fetched = requestsTo("solutions");
    AmbrellLegacy::setAccessToken("jwt-2");
    std::atomic<bool> reloaded{false};
    AmbrellLegacy::reloadContent(id(), [&reloaded] { reloaded = true; });
    ASSERT_TRUE(test::waitFor([&] { return reloaded.load(); }));
    EXPECT_EQ(requestsTo("solutions"), fetched + 1);

    // The next bind drops the callback.
    ASSERT_TRUE(bind(id()));
    EXPECT_EQ(required, std::vector<bool>{true});
}

TEST_F(CoreStateBinding, ARejectedKeyIsAnnouncedAndTheBindStillCompletes) {
    std::atomic<int> invalid{0};
    auto token = NotificationCenter::defaultCenter().addObserver(
        kNotificationAmbrellApiKeyInvalid(), [&invalid](const platform::Notification& notification) {
            EXPECT_FALSE(notification.object.has_value());
            ++invalid;
        });
    service_.web().respond(gateway(id()), {403, "", {}});
    ASSERT_TRUE(bind(id()));
    EXPECT_EQ(invalid.load(), 1);
    EXPECT_FALSE(CVAXAPI::sharedInstance()->apiKeyValid());

    // A stored callback hears of a refresh that brought no details.
    std::vector<bool> calls;
    AmbrellLegacy::fetchAuthenticationDetails([&calls](auto details, auto error) {
        EXPECT_FALSE(error);
        calls.push_back(details != nullptr);
    });
    EXPECT_TRUE(calls.empty());
    AmbrellLegacy::onSessionRefreshed();
    EXPECT_EQ(calls, std::vector<bool>{false});
    EXPECT_EQ(invalid.load(), 2);
}

// In the child only: the second process of the version check.
TEST(CoreStateBindingChild, BindsInTheNextProcess) {
    const char* container = std::getenv(kChildContainer);
    if (!container) GTEST_SKIP() << "run by CoreStateBinding.ClearsTheAxValuesWhileTheVersionIsNew as its child";
    platform::Paths::setContainerRoot(container);
    UserDefaults::resetStandardForTesting();
    platform::MainQueueThread mainThread;
    EXPECT_TRUE(bind("next-process-key"));
    EXPECT_FALSE(AmbrellLegacy::versionWasChanged());
    EXPECT_EQ(UserDefaults::standard().stringForKey("ax-probe"), "third");
    UserDefaults::standard().setString("child-ran", "yes");
}

TEST_F(CoreStateBinding, ClearsTheAxValuesWhileTheVersionIsNewAndTheNextProcessClearsNothing) {
    auto& defaults = UserDefaults::standard();
    defaults.setString("AX_VERSION", "0.0.1-older");
    defaults.setBool("ax-apikeyvalid-some-key", false);
    defaults.setString("ax-language", "en");
    defaults.setString("ax-probe", "first");
    defaults.setString("other", "kept");
    ASSERT_TRUE(bind(id()));
    EXPECT_TRUE(AmbrellLegacy::versionWasChanged());
    EXPECT_EQ(defaults.stringForKey("AX_VERSION"), sdkVersion());
    EXPECT_FALSE(defaults.hasKey("ax-probe"));
    EXPECT_EQ(defaults.boolForKey("ax-apikeyvalid-some-key"), false);
    EXPECT_EQ(defaults.stringForKey("ax-language"), "en");
    EXPECT_EQ(defaults.stringForKey("other"), "kept");
    EXPECT_EQ(defaults.stringForKey("ax-solution-id"), id());  // written after the clearing

    defaults.setString("ax-probe", "second");
    ASSERT_TRUE(bind(id()));
    EXPECT_FALSE(defaults.hasKey("ax-probe"));  // at every bind of this process

    defaults.setString("ax-probe", "third");
    const pid_t child = test::spawnThisProgramForTest(kChildTest, kChildContainer, containerRoot().string());
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    defaults.reload();
    EXPECT_EQ(defaults.stringForKey("child-ran"), "yes");
    EXPECT_EQ(defaults.stringForKey("ax-probe"), "third");
    EXPECT_EQ(defaults.stringForKey("ax-solution-id"), "next-process-key");
}

TEST_F(CoreStateBinding, OfflineCheck) {
    EXPECT_FALSE(AmbrellLegacy::checkOfflineDataAvailability());  // unbound
    EXPECT_EQ(debugLines("AmbrellLegacy.isOfflineDataAvailable = NO"), 1u);

    // The carried key: true without asking a provider.
    AmbrellLegacy::setApiKey(id());
    EXPECT_TRUE(AmbrellLegacy::checkOfflineDataAvailability());
    EXPECT_TRUE(logs_.sink().contains("AmbrellLegacy.isOfflineDataAvailable = YES"));
    EXPECT_FALSE(logs_.sink().contains("CVSolutionProvider.isOfflineDataAvailable"));
    int calls = 0;
    AmbrellLegacy::checkOfflineDataAvailabilityAsync([&calls] { ++calls; });
    EXPECT_EQ(calls, 1);  // at once, on this thread
    AmbrellLegacy::checkOfflineDataAvailabilityAsync(nullptr);
    EXPECT_EQ(requestsTo("solutions"), 0u);

    // Nothing carried, nothing loaded: every provider is asked.
    withoutBundle();
    EXPECT_FALSE(AmbrellLegacy::checkOfflineDataAvailability());
    EXPECT_TRUE(logs_.sink().contains("CVSolutionProvider.isOfflineDataAvailable"));
    EXPECT_TRUE(logs_.sink().contains("CVAppDataProvider.isOfflineDataAvailable"));
    EXPECT_TRUE(logs_.sink().contains("CVUserRoleProvider.isOfflineDataAvailable"));
    std::atomic<int> later{0};
    AmbrellLegacy::checkOfflineDataAvailabilityAsync([&later] { ++later; });
    EXPECT_TRUE(test::waitFor([&] { return later.load() == 1; }));
    EXPECT_EQ(requestsTo("solutions"), 1u);
}

TEST_F(CoreStateBinding, LifecycleAndSettingsBecomeUsageEvents) {
    AmbrellLegacy::initialize();
    AmbrellLegacy::initialize();  // once per process
    auto& center = NotificationCenter::defaultCenter();
    center.post(UIApplicationWillEnterForegroundNotification());
    center.post(UIApplicationDidEnterBackgroundNotification());
    AmbrellLegacy::setLanguage("da");
    AmbrellLegacy::setLanguage("da");  // no change, no event
    EXPECT_FALSE(AmbrellLegacy::eventLoggingDisabled());
    AmbrellLegacy::setEventLoggingDisabled(true);
    EXPECT_TRUE(AmbrellLegacy::eventLoggingDisabled());
    AmbrellLegacy::setLanguage("en");
    AmbrellLegacy::setEventLoggingDisabled(false);
    const std::vector<std::string> expected = {"app_life_time/sdk_loaded", "app_life_time/entered_foreground",
                                               "app_life_time/entered_background",
                                               "configuration/language_changed language=da"};
    EXPECT_TRUE(test::waitFor([&] { return usageEvents().size() >= expected.size(); }));
    EXPECT_EQ(usageEvents(), expected);
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "en");
}

}  // namespace
}  // namespace ambrell

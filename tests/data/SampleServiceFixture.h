#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <gtest/gtest.h>

#include "Ambrell/CVUserRole.h"
#include "data/AmbrellLegacy.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/CVRouteNetworkSeams.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVLogger.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/Paths.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

// Answers neither a network nor an error: a load still succeeds, and the map
// needs none.
class NoRouteNetworks : public CVRouteNetworkServicing {
public:
    bool isCachedDataAvailableForSolutionId(std::string_view /*solutionId*/) const override { return false; }
    void getRouteNetworkForSolutionAsync(std::string /*solutionId*/, std::string /*venueId*/,
                                         Completion completion) override {
        completion(nullptr, std::nullopt);
    }
    std::size_t networkCount(const CVRouteNetworkData& /*data*/) const override { return 0; }
    std::shared_ptr<CVRouteNetworkData> mergeRouteNetworks(
        const std::vector<std::shared_ptr<CVRouteNetworkData>>& /*graphs*/) const override {
        return nullptr;
    }
};

// For a fixture that reads the log: listed as a base before
// SampleServiceFixture, it records from before the set-up to after the
// tear-down.
class CapturedLog {
protected:
    ScopedLogCapture logs_;
};

// The sample solution served on loopback as the web service, with the key
// bound and a session token, the sample's bundle as the host app's resources,
// a data set in a temporary container, and the network up.
class SampleServiceFixture : public ContainerFixture {
protected:
    SampleServiceFixture() {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        AmbrellLegacy::resetForTesting();
        CVModelCache::resetMemoryCacheForTesting();
        CVDataSetCacheManagerInternal::resetSharedInstanceForTesting();
        CVOfflineBundleHelper::resetForTesting();
        platform::Paths::setResourcesFolder(service_.sample() / "bundle");
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
        AmbrellLegacy::setApiKey(service_.solutionId());
        setOnline(true);
    }
    ~SampleServiceFixture() override {
        platform::MainQueue::shared().drain();
        CVNetworkReachabilityManager::resetSharedManagerForTesting();
        CVDataSetCacheManagerInternal::resetSharedInstanceForTesting();
        CVModelCache::resetMemoryCacheForTesting();
        CVOfflineBundleHelper::resetForTesting();
        AmbrellLegacy::resetForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    static void setOnline(bool online) {
        CVNetworkReachabilityManager::setForcedStatusForTesting(online ? CVNetworkReachabilityStatusReachableViaWiFi
                                                                       : CVNetworkReachabilityStatusNotReachable);
    }
    [[nodiscard]] const std::string& id() const { return service_.solutionId(); }
    // A sync endpoint's URL; the environment points at the loopback service.
    static std::string url(const std::string& endpoint, std::string_view solutionId, std::string_view language = "en") {
        return CVAXAPI::sharedInstance()->urlStringForSyncEndpoint(endpoint, solutionId, language);
    }
    // The route of a sync URL on the loopback service.
    [[nodiscard]] std::string route(const std::string& endpoint, std::string_view solutionId,
                                    std::string_view language = "en") const {
        return url(endpoint, solutionId, language).substr(service_.baseUrl().size() - 1);
    }
    static std::filesystem::path dataSetFile(const std::string& endpoint, std::string_view solutionId) {
        return *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url(endpoint, solutionId), solutionId);
    }
    // Serves the locations document the given roles see: the sample's, less
    // the first `count` locations of the venue with this administrative id.
    // Answers the ids left out.
    std::vector<std::string> serveLocationsHiding(std::size_t count, const std::string& venue,
                                                  const std::vector<CVUserRole>& roles) {
        auto document = boost::json::parse(service_.syncDocument("locations", "en"));
        auto& features = document.as_array();
        std::vector<std::string> hidden;
        for (auto feature = features.begin(); feature != features.end() && hidden.size() < count;) {
            if (feature->at("properties").at("venue") == boost::json::string_view(venue)) {
                hidden.emplace_back(feature->at("id").as_string());
                feature = features.erase(feature);
            } else {
                ++feature;
            }
        }
        const auto url = CVAXAPI::sharedInstance()->locationSyncUrlForSolutionId(id(), "en", roles);
        service_.web().serveBody(url.substr(service_.baseUrl().size() - 1), boost::json::serialize(document));
        return hidden;
    }
    // The usage events recorded so far, as "domain/event key=value".
    static std::vector<std::string> usageEvents() {
        const auto entries = platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                                    CVLogger::sharedInstance()->loggerActor()->logEntries());
        std::vector<std::string> names;
        for (const auto& entry : entries) {
            std::string name = std::string(description(entry.domain)) + "/" + std::string(description(entry.name));
            if (entry.parameters) {
                for (const auto& [key, value] : *entry.parameters) name += " " + key + "=" + value;
            }
            names.push_back(std::move(name));
        }
        return names;
    }
    // Synchronises the bound key's data set once, whole; it is then cached.
    void synchronizeDataSet() {
        const auto manager = AmbrellLegacy::dataSetCacheManager();
        const auto dataSet = manager->dataSetWithId(id());
        ASSERT_TRUE(dataSet);
        auto completions = std::make_shared<std::atomic<int>>(0);
        manager->synchronizeCacheItems({dataSet->cacheItem()}, [completions](auto) { ++*completions; });
        ASSERT_TRUE(waitFor([&] { return completions->load() == 1; }, std::chrono::seconds(60)));
        platform::MainQueue::shared().drain();
        EXPECT_TRUE(dataSet->isCached());
    }
    // How many times the service was asked for the endpoint's document.
    std::size_t requestsTo(const std::string& endpoint) {
        return service_.web().requestsTo("/sync/" + endpoint).size();
    }

    SampleSolutionService service_;
    platform::MainQueueThread mainThread_;
};

}  // namespace ambrell::test

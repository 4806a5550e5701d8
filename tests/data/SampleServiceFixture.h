#pragma once

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "data/AmbrellLegacy.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/Paths.h"
#include "platform/runtime/MainQueue.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::test {

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
    // How many times the service was asked for the endpoint's document.
    std::size_t requestsTo(const std::string& endpoint) {
        return service_.web().requestsTo("/sync/" + endpoint).size();
    }

    SampleSolutionService service_;
    platform::MainQueueThread mainThread_;
};

}  // namespace ambrell::test

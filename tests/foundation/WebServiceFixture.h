#pragma once

#include <cstdlib>

#include "foundation/CVAXAPI.h"
#include "foundation/CVContentContext.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/LoopbackWebService.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::test {

// A container of its own, the web service on loopback as the base URL of the
// shared settings, the main queue running, and the API key "solution-key".
class WebServiceFixture : public ContainerFixture {
protected:
    WebServiceFixture() {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        CVContentContext::setApiKeyReader([] { return std::optional<std::string>("solution-key"); });
    }

    ~WebServiceFixture() override {
        platform::MainQueue::shared().drain();
        CVNetworkReachabilityManager::resetSharedManagerForTesting();
        CVContentContext::resetForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    static std::shared_ptr<CVAXAPI> settings() { return CVAXAPI::sharedInstance(); }

    template <typename T>
    static T run(platform::Awaitable<T> work) {
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), std::move(work));
    }

    LoopbackWebService service_;
    ScopedLogCapture logs_;
    platform::MainQueueThread mainThread_;
};

}  // namespace ambrell::test

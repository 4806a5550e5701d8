#include "foundation/CVReachabilityTarget.h"

#include <mutex>

#include "Ambrell/CVLog.h"
#include "platform/NetworkMonitor.h"

namespace ambrell {

namespace {

CVNetworkReachabilityFlags flagsOf(const platform::Connectivity& connectivity) {
    CVNetworkReachabilityFlags flags = 0;
    if (connectivity.reachable) flags |= CVReachabilityFlag::kReachable;
    if (connectivity.cellular) flags |= CVReachabilityFlag::kIsWWAN;
    return flags;
}

class ConnectivityTarget final : public CVReachabilityTarget {
public:
    std::optional<CVNetworkReachabilityFlags> currentFlags() override {
        const auto connectivity = platform::NetworkMonitor::evaluate();
        if (!connectivity) return std::nullopt;
        return flagsOf(*connectivity);
    }

    void start(FlagsCallback callback) override {
        // The monitor is started outside the lock: its thread reports at once
        // and reads the callback under the same lock.
        {
            std::lock_guard lock(state_->mutex);
            state_->callback = std::move(callback);
        }
        const auto error = monitor_.start([state = state_](platform::Connectivity connectivity) {
            FlagsCallback callback;
            {
                std::lock_guard lock(state->mutex);
                callback = state->callback;
            }
            if (callback) callback(flagsOf(connectivity));
        });
        if (error) CVLog::core().error("Network reachability is not watched: {}", error.message());
    }

    void stop() override { monitor_.stop(); }

private:
    struct State {
        std::mutex mutex;
        FlagsCallback callback;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    platform::NetworkMonitor monitor_;
};

}  // namespace

std::shared_ptr<CVReachabilityTarget> makeConnectivityReachabilityTarget() {
    return std::make_shared<ConnectivityTarget>();
}

}  // namespace ambrell

#include "mapcontrol/AXSDKContentSizeChange.h"

namespace ambrell {

AXSDKContentSizeChange::~AXSDKContentSizeChange() { cvsdk_stopMonitoringContentSizeChanges(); }

void AXSDKContentSizeChange::cvsdk_onContentSizeChange(Handler handler) {
    cvsdk_stopMonitoringContentSizeChanges();
    if (!handler) return;
    // The observation ends (and waits for a call in flight) before this
    // object goes, so the block may use it.
    auto observation =
        CVDynamicContentSizeHelper::sharedInstance().observeDynamicTextSize([this](CVDynamicTextSize size) {
            if (const auto current = cvsdk_currentContentSizeChangeBlock()) current(size);
        });
    const std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    observation_ = std::move(observation);
}

void AXSDKContentSizeChange::cvsdk_stopMonitoringContentSizeChanges() {
    platform::NotificationCenter::ObserverToken observation;
    {
        const std::lock_guard lock(mutex_);
        if (!handler_ && !observation_.isActive()) return;
        handler_ = nullptr;
        observation = std::move(observation_);
    }
    // Removed outside the lock: a handler in flight may be reading it.
    observation.reset();
}

CVDynamicTextSize AXSDKContentSizeChange::cvsdk_currentContentSize() const {
    return CVDynamicContentSizeHelper::sharedInstance().dynamicTextSize();
}

AXSDKContentSizeChange::Handler AXSDKContentSizeChange::cvsdk_currentContentSizeChangeBlock() const {
    const std::lock_guard lock(mutex_);
    return handler_;
}

void AXSDKContentSizeChange::setCvsdk_currentContentSizeChangeBlock(Handler handler) {
    const std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

}  // namespace ambrell

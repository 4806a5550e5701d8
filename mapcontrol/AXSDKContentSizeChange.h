#pragma once

#include <functional>
#include <mutex>

#include "mapcontrol/CVDynamicContentSizeHelper.h"
#include "platform/NotificationCenter.h"

namespace ambrell {

// What any object inherits to hear of changes of the shared text size: one
// handler per object, run (on the thread that set the size, outside every
// lock of this object) with the shared helper's current size each time the
// helper publishes one. The object stops observing when it goes.
class AXSDKContentSizeChange {
public:
    using Handler = std::function<void(CVDynamicTextSize)>;

    AXSDKContentSizeChange() = default;
    AXSDKContentSizeChange(const AXSDKContentSizeChange&) = delete;
    AXSDKContentSizeChange& operator=(const AXSDKContentSizeChange&) = delete;
    virtual ~AXSDKContentSizeChange();

    // Replaces the handler; the object then observes once, whatever it did
    // before. An empty handler leaves the object not observing.
    void cvsdk_onContentSizeChange(Handler handler);
    // Drops the handler and stops observing; nothing when there is none.
    // Once it returns the old handler is never called again.
    void cvsdk_stopMonitoringContentSizeChanges();
    [[nodiscard]] CVDynamicTextSize cvsdk_currentContentSize() const;

    // The stored handler; setting it does not start or stop observing.
    [[nodiscard]] Handler cvsdk_currentContentSizeChangeBlock() const;
    void setCvsdk_currentContentSizeChangeBlock(Handler handler);

private:
    mutable std::mutex mutex_;
    Handler handler_;
    platform::NotificationCenter::ObserverToken observation_;
};

}  // namespace ambrell

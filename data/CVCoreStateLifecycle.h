#pragma once

#include "platform/NotificationCenter.h"

namespace ambrell {

// The application's lifecycle notifications, as the host posts them on the
// default centre; the core state records them as usage events.
[[nodiscard]] const platform::NotificationName& UIApplicationWillEnterForegroundNotification();
[[nodiscard]] const platform::NotificationName& UIApplicationDidEnterBackgroundNotification();

// What the core state does once per process: its start-up and the SDK
// version check (both on AmbrellLegacy, which holds the operations).
class CVCoreStateLifecycle {
public:
    CVCoreStateLifecycle() = delete;

    // Test-only: stops following the lifecycle notifications; the next use
    // of the core state starts it again and compares the version again.
    static void resetForTesting();
};

}  // namespace ambrell

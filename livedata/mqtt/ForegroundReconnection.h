#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/NotificationCenter.h"

namespace ambrell {

class MQTTSessionManager;

// Background tasks of the host's platform: time it grants to finish work
// after the application left the foreground. A platform without them has
// none to give.
class MQTTBackgroundTasks {
public:
    using Identifier = std::uint64_t;
    static constexpr Identifier kInvalid = 0;

    virtual ~MQTTBackgroundTasks() = default;
    // A running task's identifier, or kInvalid when none could start. The
    // platform calls expirationHandler when the granted time runs out.
    virtual Identifier beginBackgroundTask(std::function<void()> expirationHandler) = 0;
    virtual void endBackgroundTask(Identifier identifier) = 0;
};

// Makes a session manager follow the application: it disconnects when the
// application is about to leave the foreground, asks for background time
// while the connection is still being torn down, and connects again on
// return. It listens to three notifications the host posts, on the
// manager's queue (the main queue by default, where a host's lifecycle
// notifications come from); it stops listening when it goes away.
//
// Holds the manager weakly (the manager holds it). Must be owned by a
// std::shared_ptr: the observers and the background task's expiration hold
// it weakly.
class ForegroundReconnection : public std::enable_shared_from_this<ForegroundReconnection> {
public:
    // The notifications' names, as the host posts them.
    [[nodiscard]] static const platform::NotificationName& willResignActiveNotification();
    [[nodiscard]] static const platform::NotificationName& didEnterBackgroundNotification();
    [[nodiscard]] static const platform::NotificationName& didBecomeActiveNotification();

    // Observes `center`; without background tasks none is begun.
    static std::shared_ptr<ForegroundReconnection> initWithMQTTSessionManager(
        std::weak_ptr<MQTTSessionManager> sessionManager,
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        std::shared_ptr<MQTTBackgroundTasks> backgroundTasks = nullptr);

    ForegroundReconnection(std::weak_ptr<MQTTSessionManager> sessionManager,
                           std::shared_ptr<MQTTBackgroundTasks> backgroundTasks);
    ForegroundReconnection(const ForegroundReconnection&) = delete;
    ForegroundReconnection& operator=(const ForegroundReconnection&) = delete;

    // Disconnects the manager.
    void appWillResignActive();
    // Begins a background task while the manager still has a connection to
    // tear down.
    void appDidEnterBackground();
    // Connects the manager with its last parameters.
    void appDidBecomeActive();
    // Ends the background task held, if any; nothing else ends it.
    void endBackgroundTask();

    [[nodiscard]] MQTTBackgroundTasks::Identifier backgroundTask() const { return backgroundTask_; }

private:
    std::weak_ptr<MQTTSessionManager> sessionManager_;
    std::shared_ptr<MQTTBackgroundTasks> backgroundTasks_;
    MQTTBackgroundTasks::Identifier backgroundTask_ = MQTTBackgroundTasks::kInvalid;
    platform::NotificationCenter::ObserverToken willResignActive_;
    platform::NotificationCenter::ObserverToken didEnterBackground_;
    platform::NotificationCenter::ObserverToken didBecomeActive_;
};

}  // namespace ambrell

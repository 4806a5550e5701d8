#include "livedata/mqtt/ForegroundReconnection.h"

#include "livedata/mqtt/MQTTSessionManager.h"

namespace ambrell {

const platform::NotificationName& ForegroundReconnection::willResignActiveNotification() {
    static const platform::NotificationName name{"UIApplicationWillResignActiveNotification"};
    return name;
}

const platform::NotificationName& ForegroundReconnection::didEnterBackgroundNotification() {
    static const platform::NotificationName name{"UIApplicationDidEnterBackgroundNotification"};
    return name;
}

const platform::NotificationName& ForegroundReconnection::didBecomeActiveNotification() {
    static const platform::NotificationName name{"UIApplicationDidBecomeActiveNotification"};
    return name;
}

std::shared_ptr<ForegroundReconnection> ForegroundReconnection::initWithMQTTSessionManager(
    std::weak_ptr<MQTTSessionManager> sessionManager, platform::NotificationCenter& center,
    std::shared_ptr<MQTTBackgroundTasks> backgroundTasks) {
    auto reconnection = std::make_shared<ForegroundReconnection>(std::move(sessionManager), std::move(backgroundTasks));
    const auto observe = [&](const platform::NotificationName& name, void (ForegroundReconnection::*member)()) {
        return center.addObserver(name, [weak = std::weak_ptr(reconnection), member](const platform::Notification&) {
            if (auto self = weak.lock()) ((*self).*member)();
        });
    };
    reconnection->willResignActive_ =
        observe(willResignActiveNotification(), &ForegroundReconnection::appWillResignActive);
    reconnection->didEnterBackground_ =
        observe(didEnterBackgroundNotification(), &ForegroundReconnection::appDidEnterBackground);
    reconnection->didBecomeActive_ =
        observe(didBecomeActiveNotification(), &ForegroundReconnection::appDidBecomeActive);
    return reconnection;
}

ForegroundReconnection::ForegroundReconnection(std::weak_ptr<MQTTSessionManager> sessionManager,
                                               std::shared_ptr<MQTTBackgroundTasks> backgroundTasks)
    : sessionManager_(std::move(sessionManager)), backgroundTasks_(std::move(backgroundTasks)) {}

void ForegroundReconnection::appWillResignActive() {
    if (auto manager = sessionManager_.lock()) manager->disconnectWithDisconnectHandler({});
}

void ForegroundReconnection::appDidEnterBackground() {
    auto manager = sessionManager_.lock();
    if (!manager || !manager->requiresTearDown() || !backgroundTasks_) return;
    backgroundTask_ = backgroundTasks_->beginBackgroundTask([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->endBackgroundTask();
    });
}

void ForegroundReconnection::appDidBecomeActive() {
    if (auto manager = sessionManager_.lock()) manager->connectToLast({});
}

void ForegroundReconnection::endBackgroundTask() {
    if (backgroundTask_ == MQTTBackgroundTasks::kInvalid) return;
    if (backgroundTasks_) backgroundTasks_->endBackgroundTask(backgroundTask_);
    backgroundTask_ = MQTTBackgroundTasks::kInvalid;
}

}  // namespace ambrell

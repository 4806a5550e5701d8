#include <map>
#include <mutex>
#include <utility>

#include "data/DataSetManager/CVTileCache.h"

namespace ambrell {

namespace {

platform::NotificationName invalidationName() {
    return platform::NotificationName{std::string(kCVNotificationTileCacheStrategyChanged)};
}

// Observers are keyed by address, so any object can observe without keeping
// a token of its own.
struct Observers {
    std::mutex mutex;
    std::map<const void*, platform::NotificationCenter::ObserverToken> tokens;
};

Observers& observers() {
    static auto* instance = new Observers;  // never destroyed: used from static destructors
    return *instance;
}

// Taken out under the lock and released outside it: releasing waits for a
// delivery in flight, which may itself be observing or unobserving.
platform::NotificationCenter::ObserverToken takeToken(const void* observer) {
    auto& all = observers();
    std::lock_guard lock(all.mutex);
    auto found = all.tokens.find(observer);
    if (found == all.tokens.end()) return {};
    auto token = std::move(found->second);
    all.tokens.erase(found);
    return token;
}

}  // namespace

void tileCachePostTileCacheInvalidationNotification(std::any sender) {
    platform::NotificationCenter::defaultCenter().post(invalidationName(), std::move(sender));
}

void tileCacheObserveTileCacheInvalidationNotifications(const void* observer,
                                                        std::function<void(const platform::Notification&)> handler) {
    if (observer == nullptr || !handler) return;
    auto previous = takeToken(observer);
    previous.reset();
    auto token = platform::NotificationCenter::defaultCenter().addObserver(invalidationName(), std::move(handler));
    platform::NotificationCenter::ObserverToken replaced;
    {
        auto& all = observers();
        std::lock_guard lock(all.mutex);
        auto& slot = all.tokens[observer];
        replaced = std::exchange(slot, std::move(token));
    }
}

void tileCacheUnobserveTileCacheInvalidationNotifications(const void* observer) { takeToken(observer).reset(); }

}  // namespace ambrell

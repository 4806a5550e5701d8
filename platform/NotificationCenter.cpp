#include "platform/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace ambrell::platform {

// One observer. The block is only called through deliver(), which counts the
// deliveries in flight so that a removal can wait for them to end.
struct NotificationCenter::ObserverToken::Registration {
    Registration(NotificationName name, Block block) : name(std::move(name)), block(std::move(block)) {}

    const NotificationName name;
    const Block block;

    std::mutex mutex;
    std::condition_variable deliveryEnded;
    bool removed = false;
    // One entry per delivery in flight, naming its thread; a thread appears
    // more than once when a block posts the same notification again.
    std::vector<std::thread::id> deliveringThreads;

    void deliver(const Notification& notification) {
        const auto thisThread = std::this_thread::get_id();
        {
            std::lock_guard lock(mutex);
            if (removed) return;  // removed after the post took its snapshot
            deliveringThreads.push_back(thisThread);
        }
        // Ends the delivery whether the block returns or throws.
        struct DeliveryEnd {
            Registration& registration;
            std::thread::id thread;
            ~DeliveryEnd() {
                std::lock_guard lock(registration.mutex);
                auto& threads = registration.deliveringThreads;
                threads.erase(std::find(threads.begin(), threads.end(), thread));
                registration.deliveryEnded.notify_all();
            }
        } end{*this, thisThread};
        block(notification);
    }

    // Waits for the deliveries in flight on other threads. Those on this
    // thread are further up its own stack (a block removing its own
    // observer): waiting for them would never end.
    void remove() {
        const auto thisThread = std::this_thread::get_id();
        std::unique_lock lock(mutex);
        removed = true;
        deliveryEnded.wait(lock, [&] {
            return std::all_of(deliveringThreads.begin(), deliveringThreads.end(),
                               [&](std::thread::id thread) { return thread == thisThread; });
        });
    }

    bool isRemoved() {
        std::lock_guard lock(mutex);
        return removed;
    }
};

struct NotificationCenter::ObserverToken::Registry {
    std::mutex mutex;
    std::map<NotificationName, std::vector<std::shared_ptr<Registration>>> observers;

    void add(const std::shared_ptr<Registration>& registration) {
        std::lock_guard lock(mutex);
        observers[registration->name].push_back(registration);
    }

    void erase(const Registration& registration) {
        std::lock_guard lock(mutex);
        const auto named = observers.find(registration.name);
        if (named == observers.end()) return;
        auto& list = named->second;
        list.erase(
            std::remove_if(list.begin(), list.end(), [&](const auto& entry) { return entry.get() == &registration; }),
            list.end());
        if (list.empty()) observers.erase(named);
    }

    std::vector<std::shared_ptr<Registration>> snapshot(const NotificationName& name) {
        std::lock_guard lock(mutex);
        const auto named = observers.find(name);
        if (named == observers.end()) return {};
        return named->second;
    }
};

NotificationCenter::ObserverToken::ObserverToken(std::weak_ptr<Registry> registry,
                                                 std::shared_ptr<Registration> registration)
    : registry_(std::move(registry)), registration_(std::move(registration)) {}

NotificationCenter::ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : registry_(std::move(other.registry_)), registration_(std::move(other.registration_)) {}

NotificationCenter::ObserverToken& NotificationCenter::ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        reset();
        registry_ = std::move(other.registry_);
        registration_ = std::move(other.registration_);
    }
    return *this;
}

NotificationCenter::ObserverToken::~ObserverToken() { reset(); }

void NotificationCenter::ObserverToken::reset() {
    // Taken out first: a block that resets its own token while it runs
    // re-enters here and finds nothing left to do.
    auto registration = std::exchange(registration_, nullptr);
    auto registry = std::exchange(registry_, {}).lock();
    if (!registration) return;
    if (registry) registry->erase(*registration);
    registration->remove();
}

bool NotificationCenter::ObserverToken::isActive() const {
    return registration_ && !registry_.expired() && !registration_->isRemoved();
}

NotificationCenter::NotificationCenter() : registry_(std::make_shared<ObserverToken::Registry>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: tokens held by other statics may be reset during exit.
    static auto* const center = new NotificationCenter;
    return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(NotificationName name, Block block) {
    auto registration = std::make_shared<ObserverToken::Registration>(std::move(name), std::move(block));
    registry_->add(registration);
    return ObserverToken(registry_, std::move(registration));
}

void NotificationCenter::removeObserver(ObserverToken& token) {
    // A token of another centre is not this centre's to remove.
    if (token.registry_.lock() != registry_) return;
    token.reset();
}

void NotificationCenter::post(const Notification& notification) {
    // Observers added while this runs wait for the next post.
    const auto observers = registry_->snapshot(notification.name);
    for (const auto& registration : observers) registration->deliver(notification);
}

void NotificationCenter::post(NotificationName name, std::any object, std::map<std::string, std::any> userInfo) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

}  // namespace ambrell::platform

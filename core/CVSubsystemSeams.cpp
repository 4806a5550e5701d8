#include "core/CVSubsystemSeams.h"

#include <mutex>
#include <utility>

namespace ambrell {

namespace {

struct Registry {
    std::mutex mutex;
    CVSubsystemSeams::DisplayRuleManagerFactory displayRuleManagerFactory;
    CVSubsystemSeams::MapControlFactory mapControlFactory;
    std::shared_ptr<CVLiveDataManaging> liveDataManager;
    CVSubsystemSeams::DirectionsServiceFactory directionsServiceFactory;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// Copied out under the lock and called outside it: a factory may call back.
template <typename Member>
auto registered(Member Registry::*member) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.*member;
}

template <typename Member, typename Value>
void store(Member Registry::*member, Value value) {
    auto& r = registry();
    Member previous;
    {
        std::lock_guard lock(r.mutex);
        previous = std::exchange(r.*member, std::move(value));
    }
}

}  // namespace

void CVSubsystemSeams::setDisplayRuleManagerFactory(DisplayRuleManagerFactory factory) {
    store(&Registry::displayRuleManagerFactory, std::move(factory));
}

void CVSubsystemSeams::setMapControlFactory(MapControlFactory factory) {
    store(&Registry::mapControlFactory, std::move(factory));
}

void CVSubsystemSeams::setLiveDataManager(std::shared_ptr<CVLiveDataManaging> manager) {
    store(&Registry::liveDataManager, std::move(manager));
}

void CVSubsystemSeams::setDirectionsServiceFactory(DirectionsServiceFactory factory) {
    store(&Registry::directionsServiceFactory, std::move(factory));
}

std::shared_ptr<CVDisplayRuleManaging> CVSubsystemSeams::makeDisplayRuleManager(
    std::shared_ptr<CVSolutionInternal> solution) {
    const auto factory = registered(&Registry::displayRuleManagerFactory);
    return factory ? factory(std::move(solution)) : nullptr;
}

std::shared_ptr<CVMapControlling> CVSubsystemSeams::makeMapControl(std::shared_ptr<const CVMapConfig> mapConfig) {
    const auto factory = registered(&Registry::mapControlFactory);
    return factory ? factory(std::move(mapConfig)) : nullptr;
}

std::shared_ptr<CVLiveDataManaging> CVSubsystemSeams::liveDataManager() {
    return registered(&Registry::liveDataManager);
}

std::shared_ptr<CVDirectionsServicing> CVSubsystemSeams::makeDirectionsService() {
    const auto factory = registered(&Registry::directionsServiceFactory);
    return factory ? factory() : nullptr;
}

void CVSubsystemSeams::resetForTesting() {
    setDisplayRuleManagerFactory({});
    setMapControlFactory({});
    setLiveDataManager(nullptr);
    setDirectionsServiceFactory({});
}

}  // namespace ambrell

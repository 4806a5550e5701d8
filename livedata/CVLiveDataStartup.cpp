// A program that links the SDK (AmbrellCore::AmbrellCore) ends its live-data
// subscriptions on every reset of the entry object, and its maps follow live
// data, without a call of its own: the entry object and the map control reach
// the live-data manager through seams, and this object registers both when
// the program starts. Nothing refers to it, so the
// SDK's package links its library whole (see the top CMakeLists.txt).
//
// It runs among the static initialisers: the registration only reaches a
// registry that is a function-local static made on first use, and the shared
// manager itself is made only when live data is first used.

#include <memory>

#include "core/CVSubsystemSeams.h"
#include "livedata/CVInternalLiveDataDelegate.h"
#include "livedata/CVLiveDataManager.h"
#include "mapcontrol/CVMapLiveDataSeam.h"

namespace ambrell {
namespace {

// A reset before any live data was used has nothing to end.
class CVLiveDataStartupManaging final : public CVLiveDataManaging {
public:
    platform::Awaitable<void> unsubscribeAll() override {
        if (auto manager = CVLiveDataManager::existingSharedInstance()) manager->unsubscribeAll();
        co_return;
    }
};

// A map that turns live data on makes the shared manager.
class CVLiveDataStartupMapSeam final : public CVMapLiveDataSeam {
public:
    std::shared_ptr<CVInternalLiveDataDelegate> makeDelegate(
        const std::shared_ptr<CVMapControlInternal>& mapControl) override {
        return CVInternalLiveDataDelegate::make(mapControl);
    }
    platform::Awaitable<void> subscribe(std::shared_ptr<const CVLiveTopic> topic) override {
        const auto manager = CVLiveDataManager::sharedInstance();
        co_await manager->subscribe(std::move(topic));
    }
    platform::Awaitable<void> unsubscribe(std::shared_ptr<const CVLiveTopic> topic) override {
        const auto manager = CVLiveDataManager::sharedInstance();
        co_await manager->unsubscribe(std::move(topic));
    }
};

struct CVLiveDataStartup {
    CVLiveDataStartup() {
        CVSubsystemSeams::setLiveDataManager(std::make_shared<CVLiveDataStartupManaging>());
        CVMapLiveDataSeam::install(std::make_shared<CVLiveDataStartupMapSeam>());
    }
};

const CVLiveDataStartup kLiveDataStartup;

}  // namespace
}  // namespace ambrell

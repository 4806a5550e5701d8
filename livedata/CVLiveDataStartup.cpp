// A program that links the SDK (AmbrellCore::AmbrellCore) ends its live-data
// subscriptions on every reset of the entry object without a call of its own:
// the entry object asks for the live-data manager through a seam, and this
// object registers it when the program starts. Nothing refers to it, so the
// SDK's package links its library whole (see the top CMakeLists.txt).
//
// It runs among the static initialisers: the registration only reaches a
// registry that is a function-local static made on first use, and the shared
// manager itself is made only when live data is first used.

#include <memory>

#include "core/CVSubsystemSeams.h"
#include "livedata/CVLiveDataManager.h"

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

struct CVLiveDataStartup {
    CVLiveDataStartup() { CVSubsystemSeams::setLiveDataManager(std::make_shared<CVLiveDataStartupManaging>()); }
};

const CVLiveDataStartup kLiveDataStartup;

}  // namespace
}  // namespace ambrell

// A program that links the SDK (AmbrellCore::AmbrellCore) loads its venues'
// route networks and gets its directions without a call of its own: the
// content layer and the entry object below ask for them through seams, and
// this object installs the routing service and the directions service there
// when the program starts. Nothing refers to it, so the SDK's package links
// its library whole (see routing/CMakeLists.txt).
//
// It runs among the static initialisers, in no set order with those of other
// files: install() and the factory's registration only reach registries that
// are function-local statics made on first use, and make objects without
// members.

#include <memory>

#include "core/CVSubsystemSeams.h"
#include "routing/CVDirectionsServiceInternal.h"
#include "routing/CVRouteNetworkService.h"

namespace ambrell {
namespace {

// The directions service as the entry object hands it out.
class CVEntryDirectionsService final : public CVDirectionsServicing {
public:
    void routingWithQuery(CVDirectionsQuery query, Completion completion) override {
        service_.routingWithQuery(std::move(query), std::move(completion));
    }

private:
    CVDirectionsServiceInternal service_;
};

struct CVRoutingStartup {
    CVRoutingStartup() {
        CVRouteNetworkService::install();
        CVSubsystemSeams::setDirectionsServiceFactory([] { return std::make_shared<CVEntryDirectionsService>(); });
    }
};

const CVRoutingStartup kRoutingStartup;

}  // namespace
}  // namespace ambrell

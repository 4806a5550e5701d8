// A program that links the SDK (AmbrellCore::AmbrellCore) loads its venues'
// route networks without a call of its own: the content layer below asks for
// them through a seam, and this object installs the routing service there
// when the program starts. Nothing refers to it, so the SDK's package links
// its library whole (see routing/CMakeLists.txt).
//
// It runs among the static initialisers, in no set order with those of other
// files: install() only reaches the seam's registry, a function-local static
// made on first use, and makes an object without members.

#include "routing/CVRouteNetworkService.h"

namespace ambrell {
namespace {

struct CVRoutingStartup {
    CVRoutingStartup() { CVRouteNetworkService::install(); }
};

const CVRoutingStartup kRoutingStartup;

}  // namespace
}  // namespace ambrell

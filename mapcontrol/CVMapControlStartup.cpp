// A program that links the SDK (AmbrellCore::AmbrellCore) gets the library's
// map control from the entry object's createMapControl(mapConfig:) without a
// call of its own: the entry object makes map controls through a seam, and
// this object registers the factory when the program starts. Nothing refers
// to it, so the SDK's package links its library whole (see the top
// CMakeLists.txt).
//
// It runs among the static initialisers: the registration only reaches a
// registry that is a function-local static made on first use.

#include <memory>

#include "Ambrell/CVMapConfig.h"
#include "core/CVSubsystemSeams.h"
#include "mapcontrol/CVMapControlInternal.h"

namespace ambrell {
namespace {

struct CVMapControlStartup {
    CVMapControlStartup() {
        CVSubsystemSeams::setMapControlFactory(
            [](std::shared_ptr<const CVMapConfig> mapConfig) -> std::shared_ptr<CVMapControlling> {
                // No configuration is the default one: the adapter is in the
                // process's slot either way.
                return CVMapControlInternal::create(mapConfig ? *mapConfig : CVMapConfig{});
            });
    }
};

const CVMapControlStartup kMapControlStartup;

}  // namespace
}  // namespace ambrell

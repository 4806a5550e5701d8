// A program that links the SDK (AmbrellCore::AmbrellCore) gets the display
// rules of its solution without a call of its own: the entry object below
// asks for a display-rule manager through a seam on every load, and this
// object registers the factory when the program starts. Nothing refers to it,
// so the SDK's package links its library whole (see the top CMakeLists.txt).
//
// It runs among the static initialisers: the registration only reaches a
// registry that is a function-local static made on first use.

#include "viewmodels/DisplayRuleManagerSwift.h"

namespace ambrell {
namespace {

struct CVViewModelsStartup {
    CVViewModelsStartup() { DisplayRuleManagerSwift::registerWithEntryObject(); }
};

const CVViewModelsStartup kViewModelsStartup;

}  // namespace
}  // namespace ambrell

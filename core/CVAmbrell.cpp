#include "core/CVAmbrell.h"

#include "core/AmbrellInternal.h"
#include "core/CVSubsystemSeams.h"

namespace ambrell {

std::shared_ptr<AmbrellInternal> AmbrellInternal::shared() {
    // Never destroyed: subsystems reach it until the process ends, also from
    // the runtime's own shutdown.
    static const auto* const entry = [] {
        auto* made = new std::shared_ptr<AmbrellInternal>(AmbrellInternal::create());
        (*made)->installSeams();
        return made;
    }();
    return *entry;
}

std::shared_ptr<AmbrellShared> CVAmbrell::shared() { return AmbrellInternal::shared(); }

std::shared_ptr<CVMapControlling> CVAmbrell::createMapControl(std::shared_ptr<const CVMapConfig> mapConfig) {
    return AmbrellInternal::shared()->createMapControl(std::move(mapConfig));
}

CVLocationUpdateFactory CVAmbrell::createLocationUpdateFactory() { return {}; }

}  // namespace ambrell

#pragma once

#include <memory>

#include "Ambrell/AmbrellShared.h"
#include "core/CVLocationUpdateFactory.h"

namespace ambrell {

class CVMapConfig;
class CVMapControlling;

// The host's way in.
class CVAmbrell {
public:
    CVAmbrell() = delete;

    // The one entry object of the process, made on first use (from any
    // thread, once) and kept for the life of the process.
    [[nodiscard]] static std::shared_ptr<AmbrellShared> shared();
    // Null until the entry object is ready (a load has succeeded); otherwise
    // a new map control, made by the map control's registered factory.
    [[nodiscard]] static std::shared_ptr<CVMapControlling> createMapControl(
        std::shared_ptr<const CVMapConfig> mapConfig);
    [[nodiscard]] static CVLocationUpdateFactory createLocationUpdateFactory();
};

}  // namespace ambrell

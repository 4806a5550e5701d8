#pragma once

#include "platform/Logger.h"

namespace ambrell {

// The channel the data-set tasks report their steps on, one for all of them.
inline const platform::Logger& dataSetManagerLog() {
    static const platform::Logger logger("DataSetManager");
    return logger;
}

}  // namespace ambrell

#pragma once

#include "platform/Logger.h"

namespace ambrell {

// The public framework's log channels.
struct CVLog {
    static platform::Logger& core();
};

}  // namespace ambrell

#include "Ambrell/CVLog.h"

namespace ambrell {

platform::Logger& CVLog::core() {
    // Never destroyed: code running in static destructors may still log.
    static auto* const logger = new platform::Logger("core");
    return *logger;
}

}  // namespace ambrell

#include "platform/runtime/Guarded.h"

#include <exception>

#include "platform/Logger.h"

namespace ambrell::platform {

void logEscapedException(std::string_view what) noexcept {
    try {
        throw;
    } catch (const std::exception& error) {
        Logger("runtime").error("{} threw: {}", what, error.what());
    } catch (...) {
        Logger("runtime").error("{} threw", what);
    }
}

void runGuarded(std::string_view what, const std::function<void()>& block) noexcept {
    try {
        block();
    } catch (...) {
        logEscapedException(what);
    }
}

}  // namespace ambrell::platform

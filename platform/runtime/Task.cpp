#include "platform/runtime/Task.h"

#include "platform/Logger.h"

namespace ambrell::platform::detail {

void callGuarded(const std::function<void()>& call) noexcept {
    try {
        call();
    } catch (const std::exception& error) {
        Logger("runtime").error("A completion handler threw: {}", error.what());
    } catch (...) {
        Logger("runtime").error("A completion handler threw");
    }
}

}  // namespace ambrell::platform::detail

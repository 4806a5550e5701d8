#pragma once

// The parts of the entry object that its two source files share; nothing
// else includes this.

#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/AmbrellShared.h"
#include "core/AmbrellInternal.h"
#include "platform/runtime/Continuation.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class CVDataField;

// One operation's place in the line of loads, resets, role changes and venue
// additions: it ends once, and the next operation waits for that.
struct AmbrellInternal::Turn {
    std::mutex mutex;
    bool ended = false;
    std::vector<std::shared_ptr<platform::Continuation>> waiters;

    void end() {
        std::vector<std::shared_ptr<platform::Continuation>> waiting;
        {
            std::lock_guard lock(mutex);
            ended = true;
            waiting.swap(waiters);
        }
        for (const auto& waiter : waiting) waiter->resume();
    }

    // Returns once the turn has ended.
    static platform::Awaitable<void> waitFor(std::shared_ptr<Turn> turn);
};

struct AmbrellInternal::State {
    bool ready = false;
    std::optional<std::string> apiKey;
    std::optional<std::vector<std::string>> lastVenueIds;
    std::optional<std::string> language;
    std::vector<CVUserRole> userRoles;
    std::vector<CVUserRole> availableUserRoles;
    std::shared_ptr<CVLocationService> locationService;
    std::shared_ptr<CVDisplayRuleManaging> displayRuleManager;
    std::shared_ptr<const CVDerivedGeometryCollection> loadedDerivedGeometry;
    std::shared_ptr<CVAppData> appData;
    std::vector<std::shared_ptr<CVDataField>> categories;
    // The venue list of the load, and the venues given a handler, in order.
    std::vector<std::shared_ptr<CVVenueInternal>> venueList;
    std::vector<std::string> loadedVenueIds;
    std::vector<std::weak_ptr<CVLocationSource>> hostSources;
    std::weak_ptr<CVMapControlling> activeMapControl;
    std::shared_ptr<CVDirectionsServicing> directionsService;
    std::optional<bool> clustering;
};

namespace detail {

[[nodiscard]] std::vector<std::shared_ptr<CVLocationSource>> alive(
    const std::vector<std::weak_ptr<CVLocationSource>>& sources);
[[nodiscard]] std::string describe(const std::exception_ptr& error);
// The completion, or one that does nothing.
[[nodiscard]] AmbrellShared::ErrorCompletion orNothing(AmbrellShared::ErrorCompletion completion);

}  // namespace detail
}  // namespace ambrell

#pragma once

#include <memory>

#include "Ambrell/CVSubscription.h"
#include "platform/runtime/Executor.h"

// The map control asks the process's live-data manager for topics and makes
// the manager's delegate for itself; both live above the map control, which
// reaches them through this interface. The live-data code registers it at
// start-up; until then a map plans its topics but subscribes nothing.

namespace ambrell {

class CVMapControlInternal;
class CVInternalLiveDataDelegate;

class CVMapLiveDataSeam {
public:
    virtual ~CVMapLiveDataSeam() = default;

    // A delegate acting for the map control (held weakly), made the
    // manager's only delegate; it also starts the fetch of the live-data
    // details.
    [[nodiscard]] virtual std::shared_ptr<CVInternalLiveDataDelegate> makeDelegate(
        const std::shared_ptr<CVMapControlInternal>& mapControl) = 0;
    //   Completes: on the caller's executor once the manager has taken the
    //   request. Errors: none (the manager tells its delegate).
    virtual platform::Awaitable<void> subscribe(std::shared_ptr<const CVLiveTopic> topic) = 0;
    virtual platform::Awaitable<void> unsubscribe(std::shared_ptr<const CVLiveTopic> topic) = 0;

    // Replaces what was registered; null removes it. Safe from any thread.
    static void install(std::shared_ptr<CVMapLiveDataSeam> seam);
    // Null when none is registered.
    [[nodiscard]] static std::shared_ptr<CVMapLiveDataSeam> installed();
};

}  // namespace ambrell

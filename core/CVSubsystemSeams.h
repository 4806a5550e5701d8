#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Ambrell/AmbrellShared.h"
#include "Ambrell/CVDirectionsService.h"
#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVLocationSource.h"
#include "Ambrell/CVPositionProvider.h"
#include "data/CVEntrySeams.h"
#include "platform/runtime/Executor.h"

// The entry object reaches the display-rule manager, the map control, the
// live-data manager and the directions service, which are built on top of it.
// Each of them implements its interface here and registers a factory (or its
// shared instance) at start-up; until then the entry object does without.

namespace ambrell {

class CVMapConfig;
class CVSolutionInternal;

// The display rules of one load: the solution's fixed and type rules, and a
// rule per location.
class CVDisplayRuleManaging {
public:
    virtual ~CVDisplayRuleManaging() = default;

    // Reads the type rules of the solution the manager was made with.
    //   Completes: on the caller's executor. Errors: none. Cancelling: not possible.
    virtual platform::Awaitable<void> updateTypeRules() = 0;
    // Resolves and stores the rules of the locations (new or changed).
    //   Completes: on the caller's executor. Errors: none. Cancelling: not possible.
    virtual platform::Awaitable<void> updateLocationRules(std::vector<std::shared_ptr<CVLocation>> locations) = 0;
    // Drops the rules of the ids.
    //   Completes: on the caller's executor. Errors: none. Cancelling: not possible.
    virtual platform::Awaitable<void> removeLocationRules(std::vector<std::string> locationIds) = 0;

    // Null when none is stored. Any thread.
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> locationRule(const std::string& locationId) const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> typeRule(const std::string& lowerCasedTypeName) const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> fixedRule(CVDisplayRuleType type) const = 0;
    // Queues the write of the rule under the id; returns at once.
    virtual void setLocationRule(std::shared_ptr<CVDisplayRule> rule, const std::string& locationId) = 0;
};

// A map control as the entry object knows it: told of the locations of every
// source it observes, refreshed on request; the layers below it see it as the
// active map control.
class CVMapControlling : public CVLocationsObserver, public CVActiveMapControl {
public:
    // Redraws with the current state; returns at once.
    virtual void refresh() = 0;
    virtual void setPositionProvider(std::shared_ptr<CVPositionProvider> provider) = 0;
};

// The live-data subscriptions of the process.
class CVLiveDataManaging {
public:
    virtual ~CVLiveDataManaging() = default;
    // Ends every subscription.
    //   Completes: on the caller's executor once the unsubscriptions are sent.
    //   Errors: none. Cancelling: not possible.
    virtual platform::Awaitable<void> unsubscribeAll() = 0;
};

// The directions service the entry object hands out; the routing code gives
// it its operations.
class CVDirectionsServicing : public CVDirectionsService {
public:
    virtual ~CVDirectionsServicing() = default;
};

class CVSubsystemSeams {
public:
    // Made with the solution of the load (null when it has none).
    using DisplayRuleManagerFactory =
        std::function<std::shared_ptr<CVDisplayRuleManaging>(std::shared_ptr<CVSolutionInternal> solution)>;
    // Makes a map control, which registers itself as the entry object's
    // active map control.
    using MapControlFactory =
        std::function<std::shared_ptr<CVMapControlling>(std::shared_ptr<const CVMapConfig> mapConfig)>;
    using DirectionsServiceFactory = std::function<std::shared_ptr<CVDirectionsServicing>()>;

    CVSubsystemSeams() = delete;

    // Each setter replaces what was registered; an empty one removes it. All
    // are safe from any thread.
    static void setDisplayRuleManagerFactory(DisplayRuleManagerFactory factory);
    static void setMapControlFactory(MapControlFactory factory);
    static void setLiveDataManager(std::shared_ptr<CVLiveDataManaging> manager);
    static void setDirectionsServiceFactory(DirectionsServiceFactory factory);

    // Null without a registered factory (or when it makes none).
    [[nodiscard]] static std::shared_ptr<CVDisplayRuleManaging> makeDisplayRuleManager(
        std::shared_ptr<CVSolutionInternal> solution);
    [[nodiscard]] static std::shared_ptr<CVMapControlling> makeMapControl(std::shared_ptr<const CVMapConfig> mapConfig);
    [[nodiscard]] static std::shared_ptr<CVLiveDataManaging> liveDataManager();
    [[nodiscard]] static std::shared_ptr<CVDirectionsServicing> makeDirectionsService();

    // Test-only: nothing registered.
    static void resetForTesting();
};

}  // namespace ambrell

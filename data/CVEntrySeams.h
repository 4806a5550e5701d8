#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVQuery.h"
#include "Ambrell/CVUserRole.h"

namespace ambrell {

class CVDerivedGeometryCollection;
class CVImageProviderProtocol;
class CVLocation;
class CVSolutionInternal;
class CVVenueHandler;

// The entry object's active map control as the layers below the map control
// see it: what it offers besides (the map adapter's outdoor services, say) is
// found by a conformance check.
class CVActiveMapControl {
public:
    virtual ~CVActiveMapControl() = default;
};

// What the content models ask of the SDK's entry object, which is built
// later on top of them: it installs itself here when it loads.
class CVEntryObjectSeam {
public:
    CVEntryObjectSeam() = default;
    CVEntryObjectSeam(const CVEntryObjectSeam&) = delete;
    CVEntryObjectSeam& operator=(const CVEntryObjectSeam&) = delete;
    virtual ~CVEntryObjectSeam() = default;

    // The rule the map applies to the location (its own, its type's or the
    // solution's default), or null.
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const = 0;
    // The rule of the location type, by its name in any letter case; null by
    // default (and when the current load has none).
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> displayRuleForType(const std::string& /*typeName*/) const {
        return nullptr;
    }
    // The fixed rule of a CVDisplayRuleType raw value; null by default and
    // for a value outside 0 to 6.
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int /*rawType*/) const {
        return nullptr;
    }
    // Makes the rule the location's, replacing the one there: later updates
    // of the location keep it. Any thread; nothing by default.
    virtual void setWithDisplayRule(std::shared_ptr<CVDisplayRule> /*rule*/, const CVLocation& /*location*/) const {}
    // The loaded location with the id, or null (by default).
    [[nodiscard]] virtual std::shared_ptr<CVLocation> locationWithLocationId(const std::string& /*locationId*/) const {
        return nullptr;
    }
    // Answers once, from any thread, with the loaded location whose search-
    // engine id is the location's parent id, looked up where the location
    // service keeps its locations; null without a location service, for a
    // location that is not the library's or when none has that id. By
    // default at once with null.
    virtual void parentOfLocation(const CVLocation& location,
                                  std::function<void(std::shared_ptr<CVLocation>)> completion) const;
    // The solution the core state holds, or null before one is loaded.
    [[nodiscard]] virtual std::shared_ptr<CVSolutionInternal> solution() const;
    // The solution configuration's switches; false without a solution or
    // configuration.
    [[nodiscard]] bool enableClustering() const;
    [[nodiscard]] bool newSelection() const;
    // The images of icons and 2D models; by default one shared provider of
    // the content layer.
    [[nodiscard]] virtual std::shared_ptr<const CVImageProviderProtocol> imageProvider() const;
    // The derived geometry of the current load; null by default, before a
    // load and after a reset.
    [[nodiscard]] virtual std::shared_ptr<const CVDerivedGeometryCollection> loadedDerivedGeometry() const {
        return nullptr;
    }
    // The API key of the current load: set before any venue loads, none
    // before a load and after a reset.
    [[nodiscard]] virtual std::optional<std::string> apiKey() const { return std::nullopt; }
    // The language of the current load; by default the core state's content language.
    [[nodiscard]] virtual std::string language() const;
    // The handler the current load made for the venue (its venue handlers by
    // venue id), or null.
    [[nodiscard]] virtual std::shared_ptr<CVVenueHandler> venueHandlerForVenueId(const std::string& /*venueId*/) const {
        return nullptr;
    }
    // The user roles the host applied; none by default.
    [[nodiscard]] virtual std::vector<CVUserRole> userRoles() const { return {}; }
    // The map control the host made last, while it lives; null by default.
    [[nodiscard]] virtual std::shared_ptr<CVActiveMapControl> activeMapControl() const { return nullptr; }

    // The location search of the host's locationsWithQuery: the completion
    // is called once, from the task that did the work (never on the main
    // queue nor on the location service's actor), with the matching
    // locations; by default at once with none.
    virtual void locationsWithQuery(std::optional<CVQuery> query, CVFilter filter,
                                    std::function<void(std::vector<std::shared_ptr<CVLocation>>)> completion) const;

    // Null uninstalls.
    static void install(std::shared_ptr<const CVEntryObjectSeam> entry);
    // Null while none is installed.
    [[nodiscard]] static std::shared_ptr<const CVEntryObjectSeam> installed();
};

}  // namespace ambrell

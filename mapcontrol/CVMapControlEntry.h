#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVQuery.h"
#include "Ambrell/CVSolutionConfig.h"
#include "Ambrell/CVVenue.h"

namespace ambrell {

class AmbrellInternal;
class CVSolutionInternal;
class CVMapControlling;

// What a map control asks of the SDK's entry object. The completions may be
// called on any thread, once each.
class CVMapControlEntry {
public:
    using Locations = std::vector<std::shared_ptr<CVLocation>>;

    virtual ~CVMapControlEntry() = default;

    virtual void venues(std::function<void(std::vector<std::shared_ptr<CVVenue>>)> completion) const = 0;
    // Null in the completion when no loaded venue has the building.
    virtual void buildingWithId(std::string buildingId,
                                std::function<void(std::shared_ptr<CVBuilding>)> completion) const = 0;
    // The search without its usage event.
    virtual void lookUpLocations(CVFilter filter, std::function<void(Locations)> completion) const = 0;
    // The loaded solution's configuration; none before a load.
    [[nodiscard]] virtual std::optional<CVSolutionConfig> solutionConfig() const = 0;
    // The loaded solution's data-set id; none before a load.
    [[nodiscard]] virtual std::optional<std::string> dataSetId() const { return std::nullopt; }
    // Makes the map control the entry object's active one (held weakly).
    virtual void setActiveMapControl(const std::shared_ptr<CVMapControlling>& mapControl) const = 0;
    // The loaded location of the id; null when none (or nothing is loaded).
    // An entry that holds no locations need not answer.
    [[nodiscard]] virtual std::shared_ptr<CVLocation> locationWithId(const std::string& /*locationId*/) const {
        return nullptr;
    }
    // The rule the location is drawn by; null when it has none.
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& /*location*/) const {
        return nullptr;
    }
    // The loaded solution; none before a load.
    [[nodiscard]] virtual std::shared_ptr<CVSolutionInternal> solution() const { return nullptr; }
    // The solution's rule for the user's position; none without one.
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> positionRule() const { return nullptr; }

    // The process's entry object.
    [[nodiscard]] static std::shared_ptr<CVMapControlEntry> of(std::shared_ptr<AmbrellInternal> entry);
};

}  // namespace ambrell

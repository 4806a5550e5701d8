#include "mapcontrol/CVMapControlEntry.h"

#include <utility>

#include "core/AmbrellInternal.h"
#include "data/CVSolutionInternal.h"

namespace ambrell {

namespace map_control_entry {
namespace {

class AmbrellInternalEntry final : public CVMapControlEntry {
public:
    explicit AmbrellInternalEntry(std::shared_ptr<AmbrellInternal> entry) : entry_(std::move(entry)) {}

    void venues(std::function<void(std::vector<std::shared_ptr<CVVenue>>)> completion) const override {
        entry_->venuesWithCompletionHandler(std::move(completion));
    }
    void buildingWithId(std::string buildingId,
                        std::function<void(std::shared_ptr<CVBuilding>)> completion) const override {
        entry_->buildingWithId(std::move(buildingId), std::move(completion));
    }
    void lookUpLocations(CVFilter filter, std::function<void(Locations)> completion) const override {
        entry_->internalLocationsLookupWithQuery(CVQuery{}, std::move(filter), std::move(completion));
    }
    [[nodiscard]] std::optional<CVSolutionConfig> solutionConfig() const override {
        const auto solution = entry_->solution();
        if (!solution) return std::nullopt;
        return solution->getConfig();
    }
    [[nodiscard]] std::optional<std::string> dataSetId() const override {
        const auto solution = entry_->solution();
        if (!solution) return std::nullopt;
        return solution->dataSetId();
    }
    void setActiveMapControl(const std::shared_ptr<CVMapControlling>& mapControl) const override {
        entry_->setActiveMapControlInstance(mapControl);
    }
    [[nodiscard]] std::shared_ptr<CVLocation> locationWithId(const std::string& locationId) const override {
        return entry_->locationWithLocationId(locationId);
    }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override {
        return entry_->displayRuleForLocation(location);
    }
    [[nodiscard]] std::shared_ptr<CVSolutionInternal> solution() const override { return entry_->solution(); }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> positionRule() const override {
        return entry_->displayRuleForDisplayRuleType(static_cast<int>(CVDisplayRuleType::blueDot));
    }

private:
    std::shared_ptr<AmbrellInternal> entry_;
};

}  // namespace
}  // namespace map_control_entry

std::shared_ptr<CVMapControlEntry> CVMapControlEntry::of(std::shared_ptr<AmbrellInternal> entry) {
    return std::make_shared<map_control_entry::AmbrellInternalEntry>(std::move(entry));
}

}  // namespace ambrell

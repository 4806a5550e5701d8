#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Ambrell/CVDisplayRule.h"
#include "core/CVSubsystemSeams.h"
#include "foundation/CVThreadSafeDictionary.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class CVLocation;
class CVSolutionInternal;
class CVTypeInternal;

// The display rules of one load of a solution: a rule per location type
// (under its lower-cased name), a rule per location (under its id) and the
// fixed rules of the map's special cases. Rules chain
//
//   location rule -> its type's rule (or the main rule) -> main rule -> default rule
//
// so a value unset on a location's rule comes from further up.
//
// The entry object makes one per load and drops it on reset. Look-ups and
// setLocationRule are safe from any thread, while updates run; each keyed
// write is one step of its dictionary, so a read after a write sees it.
class DisplayRuleManagerSwift final : public CVDisplayRuleManaging {
public:
    using Rules = CVThreadSafeDictionary<std::string, std::shared_ptr<CVDisplayRule>>;
    // Keyed rules in the order they were built; a later entry of the same
    // key has replaced the earlier one.
    using KeyedRules = std::vector<std::pair<std::string, std::shared_ptr<CVDisplayRule>>>;

    // The fixed rules from the solution's configuration (or the presets
    // where it has none); no keyed rules yet. A null solution counts as one
    // without configuration or types.
    explicit DisplayRuleManagerSwift(std::shared_ptr<CVSolutionInternal> solution);
    ~DisplayRuleManagerSwift() override;

    // Stores a rule for every named type of the solution, replacing that of
    // the same lower-cased name; other type rules stay.
    platform::Awaitable<void> updateTypeRules() override;
    // Stores a rule for each location without one; a stored rule is kept,
    // whatever the location now says (only setLocationRule replaces it).
    // Locations of base types 3 to 5 get invisible rules, their own rule
    // objects made invisible too.
    platform::Awaitable<void> updateLocationRules(std::vector<std::shared_ptr<CVLocation>> locations) override;
    // Drops the rules stored under the ids, so the next update stores afresh.
    platform::Awaitable<void> removeLocationRules(std::vector<std::string> locationIds) override;

    [[nodiscard]] std::shared_ptr<CVDisplayRule> locationRule(const std::string& locationId) const override;
    [[nodiscard]] std::shared_ptr<CVDisplayRule> typeRule(const std::string& lowerCasedTypeName) const override;
    // Null for a value outside the enumeration.
    [[nodiscard]] std::shared_ptr<CVDisplayRule> fixedRule(CVDisplayRuleType type) const override;
    // Replaces the location's rule.
    void setLocationRule(std::shared_ptr<CVDisplayRule> rule, const std::string& locationId) override;

    // The type rules of the types, in their order; types without a name are
    // left out.
    [[nodiscard]] KeyedRules typeRulesOf(const std::vector<std::shared_ptr<CVTypeInternal>>& types) const;
    // The location rules of the locations (the library's location models
    // only), in their order.
    [[nodiscard]] KeyedRules locationRulesOf(const std::vector<std::shared_ptr<CVLocation>>& locations) const;

    [[nodiscard]] const Rules& typeRules() const { return typeRules_; }
    [[nodiscard]] const Rules& locationRules() const { return locationRules_; }
    [[nodiscard]] const std::shared_ptr<CVSolutionInternal>& solution() const { return solution_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& defaultRule() const { return defaultRule_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& blueDotRule() const { return blueDotRule_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& mainRule() const { return mainRule_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& buildingRule() const { return buildingRule_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& oldSelectionRule() const { return oldSelectionRule_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& selectionStateRule() const { return selectionStateRule_; }
    [[nodiscard]] const std::shared_ptr<CVDisplayRule>& highlightStateRule() const { return highlightStateRule_; }

    // Makes the entry object build its managers with this class.
    static void registerWithEntryObject();

private:
    Rules typeRules_{"Ambrell.displayrule.types"};
    Rules locationRules_{"Ambrell.displayrule.locations"};
    const std::shared_ptr<CVSolutionInternal> solution_;
    // Written only here, during construction; read without a lock after.
    std::shared_ptr<CVDisplayRule> defaultRule_;
    std::shared_ptr<CVDisplayRule> blueDotRule_;
    std::shared_ptr<CVDisplayRule> mainRule_;
    std::shared_ptr<CVDisplayRule> buildingRule_;
    std::shared_ptr<CVDisplayRule> oldSelectionRule_;
    std::shared_ptr<CVDisplayRule> selectionStateRule_;
    std::shared_ptr<CVDisplayRule> highlightStateRule_;
};

}  // namespace ambrell

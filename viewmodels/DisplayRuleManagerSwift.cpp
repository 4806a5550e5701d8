#include "viewmodels/DisplayRuleManagerSwift.h"

#include <algorithm>

#include "Ambrell/CVLocationBaseType.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"
#include "data/CVTypeInternal.h"
#include "foundation/CVTextCase.h"

namespace ambrell {

namespace display_rule_manager {
namespace {

// Floors, buildings and venues: the map draws them through their own rules
// (the building rule, the floor plan), never through a location marker.
bool drawnElsewhere(CVLocationBaseType baseType) {
    const auto raw = static_cast<std::uint32_t>(baseType);
    return raw >= 3 && raw <= 5;
}

// A later entry of a key replaces the earlier one in place; none removes it.
void putKeyed(DisplayRuleManagerSwift::KeyedRules& rules, std::string key, std::shared_ptr<CVDisplayRule> rule) {
    const auto existing =
        std::find_if(rules.begin(), rules.end(), [&key](const auto& entry) { return entry.first == key; });
    if (!rule) {
        if (existing != rules.end()) rules.erase(existing);
    } else if (existing != rules.end()) {
        existing->second = std::move(rule);
    } else {
        rules.emplace_back(std::move(key), std::move(rule));
    }
}

const CVSolutionConfig* configOf(const std::shared_ptr<CVSolutionInternal>& solution) {
    return solution && solution->config ? &*solution->config : nullptr;
}

std::shared_ptr<CVDisplayRule> ruleOf(CVDisplayRuleData data) {
    return std::make_shared<CVDisplayRule>(std::move(data));
}

}  // namespace
}  // namespace display_rule_manager

DisplayRuleManagerSwift::DisplayRuleManagerSwift(std::shared_ptr<CVSolutionInternal> solution)
    : solution_(std::move(solution)) {
    using display_rule_manager::ruleOf;
    const CVSolutionConfig* config = display_rule_manager::configOf(solution_);
    defaultRule_ = ruleOf(CVDisplayRuleData::defaultRuleData());
    mainRule_ = CVDisplayRule::withRule(
        ruleOf(config && config->mainDisplayRuleData ? *config->mainDisplayRuleData : CVDisplayRuleData{}),
        defaultRule_);
    buildingRule_ = CVDisplayRule::withRule(
        ruleOf(config && config->buildingDisplayRuleData ? *config->buildingDisplayRuleData : CVDisplayRuleData{}),
        mainRule_);
    blueDotRule_ = CVDisplayRule::withRule(ruleOf(CVDisplayRuleData::userPositionData()), mainRule_);
    oldSelectionRule_ = CVDisplayRule::withRule(ruleOf(CVDisplayRuleData::oldSelectionData()));
    const auto* stateRules = config && config->stateDisplayRules ? &*config->stateDisplayRules : nullptr;
    selectionStateRule_ = CVDisplayRule::withRule(
        ruleOf(stateRules && stateRules->selection ? *stateRules->selection : CVDisplayRuleData::selectionData()));
    highlightStateRule_ = CVDisplayRule::withRule(
        ruleOf(stateRules && stateRules->highlight ? *stateRules->highlight : CVDisplayRuleData::highlightData()));
}

DisplayRuleManagerSwift::~DisplayRuleManagerSwift() = default;

DisplayRuleManagerSwift::KeyedRules DisplayRuleManagerSwift::typeRulesOf(
    const std::vector<std::shared_ptr<CVTypeInternal>>& types) const {
    KeyedRules rules;
    for (const auto& type : types) {
        if (!type || type->name.empty()) continue;
        auto base = type->displayRule ? type->displayRule : std::make_shared<CVDisplayRule>();
        display_rule_manager::putKeyed(rules, lowercasedText(type->name),
                                       CVDisplayRule::withRule(std::move(base), mainRule_));
    }
    return rules;
}

DisplayRuleManagerSwift::KeyedRules DisplayRuleManagerSwift::locationRulesOf(
    const std::vector<std::shared_ptr<CVLocation>>& locations) const {
    KeyedRules rules;
    for (const auto& location : locations) {
        const auto* model = dynamic_cast<const CVLocationInternal*>(location.get());
        if (model == nullptr) continue;
        auto base = model->displayRule ? model->displayRule : std::make_shared<CVDisplayRule>();
        if (display_rule_manager::drawnElsewhere(model->baseType())) base->setVisible(false);
        auto parent = typeRules_.getValue(lowercasedText(model->type)).value_or(nullptr);
        if (!parent) parent = mainRule_;
        display_rule_manager::putKeyed(rules, model->locationId,
                                       CVDisplayRule::withRule(std::move(base), std::move(parent)));
    }
    return rules;
}

platform::Awaitable<void> DisplayRuleManagerSwift::updateTypeRules() {
    auto rules = typeRulesOf(solution_ ? solution_->types : std::vector<std::shared_ptr<CVTypeInternal>>{});
    for (auto& [key, rule] : rules) typeRules_.setValue(std::move(rule), key);
    co_return;
}

platform::Awaitable<void> DisplayRuleManagerSwift::updateLocationRules(
    std::vector<std::shared_ptr<CVLocation>> locations) {
    auto rules = locationRulesOf(locations);
    // Checked and stored as one step: a rule the host sets meanwhile is kept.
    for (auto& [id, rule] : rules) locationRules_.setValueIfAbsent(std::move(rule), id);
    co_return;
}

platform::Awaitable<void> DisplayRuleManagerSwift::removeLocationRules(std::vector<std::string> locationIds) {
    // By the id given: a deleted location can no longer be looked up, and
    // its rule would otherwise outlive it and shadow the next update.
    for (const auto& id : locationIds) locationRules_.remove(id);
    co_return;
}

std::shared_ptr<CVDisplayRule> DisplayRuleManagerSwift::locationRule(const std::string& locationId) const {
    return locationRules_.getValue(locationId).value_or(nullptr);
}

std::shared_ptr<CVDisplayRule> DisplayRuleManagerSwift::typeRule(const std::string& lowerCasedTypeName) const {
    return typeRules_.getValue(lowerCasedTypeName).value_or(nullptr);
}

std::shared_ptr<CVDisplayRule> DisplayRuleManagerSwift::fixedRule(CVDisplayRuleType type) const {
    switch (type) {
        case CVDisplayRuleType::selectionState: return selectionStateRule_;
        case CVDisplayRuleType::highlightState: return highlightStateRule_;
        case CVDisplayRuleType::building: return buildingRule_;
        case CVDisplayRuleType::oldSelection: return oldSelectionRule_;
        case CVDisplayRuleType::blueDot: return blueDotRule_;
        case CVDisplayRuleType::defaultRule: return defaultRule_;
        case CVDisplayRuleType::main: return mainRule_;
    }
    return nullptr;
}

void DisplayRuleManagerSwift::setLocationRule(std::shared_ptr<CVDisplayRule> rule, const std::string& locationId) {
    if (rule) {
        locationRules_.setValue(std::move(rule), locationId);
    } else {
        locationRules_.remove(locationId);
    }
}

void DisplayRuleManagerSwift::registerWithEntryObject() {
    CVSubsystemSeams::setDisplayRuleManagerFactory([](std::shared_ptr<CVSolutionInternal> solution) {
        return std::make_shared<DisplayRuleManagerSwift>(std::move(solution));
    });
}

}  // namespace ambrell

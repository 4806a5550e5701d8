#include "tests/support/ManagedRulesEntry.h"

#include <utility>

#include "Ambrell/CVLocation.h"

namespace ambrell::test {

ManagedRulesEntry::ManagedRulesEntry(std::shared_ptr<DisplayRuleManagerSwift> rules,
                                     std::shared_ptr<const CVImageProviderProtocol> images)
    : rules_(std::move(rules)), images_(std::move(images)) {}

std::shared_ptr<CVDisplayRule> ManagedRulesEntry::displayRuleForLocation(const CVLocation& location) const {
    return rules_->locationRule(location.getLocationId());
}

std::shared_ptr<CVDisplayRule> ManagedRulesEntry::displayRuleForDisplayRuleType(int rawType) const {
    if (rawType < 0 || rawType > static_cast<int>(CVDisplayRuleType::main)) return nullptr;
    return rules_->fixedRule(static_cast<CVDisplayRuleType>(rawType));
}

std::shared_ptr<CVSolutionInternal> ManagedRulesEntry::solution() const { return rules_->solution(); }

std::shared_ptr<const CVImageProviderProtocol> ManagedRulesEntry::imageProvider() const { return images_; }

}  // namespace ambrell::test

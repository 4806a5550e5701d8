#pragma once

#include <memory>

#include "data/CVEntrySeams.h"
#include "data/CVImageProvider.h"
#include "viewmodels/DisplayRuleManagerSwift.h"

namespace ambrell::test {

// The entry object as a render reads it: the rules of one display-rule
// manager (its location rules, fixed rules and solution) and an image
// provider. Safe from any thread, as the manager is.
class ManagedRulesEntry final : public CVEntryObjectSeam {
public:
    ManagedRulesEntry(std::shared_ptr<DisplayRuleManagerSwift> rules,
                      std::shared_ptr<const CVImageProviderProtocol> images);

    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override;
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int rawType) const override;
    [[nodiscard]] std::shared_ptr<CVSolutionInternal> solution() const override;
    [[nodiscard]] std::shared_ptr<const CVImageProviderProtocol> imageProvider() const override;

private:
    std::shared_ptr<DisplayRuleManagerSwift> rules_;
    std::shared_ptr<const CVImageProviderProtocol> images_;
};

}  // namespace ambrell::test

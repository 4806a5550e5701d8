#pragma once

#include <memory>

#include "Ambrell/CVDisplayRule.h"

namespace ambrell {

class CVLocation;

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

    // Null uninstalls.
    static void install(std::shared_ptr<const CVEntryObjectSeam> entry);
    // Null while none is installed.
    [[nodiscard]] static std::shared_ptr<const CVEntryObjectSeam> installed();
};

}  // namespace ambrell

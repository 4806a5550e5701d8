#include "viewmodels/CVLocationSelectability.h"

#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"

namespace ambrell {

bool resolvedSelectable(const CVLocation& location) {
    if (const auto& own = location.getLocationSettings(); own && own->selectable) return *own->selectable;
    if (const auto* model = dynamic_cast<const CVLocationInternal*>(&location); model != nullptr && model->typeRef) {
        if (const auto& ofType = model->typeRef->getLocationSettings(); ofType && ofType->selectable) {
            return *ofType->selectable;
        }
    }
    const auto entry = CVEntryObjectSeam::installed();
    const auto solution = entry ? entry->solution() : nullptr;
    if (!solution || !solution->config || !solution->config->locationSettings) return true;
    return solution->config->locationSettings->selectable.value_or(true);
}

}  // namespace ambrell

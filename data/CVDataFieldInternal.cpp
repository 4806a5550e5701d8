#include "data/CVDataFieldInternal.h"

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

void CVDataFieldInternal::declareJSON(JSONModelDeclaration<CVDataFieldInternal>& d) { d.optional({"value", "fields"}); }

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVDataFieldInternal)

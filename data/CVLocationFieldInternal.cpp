#include "data/CVLocationFieldInternal.h"

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell {

void CVLocationFieldInternal::declareJSON(JSONModelDeclaration<CVLocationFieldInternal>& d) {
    d.optional({"text", "value"});
}

}  // namespace ambrell

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVLocationFieldInternal)

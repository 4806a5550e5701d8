#include "data/CVMapStyleInternal.h"

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVMapStyleInternal)

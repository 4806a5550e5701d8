#include "data/CVBuildingInfo.h"

#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

AMBRELL_JSON_MODEL_DEFINE(ambrell::CVBuildingInfo)

#include "tests/jsonmodel/JSONModel/TestModels.h"

AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Field)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Point)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Venue)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Everything)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Location)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Room)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Building)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Badge)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Profile)

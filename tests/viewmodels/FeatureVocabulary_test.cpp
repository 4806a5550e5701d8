#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

#include <boost/json/value.hpp>

#include "viewmodels/CVModelError.h"
#include "viewmodels/CVModelPropertyKey.h"
#include "viewmodels/CVRenderedFeatureType.h"
#include "viewmodels/GeoJsonGeometryType.h"

namespace ambrell::feature_vocabulary_test {
namespace {

// Adapters look properties up by these texts, in this case order.
constexpr const char* kPropertyKeyTexts[] = {
    "polygonFillcolor",
    "polygonFillcolorAlpha",
    "polygonFillOpacity",
    "polygonStrokeColor",
    "polygonStrokeColorAlpha",
    "polygonStrokeOpacity",
    "polygonStrokeWidth",
    "polygonArea",
    "markerLabel",
    "markerLabelInfoWindow",
    "markerId",
    "markerIconPlacement",
    "locationName",
    "markerGeometryArea",
    "hasImage",
    "isCollidable",
    "isClusterable",
    "labelFont",
    "labelSize",
    "labelOffset",
    "labelAnchor",
    "labelMaxWidth",
    "labelColor",
    "labelHaloColor",
    "labelOpacity",
    "labelHaloWidth",
    "labelHaloBlur",
    "labelBearing",
    "labelType",
    "model2dId",
    "model2dBearing",
    "model2DWidth",
    "model2DHeight",
    "model2DScale",
    "model3dId",
    "model3dUri",
    "model3DRotation",
    "model3DScale",
    "wallExtrusionHeight",
    "wallExtrusionColor",
    "featureExtrusionHeight",
    "featureExtrusionColor",
    "floorPlanStrokeColor",
    "floorPlanStrokeColorAlpha",
    "floorPlanStrokeWidth",
    "floorPlanStrokeOpacity",
    "floorPlanFillColor",
    "floorPlanFillColorAlpha",
    "floorPlanFillOpacity",
    "type",
    "axType",
    "clickable",
};

TEST(ModelPropertyKey, EveryKeyRoundTripsInCaseOrder) {
    static_assert(std::size(kPropertyKeyTexts) == CVModelPropertyKeyCount);
    for (int index = 0; index < CVModelPropertyKeyCount; ++index) {
        SCOPED_TRACE(kPropertyKeyTexts[index]);
        const auto key = static_cast<CVModelPropertyKey>(index);
        EXPECT_EQ(rawValue(key), kPropertyKeyTexts[index]);
        EXPECT_EQ(modelPropertyKeyFromRawValue(kPropertyKeyTexts[index]), key);
    }
    EXPECT_EQ(modelPropertyKeyFromRawValue("axType"), CVModelPropertyKey::axType);
    EXPECT_EQ(static_cast<int>(CVModelPropertyKey::axType), 50);
    EXPECT_EQ(static_cast<int>(CVModelPropertyKey::clickable), 51);
}

TEST(ModelPropertyKey, LookUpIsExactAndCaseSensitive) {
    for (const char* text : {"polygonFillColor", "polygonFillcolorAlpha ", "AxType", "axtype", "model2DId",
                             "model2dWidth", "model3dRotation", "Type", "", "clickable\n", "floorplanFillColor"}) {
        EXPECT_EQ(modelPropertyKeyFromRawValue(text), std::nullopt) << '"' << text << '"';
    }
    // A text with an embedded NUL is not its prefix.
    EXPECT_EQ(modelPropertyKeyFromRawValue(std::string_view("type\0x", 6)), std::nullopt);
}

TEST(GeoJsonGeometryType, RawStringsAreCapitalised) {
    const char* texts[] = {"Point", "MultiPoint", "LineString", "MultiLineString", "Polygon", "MultiPolygon"};
    for (int index = 0; index < 6; ++index) {
        const auto type = static_cast<GeoJsonGeometryType>(index);
        EXPECT_EQ(rawValue(type), texts[index]);
        EXPECT_EQ(geoJsonGeometryTypeFromRawValue(texts[index]), type);
    }
    for (const char* text : {"polygon", "point", "Multipolygon", "GeometryCollection", "Feature", ""}) {
        EXPECT_EQ(geoJsonGeometryTypeFromRawValue(text), std::nullopt) << text;
    }
}

TEST(RenderedFeatureType, RawStringsAndJson) {
    const char* texts[] = {"undefined", "marker",    "polygon",          "model2d",
                           "model3d",   "floorplan", "featureExtrusion", "wallExtrusion"};
    for (int index = 0; index < 8; ++index) {
        const auto kind = static_cast<CVRenderedFeatureType>(index);
        EXPECT_EQ(rawValue(kind), texts[index]);
        EXPECT_EQ(renderedFeatureTypeFromRawValue(texts[index]), kind);
        EXPECT_EQ(renderedFeatureTypeFromJson(boost::json::value(texts[index])), kind);
    }
    EXPECT_EQ(renderedFeatureTypeFromRawValue("floorplan"), CVRenderedFeatureType::floorplan);
    for (const char* text : {"floorPlan", "Marker", "model2D", "wallextrusion", ""}) {
        EXPECT_EQ(renderedFeatureTypeFromRawValue(text), std::nullopt) << text;
        EXPECT_EQ(renderedFeatureTypeFromJson(boost::json::value(text)), std::nullopt) << text;
    }
    // Only a JSON string decodes.
    for (const auto& json : {boost::json::value(1), boost::json::value(nullptr), boost::json::value(true),
                             boost::json::value(boost::json::array{"marker"})}) {
        EXPECT_EQ(renderedFeatureTypeFromJson(json), std::nullopt) << json;
    }
}

TEST(ModelError, CodesEqualityAndHash) {
    const CVModelError illegalState(CVModelErrorCase::IllegalStateException);
    const CVModelError illegalType(CVModelErrorCase::IllegalGeoJsonGeometryType);
    EXPECT_EQ(illegalState.code(), 0);
    EXPECT_EQ(illegalType.code(), 1);
    EXPECT_EQ(illegalState, CVModelError(CVModelErrorCase::IllegalStateException));
    EXPECT_FALSE(illegalState == illegalType);
    EXPECT_EQ(illegalType, CVModelErrorCase::IllegalGeoJsonGeometryType);
    const std::unordered_set<CVModelError> errors = {illegalState, illegalType,
                                                     CVModelError(CVModelErrorCase::IllegalStateException)};
    EXPECT_EQ(errors.size(), 2u);
    EXPECT_STREQ(illegalType.what(), "CVModelError.IllegalGeoJsonGeometryType (1)");

    const auto error = illegalType.toNSError();
    EXPECT_EQ(error.domain, CVModelErrorDomain);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.localizedDescription(), "CVModelError.IllegalGeoJsonGeometryType (1)");
}

}  // namespace
}  // namespace ambrell::feature_vocabulary_test

#include "Ambrell/CVGeometry.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocationBaseType.h"
#include "Ambrell/CVLocationSettings.h"

namespace ambrell {
namespace {

// A square of roughly 111 m x 111 m at the equator, straddling longitude 0,
// with a hole in its south-west quarter.
constexpr const char* squareWithHole = R"({"type": "Polygon", "coordinates": [
    [[-0.0005, -0.0005], [0.0005, -0.0005], [0.0005, 0.0005], [-0.0005, 0.0005], [-0.0005, -0.0005]],
    [[-0.0004, -0.0004], [-0.0001, -0.0004], [-0.0001, -0.0001], [-0.0004, -0.0001], [-0.0004, -0.0004]]]})";

TEST(CVGeometry, PolygonReadsRingsBoxAreaAndContainment) {
    platform::NSError error;
    auto polygon = CVPolygonGeometry::initWithDictionary(boost::json::parse(squareWithHole), &error);
    ASSERT_NE(polygon, nullptr);
    EXPECT_EQ(polygon->coordinates().size(), 2u);
    EXPECT_EQ(polygon->boundingBox(), (std::vector<double>{-0.0005, -0.0005, 0.0005, 0.0005}));
    EXPECT_NEAR(polygon->area(), 111.32 * 111.32 * (1.0 - 0.09), 60.0);
    EXPECT_TRUE(polygon->containsPoint({0.0003, 0.0003}));
    EXPECT_FALSE(polygon->containsPoint({-0.0002, -0.0002}));  // in the hole
    EXPECT_FALSE(polygon->containsPoint({0.001, 0}));
    EXPECT_FALSE(polygon->containsPoint({std::nan(""), 0}));
}

TEST(CVGeometry, MultiPolygonJoinsItsParts) {
    auto multi = CVMultiPolygonGeometry::initWithDictionary(boost::json::parse(R"({"type": "MultiPolygon",
        "coordinates": [[[[10, 50], [11, 50], [11, 51], [10, 50]]], [[[20, 40], [21, 40], [21, 41], [20, 40]]]]})"));
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->polygons().size(), 2u);
    EXPECT_EQ(multi->boundingBox(), (std::vector<double>{10, 40, 21, 51}));
    EXPECT_TRUE(multi->containsPoint({40.2, 20.8}));
    EXPECT_GT(multi->area(), multi->polygons()[0].area());
}

TEST(CVGeometry, MalformedDocumentsAreRefusedWithAReason) {
    const char* polygons[] = {
        R"([])",
        R"({"type": "MultiPolygon", "coordinates": []})",
        R"({"type": "Polygon"})",
        R"({"type": "Polygon", "coordinates": 5})",
        R"({"type": "Polygon", "coordinates": [[[1]]]})",
        R"({"type": "Polygon", "coordinates": [[["a", 1]]]})",
        R"({"type": "Polygon", "coordinates": [[]]})",
    };
    for (const char* text : polygons) {
        platform::NSError error;
        EXPECT_EQ(CVPolygonGeometry::initWithDictionary(boost::json::parse(text), &error), nullptr) << text;
        EXPECT_EQ(error.domain, CVGeometryErrorDomain) << text;
        EXPECT_FALSE(error.localizedDescription().empty());
    }
    EXPECT_EQ(CVMultiPolygonGeometry::initWithDictionary(boost::json::parse(R"({"type": "MultiPolygon",
        "coordinates": []})")), nullptr);
    EXPECT_EQ(CVMultiPolygonGeometry::initWithDictionary(boost::json::parse(squareWithHole)), nullptr);
}

TEST(CVGeometry, GeoBoundsFromPointsIntersectAndContain) {
    const std::vector<CLLocationCoordinate2D> points{{55.7, 12.6}, {55.6, 12.5}, {55.65, 12.7}};
    const CVGeoBounds bounds(points);
    EXPECT_EQ(bounds.southWest(), (CLLocationCoordinate2D{55.6, 12.5}));
    EXPECT_EQ(bounds.northEast(), (CLLocationCoordinate2D{55.7, 12.7}));
    EXPECT_TRUE(bounds.containsCoordinate({55.6, 12.5}));
    EXPECT_TRUE(bounds.intersectsWithOther(CVGeoBounds({55.7, 12.7}, {56, 13})));
    EXPECT_FALSE(bounds.intersectsWithOther(CVGeoBounds({55.8, 12.0}, {56, 13})));
    EXPECT_EQ(CVGeoBounds(std::span<const CLLocationCoordinate2D>{}), CVGeoBounds());
}

TEST(CVDisplayRule, ReadsKnownKeysAndRefusesWrongKinds) {
    auto rule = CVDisplayRule::initWithDictionary(boost::json::parse(R"({"visible": false, "icon": "https://x/i.png",
        "iconSize": {"width": 24, "height": 20}, "zoomFrom": 17, "polygonFillColor": "#AABBCC", "other": 1,
        "label": null})"));
    ASSERT_NE(rule, nullptr);
    EXPECT_FALSE(rule->isVisible());
    EXPECT_EQ(rule->iconUrl(), "https://x/i.png");
    EXPECT_EQ(rule->data().iconHeight, 20);
    EXPECT_EQ(rule->data().zoomFrom, 17);
    EXPECT_FALSE(rule->data().label);
    // What it writes reads back to the same rule.
    EXPECT_EQ(*CVDisplayRule::initWithDictionary(rule->JSONObject()), *rule);

    for (const char* text : {R"([])", R"({"visible": 1})", R"({"zoomFrom": "17"})", R"({"icon": 3})",
                             R"({"iconSize": 24})", R"({"iconSize": {"width": "24"}})"}) {
        platform::NSError error;
        EXPECT_EQ(CVDisplayRule::initWithDictionary(boost::json::parse(text), &error), nullptr) << text;
        EXPECT_FALSE(error.localizedDescription().empty());
    }
}

TEST(CVLocationSettings, ReadsSelectable) {
    EXPECT_EQ(CVLocationSettings::initWithDictionary(boost::json::parse(R"({"selectable": false})"))->selectable,
              false);
    EXPECT_FALSE(CVLocationSettings::initWithDictionary(boost::json::parse(R"({})"))->selectable);
    EXPECT_FALSE(CVLocationSettings::initWithDictionary(boost::json::parse(R"({"selectable": "no"})")));
    EXPECT_FALSE(CVLocationSettings::initWithDictionary(boost::json::parse(R"(true)")));
}

TEST(CVLocationBaseType, NamesReadInAnyCaseAndUnknownIsPointOfInterest) {
    const std::pair<const char*, std::uint32_t> table[] = {
        {"POI", 0}, {"area", 1}, {"Room", 2}, {"FLOOR", 3}, {"building", 4}, {"VENUE", 5}, {"hall", 0}, {"", 0}};
    for (const auto& [text, raw] : table) {
        EXPECT_EQ(static_cast<std::uint32_t>(as_CVLocationBaseType(text)), raw) << text;
    }
    EXPECT_EQ(as_CVLocationBaseType(std::nullopt), CVLocationBaseType::pointOfInterest);
    EXPECT_EQ(CVLocationBaseTypeName(CVLocationBaseType::building), "BUILDING");
}

}  // namespace
}  // namespace ambrell

#include "viewmodels/PolygonFeatureBuilder.h"

#include <gtest/gtest.h>

#include "platform/Screen.h"
#include "tests/viewmodels/FeatureTestLocations.h"
#include "tests/viewmodels/GoldenFeatureText.h"

namespace ambrell::polygon_feature_builder_test {
namespace {

using platform::Color;

CVDisplayRuleData polygonRule() {
    CVDisplayRuleData data;
    data.polygonVisible = true;
    data.polygonZoomFrom = 17;
    data.polygonZoomTo = 22;
    data.polygonFillColor = Color::fromRGBA(0.2, 0.4, 0.6, 0.5);
    data.polygonStrokeColor = Color::fromRGBA(0.1, 0.1, 0.1, 1);
    data.polygonStrokeWidth = 2;
    data.polygonLightnessFactor = 0;
    return data;
}

// Draws on a screen of the scale, and puts the scale back after.
class PolygonFeature : public ::testing::Test {
protected:
    void TearDown() override { platform::Screen::setScale(1); }

    static ViewModel built(const CVLocation& location, const CVDisplayRuleData& data, double zoom = 18) {
        ViewModel viewModel;
        viewModel.id = location.getLocationId();
        buildPolygonFeature(location, CVDisplayRule(data), zoom, viewModel);
        return viewModel;
    }
};

TEST_F(PolygonFeature, GoldenTextsOfRoomsOnScreensOfScaleTwoAndThree) {
    const auto room = test::roomLocation("room-1", "Room 1", 55.6761, 12.5683);
    platform::Screen::setScale(2);
    const auto onTwo = built(*room, polygonRule());
    platform::Screen::setScale(3);
    const auto onThree = built(*room, polygonRule());
    ASSERT_TRUE(onTwo.polygon && onThree.polygon);
    EXPECT_EQ(std::get<double>(onTwo.polygon->properties().at(CVModelPropertyKey::polygonStrokeWidth)), 1.0);
    EXPECT_NEAR(std::get<double>(onThree.polygon->properties().at(CVModelPropertyKey::polygonStrokeWidth)), 0.667,
                0.001);
    EXPECT_EQ(onTwo.polygon->id(), "room-1");

    const auto wings = test::twoWingLocation("wings", 55.6761, 12.5683);
    platform::Screen::setScale(2);
    const auto multi = built(*wings, polygonRule());
    ASSERT_TRUE(multi.polygon);
    EXPECT_EQ(multi.polygon->geometry().type(), GeoJsonGeometryType::MultiPolygon);
    EXPECT_DOUBLE_EQ(std::get<double>(multi.polygon->properties().at(CVModelPropertyKey::polygonArea)),
                     wings->cv_multiPolygon()->area());

    test::expectMatchesGoldenTexts({{"room on a screen of scale 2", onTwo.polygon->toGeoJson(true)},
                                    {"room on a screen of scale 3", onThree.polygon->toGeoJson()},
                                    {"multipolygon", multi.polygon->toGeoJson()}},
                                   "polygons.txt");
}

TEST_F(PolygonFeature, FillOpacityFollowsTheRuleColourWhateverTheLightness) {
    const auto room = test::roomLocation("room-1", "Room 1", 55.6761, 12.5683);
    struct Case {
        double factor;
        const char* fill;
        const char* fillAlpha;
    };
    // 0.2, 0.4, 0.6 is hue 210 degrees, saturation 0.5, lightness 0.4.
    for (const Case& c : {Case{0, "#336699", "#3366997F"}, Case{0.5, "#8CB3D9", "#8CB3D97F"},
                          Case{-1, "#000000", "#0000007F"}, Case{1, "#FFFFFF", "#FFFFFF7F"}}) {
        auto data = polygonRule();
        data.polygonLightnessFactor = c.factor;
        const auto viewModel = built(*room, data);
        ASSERT_TRUE(viewModel.polygon) << c.factor;
        const auto& properties = viewModel.polygon->properties();
        EXPECT_EQ(std::get<std::string>(properties.at(CVModelPropertyKey::polygonFillcolor)), c.fill) << c.factor;
        EXPECT_EQ(std::get<std::string>(properties.at(CVModelPropertyKey::polygonFillcolorAlpha)), c.fillAlpha);
        EXPECT_EQ(std::get<double>(properties.at(CVModelPropertyKey::polygonFillOpacity)), 0.5) << c.factor;
        // The stroke is never lightened.
        EXPECT_EQ(std::get<std::string>(properties.at(CVModelPropertyKey::polygonStrokeColor)), "#191919");
    }
}

TEST_F(PolygonFeature, ColoursTheRuleLacksLeaveOutTheirKeysAndOpacity) {
    const auto room = test::roomLocation("room-1", "Room 1", 55.6761, 12.5683);
    auto data = polygonRule();
    data.polygonFillColor.reset();
    auto viewModel = built(*room, data);
    ASSERT_TRUE(viewModel.polygon);
    for (const auto key : {CVModelPropertyKey::polygonFillcolor, CVModelPropertyKey::polygonFillcolorAlpha,
                           CVModelPropertyKey::polygonFillOpacity}) {
        EXPECT_FALSE(viewModel.polygon->properties().contains(key)) << rawValue(key);
    }
    EXPECT_TRUE(viewModel.polygon->properties().contains(CVModelPropertyKey::polygonStrokeOpacity));

    data = polygonRule();
    data.polygonStrokeColor.reset();
    viewModel = built(*room, data);
    ASSERT_TRUE(viewModel.polygon);
    for (const auto key : {CVModelPropertyKey::polygonStrokeColor, CVModelPropertyKey::polygonStrokeColorAlpha,
                           CVModelPropertyKey::polygonStrokeOpacity}) {
        EXPECT_FALSE(viewModel.polygon->properties().contains(key)) << rawValue(key);
    }
    EXPECT_TRUE(viewModel.polygon->properties().contains(CVModelPropertyKey::polygonFillOpacity));
}

TEST_F(PolygonFeature, NoPolygonForPointsOrOutsideItsZoomRange) {
    // A point location gets no polygon, whatever the rule says.
    EXPECT_FALSE(built(*test::pointLocation("poi", "Cafe", 55.6761, 12.5683), polygonRule()).polygon);

    const auto room = test::roomLocation("room-1", "Room 1", 55.6761, 12.5683);
    // Both zoom bounds are inclusive.
    EXPECT_TRUE(built(*room, polygonRule(), 17).polygon);
    EXPECT_TRUE(built(*room, polygonRule(), 22).polygon);
    EXPECT_FALSE(built(*room, polygonRule(), 16.99).polygon);
    EXPECT_FALSE(built(*room, polygonRule(), 22.01).polygon);
    auto hidden = polygonRule();
    hidden.polygonVisible = false;
    EXPECT_FALSE(built(*room, hidden).polygon);
}

}  // namespace
}  // namespace ambrell::polygon_feature_builder_test

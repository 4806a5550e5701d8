#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "platform/Screen.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "viewmodels/DerivedGeometryFeatures.h"
#include "viewmodels/FloorPlanFeature.h"

namespace ambrell::derived_geometry_features_test {
namespace {

const CVPolygonGeometry::Ring kSquare = {{55.0, 12.0}, {55.0, 12.001}, {55.001, 12.001}, {55.001, 12.0}, {55.0, 12.0}};

std::shared_ptr<CVDerivedGeometry> derived(const std::string& locationId, const std::string& kind, bool multi = false) {
    auto geometry = std::make_shared<CVDerivedGeometry>();
    geometry->geodataId = locationId;
    geometry->type = kind;
    if (multi) {
        geometry->cvGeometry = std::make_shared<CVMultiPolygonGeometry>(
            std::vector<CVPolygonGeometry>{CVPolygonGeometry({kSquare}), CVPolygonGeometry({kSquare})});
    } else {
        geometry->cvGeometry = std::make_shared<CVPolygonGeometry>(std::vector<CVPolygonGeometry::Ring>{kSquare});
    }
    return geometry;
}

std::shared_ptr<CVLocationInternal> room(const std::string& id) {
    auto location = CVLocationInternal::fromDictionary(boost::json::parse(
        R"({"id": ")" + id +
        R"(", "geometry": {"type": "Polygon", "coordinates": [[[12.0, 55.0], [12.001, 55.0], [12.001, 55.001],
            [12.0, 55.001], [12.0, 55.0]]]}, "properties": {"name": "Hall", "type": "Building",
            "locationType": "BUILDING", "anchor": {"type": "Point", "coordinates": [12.0005, 55.0005]}}})"));
    EXPECT_NE(location, nullptr);
    return location;
}

CVDisplayRuleData roomRuleData() {
    CVDisplayRuleData data;
    data.wallsVisible = true;
    data.wallsZoomFrom = 16;
    data.wallsZoomTo = 22;
    data.wallsColor = platform::Color::fromHex("#808080");
    data.wallsHeight = 3;
    data.wallsLightnessFactor = 0.5;
    data.extrusionVisible = true;
    data.extrusionZoomFrom = 16;
    data.extrusionZoomTo = 22;
    data.extrusionColor = platform::Color::fromHex("#F0B866");
    data.extrusionHeight = 2.5;
    data.extrusionLightnessFactor = 0;
    return data;
}

// The entry object as far as these builders ask it.
class FakeEntry final : public CVEntryObjectSeam {
public:
    std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override {
        const auto found = locationRules.find(location.getLocationId());
        return found == locationRules.end() ? nullptr : found->second;
    }
    std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int rawType) const override {
        return rawType == 2 ? buildingRule : nullptr;
    }
    std::shared_ptr<const CVDerivedGeometryCollection> loadedDerivedGeometry() const override { return collection; }
    void parentOfLocation(const CVLocation& /*location*/,
                          std::function<void(std::shared_ptr<CVLocation>)> completion) const override {
        completion(parent);
    }

    std::map<std::string, std::shared_ptr<CVDisplayRule>> locationRules;
    std::shared_ptr<CVDisplayRule> buildingRule;
    std::shared_ptr<const CVDerivedGeometryCollection> collection;
    std::shared_ptr<CVLocation> parent;
};

class DerivedGeometryTest : public ::testing::Test {
protected:
    DerivedGeometryTest() { CVEntryObjectSeam::install(entry_); }
    ~DerivedGeometryTest() override {
        CVEntryObjectSeam::install(nullptr);
        platform::Screen::setScale(1);
    }

    void load(std::vector<std::shared_ptr<CVDerivedGeometry>> geometries) {
        entry_->collection = std::make_shared<const CVDerivedGeometryCollection>(geometries);
    }
    ViewModel built(const CVLocation& location, const CVDisplayRuleData& rule, double zoom,
                    DerivedGeometrySwitches switches = {}) {
        ViewModel model;
        model.id = location.getLocationId();
        buildDerivedGeometryFeatures(location, CVDisplayRule(rule), zoom, switches, model);
        return model;
    }
    std::optional<ViewModel> building(const CVLocation& location, std::optional<std::string> currentBuilding) {
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                      [&]() -> platform::Awaitable<std::optional<ViewModel>> {
                                          co_return co_await buildingViewModel(location, currentBuilding, 18, {});
                                      });
    }

    std::shared_ptr<FakeEntry> entry_ = std::make_shared<FakeEntry>();
};

TEST_F(DerivedGeometryTest, EachKindFillsItsSlotAndOtherKindsAreIgnored) {
    load({derived("r1", "wall"), derived("r1", "floorplan", true), derived("r1", "glass"), derived("r1", "Wall"),
          derived("r2", "extrusion")});
    const auto location = room("r1");
    const auto model = built(*location, roomRuleData(), 18);
    ASSERT_TRUE(model.wallExtrusion.has_value());
    ASSERT_TRUE(model.floorPlanExtrusion.has_value());
    EXPECT_FALSE(model.featureExtrusion.has_value());
    EXPECT_EQ(model.wallExtrusion->geometry().type(), GeoJsonGeometryType::Polygon);
    EXPECT_EQ(model.floorPlanExtrusion->geometry().type(), GeoJsonGeometryType::MultiPolygon);

    const auto& wall = model.wallExtrusion->properties();
    EXPECT_EQ(model.wallExtrusion->id(), "r1");
    // Half way from grey to white.
    EXPECT_EQ(std::get<std::string>(wall.at(CVModelPropertyKey::wallExtrusionColor)), "#C0C0C0");
    EXPECT_EQ(std::get<double>(wall.at(CVModelPropertyKey::wallExtrusionHeight)), 3);
    EXPECT_EQ(std::get<CVRenderedFeatureType>(wall.at(CVModelPropertyKey::type)), CVRenderedFeatureType::wallExtrusion);
    EXPECT_TRUE(std::get<bool>(wall.at(CVModelPropertyKey::clickable)));

    const auto other = built(*room("r2"), roomRuleData(), 18);
    ASSERT_TRUE(other.featureExtrusion.has_value());
    const auto& extrusion = other.featureExtrusion->properties();
    EXPECT_EQ(std::get<std::string>(extrusion.at(CVModelPropertyKey::featureExtrusionColor)), "#F0B866");
    EXPECT_EQ(std::get<double>(extrusion.at(CVModelPropertyKey::featureExtrusionHeight)), 2.5);
    EXPECT_EQ(std::get<CVRenderedFeatureType>(extrusion.at(CVModelPropertyKey::type)),
              CVRenderedFeatureType::featureExtrusion);
}

TEST_F(DerivedGeometryTest, AHiddenKindRemovesOnlyItsFeature) {
    load({derived("r1", "wall"), derived("r1", "floorplan"), derived("r1", "extrusion")});
    const auto location = room("r1");
    struct Case {
        std::vector<CVFeatureType> hidden;
        bool floorPlan;
        bool wall;
        bool extrusion;
    };
    const Case cases[] = {
        {{}, true, true, true},
        {{CVFeatureType::floorPlan}, false, true, true},
        {{CVFeatureType::walls}, true, false, true},
        {{CVFeatureType::extrusions}, true, true, false},
        {{CVFeatureType::model2D, CVFeatureType::model3D, CVFeatureType::buildings}, true, true, true},
    };
    for (const auto& testCase : cases) {
        const auto model = built(*location, roomRuleData(), 18, DerivedGeometrySwitches::hiding(testCase.hidden));
        EXPECT_EQ(model.floorPlanExtrusion.has_value(), testCase.floorPlan);
        EXPECT_EQ(model.wallExtrusion.has_value(), testCase.wall);
        EXPECT_EQ(model.featureExtrusion.has_value(), testCase.extrusion);
    }
}

TEST_F(DerivedGeometryTest, NothingBeforeASolutionHasLoaded) {
    const auto location = room("r1");
    auto model = built(*location, roomRuleData(), 18);
    EXPECT_FALSE(model.wallExtrusion || model.floorPlanExtrusion || model.featureExtrusion);
    CVEntryObjectSeam::install(nullptr);
    model = built(*location, roomRuleData(), 18);
    EXPECT_FALSE(model.wallExtrusion || model.floorPlanExtrusion || model.featureExtrusion);
}

TEST_F(DerivedGeometryTest, ExtrusionsNeedTheirZoomAndColour) {
    load({derived("r1", "wall"), derived("r1", "extrusion")});
    const auto location = room("r1");
    EXPECT_FALSE(built(*location, roomRuleData(), 15.9).wallExtrusion.has_value());
    auto data = roomRuleData();
    data.wallsColor.reset();
    data.extrusionColor.reset();
    const auto model = built(*location, data, 18);
    EXPECT_FALSE(model.wallExtrusion.has_value());
    EXPECT_FALSE(model.featureExtrusion.has_value());
    // Without a height the key is left out.
    data = roomRuleData();
    data.wallsHeight.reset();
    const auto noHeight = built(*location, data, 18);
    ASSERT_TRUE(noHeight.wallExtrusion.has_value());
    EXPECT_FALSE(noHeight.wallExtrusion->properties().contains(CVModelPropertyKey::wallExtrusionHeight));
}

TEST(FloorPlan, ShowsFromZoom15To999WithFixedColours) {
    const auto location = room("r1");
    const auto plan = derived("r1", "floorplan");
    for (const double zoom : {14.99, 15.0, 18.0, 999.0, 999.5}) {
        ViewModel model;
        buildFloorPlan(*location, zoom, *plan, model);
        EXPECT_EQ(model.floorPlanExtrusion.has_value(), zoom >= 15 && zoom <= 999) << zoom;
    }
    ViewModel model;
    buildFloorPlan(*location, 18, *plan, model);
    ASSERT_TRUE(model.floorPlanExtrusion.has_value());
    EXPECT_EQ(
        model.floorPlanExtrusion->toGeoJson().substr(model.floorPlanExtrusion->toGeoJson().find("\"properties\"")),
        R"("properties":{"floorPlanStrokeColor":"#6B7280","floorPlanStrokeColorAlpha":"#6B7280FF",)"
        R"("floorPlanStrokeWidth":1,"floorPlanStrokeOpacity":1,"floorPlanFillColor":"#FFFFFF",)"
        R"("floorPlanFillColorAlpha":"#FFFFFFFF","floorPlanFillOpacity":1,"type":"floorplan",)"
        R"("clickable":false}})");
    // A geometry that is not there leaves the slot as it was.
    CVDerivedGeometry empty;
    empty.type = "floorplan";
    ViewModel untouched;
    buildFloorPlan(*location, 18, empty, untouched);
    EXPECT_FALSE(untouched.floorPlanExtrusion.has_value());
}

std::shared_ptr<CVDisplayRule> buildingRule(bool visible = true) {
    CVDisplayRuleData data;
    data.visible = visible;
    data.polygonVisible = true;
    data.polygonZoomFrom = 10;
    data.polygonZoomTo = 22;
    data.polygonStrokeColor = platform::Color::fromRGBA(0x30 / 255.0, 0x71 / 255.0, 0xD9 / 255.0, 0.5);
    data.polygonStrokeWidth = 3;
    return std::make_shared<CVDisplayRule>(data);
}

TEST_F(DerivedGeometryTest, ABuildingsRuleDependsOnTheMapsBuildingAndItsParent) {
    const auto hall = room("hall");
    entry_->buildingRule = buildingRule();
    entry_->locationRules["hall"] = std::make_shared<CVDisplayRule>(CVDisplayRuleData{});
    const auto venue = room("venue-1");
    struct Case {
        const char* name;
        bool parentKnown;
        std::optional<std::string> currentBuilding;
        bool usesBuildingRule;
    };
    const Case cases[] = {
        {"parent, no current building", true, std::nullopt, false},
        {"parent, current building is the parent", true, "venue-1", true},
        {"parent, another current building", true, "other", false},
        {"no parent, no current building", false, std::nullopt, true},
        {"no parent, a current building", false, "venue-1", false},
    };
    for (const auto& testCase : cases) {
        entry_->parent = testCase.parentKnown ? venue : nullptr;
        const auto model = building(*hall, testCase.currentBuilding);
        ASSERT_TRUE(model.has_value()) << testCase.name;
        EXPECT_EQ(model->id, "hall");
        EXPECT_TRUE(model->isClickable);
        EXPECT_FALSE(model->marker.has_value());
        // Only the building rule draws the outline.
        EXPECT_EQ(model->polygon.has_value(), testCase.usesBuildingRule) << testCase.name;
    }
}

TEST_F(DerivedGeometryTest, TheOutlineIsUnfilledAndItsWidthInScreenPoints) {
    platform::Screen::setScale(3);
    const auto hall = room("hall");
    entry_->buildingRule = buildingRule(false);
    load({derived("hall", "floorplan")});
    // An invisible building rule is used all the same.
    const auto model = building(*hall, std::nullopt);
    ASSERT_TRUE(model.has_value());
    ASSERT_TRUE(model->polygon.has_value());
    EXPECT_TRUE(model->floorPlanExtrusion.has_value());
    const auto& outline = model->polygon->properties();
    EXPECT_EQ(std::get<double>(outline.at(CVModelPropertyKey::polygonFillOpacity)), 0.0);
    EXPECT_EQ(std::get<std::string>(outline.at(CVModelPropertyKey::polygonStrokeColor)), "#3071D9");
    EXPECT_EQ(std::get<std::string>(outline.at(CVModelPropertyKey::polygonStrokeColorAlpha)), "#3071D97F");
    EXPECT_EQ(std::get<double>(outline.at(CVModelPropertyKey::polygonStrokeOpacity)), 0.5);
    EXPECT_EQ(std::get<double>(outline.at(CVModelPropertyKey::polygonStrokeWidth)), 1.0);
    EXPECT_EQ(std::get<CVRenderedFeatureType>(outline.at(CVModelPropertyKey::type)), CVRenderedFeatureType::polygon);
    EXPECT_GT(std::get<double>(outline.at(CVModelPropertyKey::polygonArea)), 0);
    EXPECT_EQ(model->polygon->geometry().type(), GeoJsonGeometryType::Polygon);

    // Without a stroke colour there is no outline; without any rule no view model.
    auto data = entry_->buildingRule->data();
    data.polygonStrokeColor.reset();
    entry_->buildingRule = std::make_shared<CVDisplayRule>(data);
    const auto bare = building(*hall, std::nullopt);
    ASSERT_TRUE(bare.has_value());
    EXPECT_FALSE(bare->polygon.has_value());
    entry_->buildingRule = nullptr;
    EXPECT_FALSE(building(*hall, std::nullopt).has_value());
}

}  // namespace
}  // namespace ambrell::derived_geometry_features_test

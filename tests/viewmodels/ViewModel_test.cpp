#include <gtest/gtest.h>

#include <any>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/Image.h"
#include "viewmodels/ViewModel.h"

namespace ambrell::view_model_test {
namespace {

CVViewModelFeature pointFeature(const std::string& id, const std::string& label) {
    return CVViewModelFeature("Feature", id, {{CVModelPropertyKey::markerLabel, label}},
                              CVViewModelFeatureGeometry(GeoJsonGeometryType::Point, CVPoint(55.6761, 12.5683)));
}

ViewModel locationModel(const std::string& id) {
    ViewModel model;
    model.id = id;
    model.marker = pointFeature(id, "Room");
    model.data[CVModelData::icon] = platform::Image::create(2, 2).value();
    model.showInfoWindow = true;
    model.isClickable = true;
    return model;
}

TEST(ViewModel, IdentityIsTheIdAlone) {
    const auto full = locationModel("room-1");
    ViewModel bare;
    bare.id = "room-1";
    EXPECT_EQ(full, bare);
    EXPECT_EQ(std::hash<ViewModel>()(full), std::hash<ViewModel>()(bare));

    // Everything else the same, another id.
    auto other = locationModel("room-1");
    other.id = "room-2";
    EXPECT_FALSE(full == other);

    // Sets and maps keep the first view model of an id.
    std::unordered_set<ViewModel> models = {full, bare, other};
    EXPECT_EQ(models.size(), 2u);
    EXPECT_TRUE(models.find(bare)->marker.has_value());
    std::unordered_map<ViewModel, int> counts;
    ++counts[full];
    ++counts[bare];
    EXPECT_EQ(counts.at(full), 2);
}

TEST(ViewModel, EveryFeatureAbsentIsAValidValue) {
    ViewModel model;
    model.id = "building";
    for (const auto* slot : {&model.marker, &model.polygon, &model.polyline, &model.model2D, &model.model3D,
                             &model.wallExtrusion, &model.floorPlanExtrusion, &model.featureExtrusion}) {
        EXPECT_FALSE(slot->has_value());
    }
    EXPECT_TRUE(model.data.empty());
    EXPECT_FALSE(model.showInfoWindow);
    EXPECT_FALSE(model.isClickable);
}

TEST(ViewModel, CopiesAreIndependent) {
    const auto original = locationModel("room-1");
    auto copy = original;
    copy.marker->properties()[CVModelPropertyKey::markerLabel] = "Renamed";
    copy.polygon = pointFeature("room-1", "Outline");
    std::any_cast<platform::Image&>(copy.data[CVModelData::icon]).setPixel(0, 0, 0xFF00FF00);
    copy.data.erase(CVModelData::icon);
    copy.isClickable = false;

    EXPECT_EQ(original.marker->toGeoJson(), pointFeature("room-1", "Room").toGeoJson());
    EXPECT_FALSE(original.polygon.has_value());
    ASSERT_TRUE(original.data.contains(CVModelData::icon));
    EXPECT_EQ(std::any_cast<const platform::Image&>(original.data.at(CVModelData::icon)).pixel(0, 0), 0u);
    EXPECT_TRUE(original.isClickable);
    // Still the same object on the map.
    EXPECT_EQ(original, copy);
}

TEST(ViewModel, DataKeyMayHoldNoValue) {
    ViewModel model;
    model.id = "room-1";
    model.data[CVModelData::model3D];
    EXPECT_TRUE(model.data.contains(CVModelData::model3D));
    EXPECT_FALSE(model.data.at(CVModelData::model3D).has_value());
    EXPECT_FALSE(model.data.contains(CVModelData::icon));
}

}  // namespace
}  // namespace ambrell::view_model_test

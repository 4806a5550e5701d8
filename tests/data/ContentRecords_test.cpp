#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "data/CVBuildingInfo.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVUrlResourceCollection.h"
#include "tests/data/LocationDocuments.h"

namespace ambrell {
namespace {

TEST(DerivedGeometry, BuildsPolygonsAndKeepsOtherGeometriesAsTheyCame) {
    const auto list = CVDerivedGeometry::arrayOfModelsFromDictionaries(test::document("derivedGeometry.json"));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 7u);
    const auto& floorplan = *list->at(0);
    EXPECT_EQ(floorplan.geodataType, "room");
    ASSERT_NE(floorplan.cvGeometry, nullptr);
    EXPECT_EQ(floorplan.cvGeometry->geometryType(), "MultiPolygon");

    const auto& point = *list->at(4);
    ASSERT_TRUE(point.geometry);
    EXPECT_EQ(point.geometry->at("type"), "Point");
    EXPECT_EQ(point.cvGeometry, nullptr);
    EXPECT_NE(list->at(1)->copy(), nullptr);
}

TEST(DerivedGeometry, CollectionFilesFloorPlansWallsAndExtrusions) {
    const auto list = CVDerivedGeometry::arrayOfModelsFromDictionaries(test::document("derivedGeometry.json"));
    ASSERT_TRUE(list);
    const CVDerivedGeometryCollection collection(*list);
    EXPECT_EQ(collection.floor().size(), 1u);
    EXPECT_EQ(collection.extrusions().size(), 1u);
    EXPECT_TRUE(collection.glass().empty());
    // L2's second wall replaces its first; the wall without a location id is not filed.
    ASSERT_EQ(collection.walls().size(), 2u);
    EXPECT_EQ(collection.walls().at("L2"), list->at(5));

    const auto forL1 = collection.getDerivedGeometriesForLocationId("L1");
    EXPECT_EQ(forL1, (std::vector<std::shared_ptr<CVDerivedGeometry>>{list->at(0), list->at(1), list->at(2)}));
    EXPECT_EQ(collection.getDerivedGeometriesForLocationId("L2").size(), 1u);
    EXPECT_TRUE(collection.getDerivedGeometriesForLocationId("nowhere").empty());

    CVDerivedGeometryCollection withGlass(*list);
    withGlass.setGlass({{"L1", list->at(3)}});
    EXPECT_EQ(withGlass.getDerivedGeometriesForLocationId("L1").size(), 3u);
}

TEST(UrlResources, GroupsAreCanonicalisedAndFiledByType) {
    const auto collection = CVUrlResourceCollection::initWithJsonValue(boost::json::parse(R"({
        "id": "ds-1", "name": "Harbour", "totalEstimatedSize": 123456.9,
        "resources": [
            {"type": "Images", "urls": ["a", 3, "b"]},
            {"type": "JSON", "urls": ["first"], "estimatedSize": 10},
            {"type": "json", "urls": ["second"], "estimatedSize": "20"},
            {"type": "Sprites", "urls": "none", "estimatedSize": 1e30},
            {"type": 5, "urls": []},
            "not a group"
        ]})"));
    ASSERT_TRUE(collection);
    EXPECT_EQ(collection->datasetId(), "ds-1");
    EXPECT_EQ(collection->name(), "Harbour");
    EXPECT_EQ(collection->totalEstimatedSize(), 123456);

    const auto& resources = collection->resources();
    EXPECT_EQ(resources.size(), 3u);
    const auto& images = resources.at("images");
    EXPECT_EQ(images.urls(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(images.estimatedSize(), 0);
    EXPECT_EQ(resources.at("json").urls(), std::vector<std::string>{"second"});
    EXPECT_EQ(resources.at("json").estimatedSize(), 0);
    EXPECT_EQ(resources.at("Sprites").urls(), std::nullopt);
    EXPECT_EQ(resources.at("Sprites").estimatedSize(), std::numeric_limits<std::int64_t>::max());

    EXPECT_EQ(CVUrlResourceCollection::initWithJsonValue(boost::json::parse("[1]")), std::nullopt);
    EXPECT_EQ(CVUrlResourceGroup::initWithJsonValue(boost::json::parse("\"tiles\"")), std::nullopt);
    EXPECT_EQ(CVUrlResourceGroup(std::string("ExternalImages"), std::nullopt, 7).type(), "externalimages");
}

TEST(BuildingInfo, RequiresNameAndAliases) {
    EXPECT_NE(CVBuildingInfo::fromString(R"({"name": "North", "aliases": ["N"]})"), nullptr);
    EXPECT_EQ(CVBuildingInfo::fromString(R"({"name": "North"})"), nullptr);
    EXPECT_EQ(CVBuildingInfo::fromString(R"({"aliases": []})"), nullptr);
}

}  // namespace
}  // namespace ambrell

#include <gtest/gtest.h>

#include "data/CVAXGeometry.h"
#include "data/CVLanguageSupport.h"
#include "data/CVLocationInternal.h"
#include "foundation/CVInternalStringUtils.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using test::locationFrom;

class CVLocationSearchRecord : public test::ContainerFixture {};

TEST_F(CVLocationSearchRecord, CarriesIdsTextsAliasesGroupsAndFloor) {
    auto dataset = CVLocationDataset::fromString(test::documentText("locations.json"));
    ASSERT_NE(dataset, nullptr);
    const auto& poi = dataset->list->front();
    const AXLocation record = poi->axLocation();

    EXPECT_EQ(record.locationId, CVInternalStringUtils::hashOf("poi-1"));
    EXPECT_EQ(record.parentId, CVInternalStringUtils::hashOf(""));  // nothing registered yet
    EXPECT_EQ(record.aliases, (std::vector<std::string>{"foo", "bar", "baz"}));
    const std::vector<std::int32_t> groups{CVInternalStringUtils::hashOf("FOOD"),
                                           CVInternalStringUtils::hashOf("DRINK")};
    EXPECT_EQ(record.groups, groups);
    EXPECT_EQ(record.typeId, CVInternalStringUtils::hashOf("cafe"));
    EXPECT_EQ(record.altitude, 20.0f);
    EXPECT_EQ(record.sourceId, 0);
    EXPECT_TRUE(record.isIndoor);
    EXPECT_EQ(record.properties, (std::vector<AXTextProperty>{{"en", "name", "Cafe\nNorth"},
                                                               {"en", "externalid", "X-1"},
                                                               {"en", "email", "cafe@example.com"}}));
    EXPECT_EQ(record.geometry, axGeometry(CVPoint(55.7, 12.5)));

    // A polygon's record spans its bounding box around the anchor.
    const AXLocation room = dataset->list->at(1)->axLocation();
    EXPECT_EQ(room.geometry.position, AXCoordinate::CoordinateWithLat(55.0005, 12.001));
    EXPECT_EQ(room.geometry.bounds, AXCoordinateBounds::CoordinateBoundsWithNortheast({55.001, 12.002}, {55.0, 12.0}));
    EXPECT_EQ(room.properties.size(), 2u);
    EXPECT_EQ(room.properties[1], (AXTextProperty{"en", "externalid", ""}));
}

TEST_F(CVLocationSearchRecord, TextsAreInTheContentLanguage) {
    ASSERT_TRUE(CVLanguageSupport::ax_setLanguage("da"));
    CVLocationInternal location;
    EXPECT_EQ(location.axLocation().properties.front().language, "da");
}

TEST_F(CVLocationSearchRecord, StatusFollowsGeodataBitsAndActivity) {
    struct Row {
        std::optional<std::uint32_t> geodata;
        bool withinWindow;
        std::uint32_t record;
    };
    const Row table[] = {
        {std::nullopt, true, 3}, {std::nullopt, false, 7}, {1, true, 1}, {1, false, 5},
        {3, true, 3},            {2, true, 0},             {0, true, 0},
    };
    for (const auto& row : table) {
        CVLocationInternal location;
        if (row.geodata) location.cv_setGeoDataStatus(*row.geodata);
        if (!row.withinWindow) location.activeFrom = 4102444800.0;  // 2100
        EXPECT_EQ(location.axLocation().status, row.record)
            << row.geodata.value_or(99) << " within window " << row.withinWindow;
    }
}

TEST_F(CVLocationSearchRecord, BaseTypesMapThroughTheSearchTable) {
    const std::pair<const char*, std::int64_t> table[] = {{"POI", 0},      {"AREA", 0},  {"ROOM", 1},
                                                          {"FLOOR", 3},    {"BUILDING", 4}, {"VENUE", 5},
                                                          {"SOMETHING", 0}};
    for (const auto& [text, expected] : table) {
        CVLocationInternal location;
        location.locationBaseTypeString = text;
        EXPECT_EQ(location.axLocation().baseType, expected) << text;
    }
}

TEST_F(CVLocationSearchRecord, MultiPolygonBoundsAndZeroGeometry) {
    CVLocationInternal floor;
    floor.cv_setMultiPolygon(std::make_shared<CVMultiPolygonGeometry>(std::vector<CVPolygonGeometry>{
        CVPolygonGeometry({{{10, 20}, {11, 21}, {10, 21}}}), CVPolygonGeometry({{{-1, 30}, {0, 30}, {0, 31}}})}));
    floor.setPosition(CVPoint(5, 6, 1));
    const AXLocation record = floor.axLocation();
    EXPECT_EQ(record.geometry.position, AXCoordinate::CoordinateWithLat(5, 6));
    EXPECT_EQ(record.geometry.bounds, AXCoordinateBounds::CoordinateBoundsWithNortheast({11, 31}, {-1, 20}));
    EXPECT_EQ(floor.coordinateBounds(), CVGeoBounds({-1, 20}, {11, 31}));

    EXPECT_EQ(AXGeometryZero(), AXGeometry::GeometryWithPosition({0, 0}, {{0, 0}, {0, 0}}));
}

}  // namespace
}  // namespace ambrell

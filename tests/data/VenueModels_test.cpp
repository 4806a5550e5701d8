#include <gtest/gtest.h>

#include <thread>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "data/CVBuildingCollection.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVVenueInternal.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell {
namespace {

using test::document;

boost::json::value venueDocument() { return document("venues.json").as_array().at(0); }
boost::json::value buildingDocument() { return document("buildings.json").at("buildings").as_array().at(0); }

class VenueModels : public ::testing::Test {
protected:
    ~VenueModels() override {
        CVLocationSourceIndex::clear();
        CVVenueInternal::resetForTesting();
    }
    test::ScopedLogCapture log_;
};

TEST_F(VenueModels, VenueReadsEveryKeyAndIgnoresDerivedOnes) {
    const auto venue = CVVenueInternal::fromDictionary(venueDocument());
    ASSERT_NE(venue, nullptr);
    EXPECT_EQ(venue->venueId, "v-harbour");
    EXPECT_EQ(venue->name, "Harbour\nCampus");
    EXPECT_EQ(venue->administrativeId, "HARBOUR");
    ASSERT_NE(venue->venueInfo, nullptr);
    EXPECT_EQ(*venue->venueInfo, (CVEntityInfo{"Harbour\\nCampus", {"Docks"}}));
    ASSERT_EQ(venue->properties.count("website"), 1u);
    EXPECT_EQ(venue->properties.at("website")->value, "https://example.org");
    EXPECT_EQ(venue->defaultFloor, 1);
    EXPECT_EQ(venue->graphId, "HARBOUR_GRAPH");
    ASSERT_TRUE(venue->anchor);
    EXPECT_EQ(venue->anchor->coordinate(), (CLLocationCoordinate2D{55.25, 10.25}));
    ASSERT_NE(venue->geometry(), nullptr);

    // The unreadable entry point between two good ones is skipped.
    ASSERT_EQ(venue->entryPoints.size(), 2u);
    EXPECT_EQ(venue->entryPoints[1]->coordinate(), (CLLocationCoordinate2D{55.4, 10.5}));

    const auto bounds = venue->boundingBox();
    ASSERT_TRUE(bounds);
    EXPECT_EQ(bounds->southWest(), (CLLocationCoordinate2D{55.0, 10.0}));
    EXPECT_EQ(bounds->northEast(), (CLLocationCoordinate2D{55.5, 10.5}));

    // "hasGraph" in the document is not read: only the venue handler knows.
    EXPECT_FALSE(venue->hasGraph());
    CVVenueInternal::setGraphDeterminer([](const CVVenueInternal& v) { return v.graphId.has_value(); });
    EXPECT_TRUE(venue->hasGraph());
    EXPECT_NE(venue->copy(), nullptr);
}

TEST_F(VenueModels, VenueRequiresIdAndInfoAndEveryStyle) {
    for (const char* key : {"id", "venueInfo"}) {
        SCOPED_TRACE(key);
        auto input = venueDocument();
        input.get_object().erase(key);
        EXPECT_EQ(CVVenueInternal::fromDictionary(input), nullptr);
    }
    auto badStyle = venueDocument();
    badStyle.get_object()["styles"] = boost::json::parse(R"([{"folder": "dark"}])");
    EXPECT_EQ(CVVenueInternal::fromDictionary(badStyle), nullptr);

    const auto bare = CVVenueInternal::fromString(R"({"id": "v", "venueInfo": {}, "geometry": {"bbox": [1, 2]}})");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->boundingBox(), std::nullopt);
    EXPECT_EQ(bare->defaultStyle(), nullptr);
    EXPECT_EQ(bare->geometry(), nullptr);
}

TEST_F(VenueModels, DefaultStylePrefersTheOverrideIgnoringCase) {
    auto venue = CVVenueInternal::fromDictionary(venueDocument());
    ASSERT_NE(venue, nullptr);
    EXPECT_EQ(venue->defaultStyle()->getDisplayName(), "Dark");
    EXPECT_EQ(venue->getMapStyleOverride()->getDisplayName(), "Night");

    venue->setMapStyleOverride(nullptr);
    EXPECT_EQ(venue->defaultStyle()->getFolder(), "Default");

    auto other = std::make_shared<CVMapStyleInternal>();
    other->folder = "satellite";
    venue->setMapStyleOverride(other);
    EXPECT_EQ(venue->defaultStyle()->getFolder(), "Default");

    auto input = venueDocument();
    input.get_object().erase("styleOverride");
    input.get_object()["mapStyleOverride"] = boost::json::parse(R"({"folder": "d*", "displayName": "D"})");
    venue = CVVenueInternal::fromDictionary(input);
    ASSERT_NE(venue, nullptr);
    EXPECT_EQ(venue->defaultStyle()->getFolder(), "Default");
}

TEST_F(VenueModels, VenueLocationAndItsReadableId) {
    const auto venue = CVVenueInternal::fromDictionary(venueDocument());
    ASSERT_NE(venue, nullptr);
    venue->cv_setGeoDataStatus(1);
    const auto location = venue->getLocationObject();
    EXPECT_NE(location, venue->getLocationObject());
    EXPECT_EQ(location->locationId, "v-harbour");
    EXPECT_EQ(location->name, "Harbour\nCampus");
    EXPECT_EQ(location->type, "VENUE");
    EXPECT_EQ(location->baseType(), CVLocationBaseType::venue);
    EXPECT_EQ(location->aliases, std::vector<std::string>{"harbour"});
    EXPECT_EQ(location->externalId, "ext-harbour");
    EXPECT_EQ(location->venue, "harbour");
    EXPECT_EQ(location->getFloorIndex(), 0);
    EXPECT_EQ(location->categories, std::vector<std::string>{"VENUE"});
    EXPECT_EQ(location->getPosition().coordinate(), (CLLocationCoordinate2D{55.25, 10.25}));
    ASSERT_NE(location->cv_polygon(), nullptr);
    EXPECT_EQ(location->cv_polygon()->coordinates(), venue->geometry()->coordinates());
    EXPECT_EQ(location->fields.count("website"), 1u);
    EXPECT_EQ(location->cv_geoDataStatus(), 1u);
    EXPECT_EQ(CVLocationSourceIndex::current()->parentIdForReadableId("ax_v_harbour"), "v-harbour");
}

TEST_F(VenueModels, BuildingReadsFloorsAndNumbersThemByKey) {
    const auto building = CVBuildingInternal::fromDictionary(buildingDocument());
    ASSERT_NE(building, nullptr);
    EXPECT_EQ(building->buildingId, "b-north");
    EXPECT_EQ(building->name, "North\nHouse");
    EXPECT_EQ(building->properties.at("phone")->value, "+45 1234");
    EXPECT_EQ(building->address, "1 Dock Road");
    EXPECT_EQ(building->venueId, "v-harbour");
    EXPECT_EQ(building->cv_geoDataStatus(), 1u);
    ASSERT_EQ(building->floors.size(), 2u);
    EXPECT_EQ(building->floors.at("0")->floorIndex, 0);
    EXPECT_EQ(building->floors.at("1")->floorIndex, 5);
    EXPECT_EQ(building->floors.at("0")->aliases, std::vector<std::string>{"G"});

    const auto bounds = building->boundingBox();
    ASSERT_TRUE(bounds);
    EXPECT_EQ(bounds->southWest(), (CLLocationCoordinate2D{55.1, 10.1}));
    EXPECT_EQ(bounds->northEast(), (CLLocationCoordinate2D{55.3, 10.3}));
}

TEST_F(VenueModels, BuildingKeepsOnlyAPolygonOutline) {
    auto input = buildingDocument();
    input.get_object()["geometry"] = boost::json::parse(R"({"type": "Point", "coordinates": [10, 55]})");
    const auto building = CVBuildingInternal::fromDictionary(input);
    ASSERT_NE(building, nullptr);
    EXPECT_EQ(building->geometry(), nullptr);
    EXPECT_EQ(building->boundingBox(), std::nullopt);
}

TEST_F(VenueModels, BuildingAndFloorLocationsAreMadeOnceAndRegistered) {
    const auto building = CVBuildingInternal::fromDictionary(buildingDocument());
    ASSERT_NE(building, nullptr);
    const auto locations = building->getLocationsForBuildingAndFloors();
    EXPECT_EQ(building->getLocationsForBuildingAndFloors(), locations);
    EXPECT_EQ(building->asLocationObject(), locations.at(0));
    ASSERT_EQ(locations.size(), 3u);

    const auto& house = *locations[0];
    EXPECT_EQ(house.locationId, "b-north");
    EXPECT_EQ(house.type, "BUILDING");
    EXPECT_EQ(house.baseType(), CVLocationBaseType::building);
    EXPECT_EQ(house.aliases, std::vector<std::string>{"north-1"});
    EXPECT_EQ(house.getFloorIndex(), 0);
    EXPECT_EQ(house.categories, std::vector<std::string>{"BUILDING"});
    ASSERT_EQ(house.fields.count("address"), 1u);
    EXPECT_EQ(house.fields.at("address")->type, "text");
    EXPECT_EQ(house.fields.at("address")->text, "address");
    EXPECT_EQ(house.fields.at("address")->value, "1 Dock Road");
    EXPECT_EQ(house.fields.count("phone"), 1u);
    EXPECT_NE(house.cv_polygon(), nullptr);
    EXPECT_EQ(house.cv_geoDataStatus(), 1u);

    const auto& roof = *locations[2];
    EXPECT_EQ(roof.locationId, "f-north-5");
    EXPECT_EQ(roof.name, "Roof");
    EXPECT_EQ(roof.type, "FLOOR");
    EXPECT_EQ(roof.baseType(), CVLocationBaseType::floor);
    EXPECT_EQ(roof.building, "north-1");
    EXPECT_EQ(roof.getFloorIndex(), 5);
    EXPECT_EQ(roof.getPosition().z(), 5);
    EXPECT_EQ(roof.categories, std::vector<std::string>{"FLOOR"});
    EXPECT_NE(roof.cv_multiPolygon(), nullptr);
    // The floor read inside its building keeps its own status.
    EXPECT_EQ(roof.cv_geoDataStatus(), 0u);
    EXPECT_EQ(locations[1]->aliases, std::vector<std::string>{"G"});

    const auto index = CVLocationSourceIndex::current();
    EXPECT_EQ(index->parentIdForReadableId("ax_b_north-1"), "b-north");
    EXPECT_EQ(index->parentIdForReadableId("north-1-0"), "f-north-0");
    EXPECT_EQ(index->parentIdForReadableId("north-1-5"), "f-north-5");

    // A room on the roof now finds its floor as its parent.
    const auto room = test::locationFrom(
        R"({"id": "r", "geometry": {"type": "Point", "coordinates": [10.2, 55.2]},
            "properties": {"building": "NORTH-1", "floor": 5, "locationType": "ROOM"}})");
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(room->parentId(), "f-north-5");
}

TEST_F(VenueModels, ConcurrentFirstReadersShareOneResult) {
    const auto building = CVBuildingInternal::fromDictionary(buildingDocument());
    ASSERT_NE(building, nullptr);
    constexpr int kReaders = 8;
    std::vector<std::vector<std::shared_ptr<CVLocationInternal>>> seen(kReaders);
    std::vector<std::optional<CVGeoBounds>> bounds(kReaders);
    {
        std::vector<std::jthread> readers;
        for (int i = 0; i < kReaders; ++i) {
            readers.emplace_back([&, i] {
                bounds[i] = building->boundingBox();
                seen[i] = building->getLocationsForBuildingAndFloors();
            });
        }
    }
    for (int i = 1; i < kReaders; ++i) {
        EXPECT_EQ(seen[i], seen[0]);
        EXPECT_EQ(bounds[i], bounds[0]);
    }
}

TEST_F(VenueModels, FloorNeedsIdNameAndAnOutline) {
    const auto floor = CVFloorInternal::fromString(
        R"({"id": "f", "name": "F", "style": "s", "buildingId": "b",
            "geometry": {"type": "Polygon", "coordinates": [[[0, 0], [1, 0], [1, 1], [0, 0]]]}})");
    ASSERT_NE(floor, nullptr);
    EXPECT_EQ(floor->floorIndex, std::nullopt);
    EXPECT_EQ(floor->style, "s");
    EXPECT_EQ(floor->buildingId, "b");

    const char* withoutGeometry = R"({"id": "f", "name": "F"})";
    EXPECT_EQ(CVFloorInternal::fromString(withoutGeometry), nullptr);
    EXPECT_TRUE(log_.sink().contains("-[CVFloorInternal initWithDictionary:error:] [E] Failed to construct CVFloor "
                                     R"(from dict: {"id":"f","name":"F"})"));

    const char* pointOutline = R"({"id": "f", "name": "F", "geometry": {"type": "Point", "coordinates": [0, 0]}})";
    EXPECT_EQ(CVFloorInternal::fromString(pointOutline), nullptr);
    // A caller asking for the error gets the fields' verdict alone.
    CVFloorInternal asked;
    std::optional<JSONModelError> error;
    EXPECT_TRUE(asked.initWithString(pointOutline, &error));
    EXPECT_EQ(asked.cv_effectiveGeometry(), nullptr);

    for (const char* missing : {R"({"name": "F", "geometry": {}})", R"({"id": "f", "geometry": {}})"}) {
        CVFloorInternal model;
        std::optional<JSONModelError> missingError;
        EXPECT_FALSE(model.initWithString(missing, &missingError));
        EXPECT_TRUE(missingError);
    }
}

TEST_F(VenueModels, FloorWithoutOutlineRefusesItsBuilding) {
    auto input = buildingDocument();
    input.at("floors").at("0").as_object().erase("geometry");
    EXPECT_EQ(CVBuildingInternal::fromDictionary(input), nullptr);
}

TEST_F(VenueModels, BuildingCollectionReadsObjectsAndBareArrays) {
    const std::string list = boost::json::serialize(document("buildings.json").at("buildings"));
    struct Case {
        std::string data;
        bool read;
    };
    for (const Case& c : {Case{test::documentText("buildings.json"), true}, Case{list, true}, Case{"42", false},
                          Case{"{not json", false}}) {
        SCOPED_TRACE(c.data.substr(0, 20));
        CVBuildingCollection collection;
        const std::span bytes(reinterpret_cast<const std::uint8_t*>(c.data.data()), c.data.size());
        EXPECT_EQ(collection.initWithData(bytes), c.read);
        if (c.read) {
            EXPECT_EQ(collection.buildings.size(), 1u);
        }
    }
}

}  // namespace
}  // namespace ambrell

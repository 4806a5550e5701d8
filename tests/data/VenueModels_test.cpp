#include <gtest/gtest.h>

#include <thread>
#include <tuple>

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
using Texts = std::vector<std::string>;

boost::json::value venueDocument() { return document("venues.json").as_array().at(0); }
boost::json::value buildingDocument() { return document("buildings.json").at("buildings").as_array().at(0); }

class VenueModels : public ::testing::Test {
protected:
    void SetUp() override {
        venue_ = CVVenueInternal::fromDictionary(venueDocument());
        building_ = CVBuildingInternal::fromDictionary(buildingDocument());
        ASSERT_NE(venue_, nullptr);
        ASSERT_NE(building_, nullptr);
    }
    ~VenueModels() override {
        CVLocationSourceIndex::clear();
        CVVenueInternal::resetForTesting();
    }
    test::ScopedLogCapture log_;
    std::shared_ptr<CVVenueInternal> venue_;
    std::shared_ptr<CVBuildingInternal> building_;
};

TEST_F(VenueModels, VenueReadsEveryKeyAndIgnoresDerivedOnes) {
    EXPECT_EQ(std::tie(venue_->venueId, venue_->name, venue_->administrativeId, venue_->defaultFloor, venue_->graphId),
              std::tuple("v-harbour", "Harbour\nCampus", "HARBOUR", 1, "HARBOUR_GRAPH"));
    ASSERT_NE(venue_->venueInfo, nullptr);
    EXPECT_EQ(*venue_->venueInfo, (CVEntityInfo{"Harbour\\nCampus", {"Docks"}}));
    ASSERT_EQ(venue_->properties.count("website"), 1u);
    EXPECT_EQ(venue_->properties.at("website")->value, "https://example.org");
    ASSERT_TRUE(venue_->anchor);
    EXPECT_EQ(venue_->anchor->coordinate(), (CLLocationCoordinate2D{55.25, 10.25}));
    ASSERT_NE(venue_->geometry(), nullptr);

    // The unreadable entry point between two good ones is skipped.
    ASSERT_EQ(venue_->entryPoints.size(), 2u);
    EXPECT_EQ(venue_->entryPoints[1]->coordinate(), (CLLocationCoordinate2D{55.4, 10.5}));

    EXPECT_EQ(venue_->boundingBox(), CVGeoBounds({55.0, 10.0}, {55.5, 10.5}));

    // "hasGraph" in the document is not read: only the venue handler knows.
    EXPECT_FALSE(venue_->hasGraph());
    CVVenueInternal::setGraphDeterminer([](const CVVenueInternal& v) { return v.graphId.has_value(); });
    EXPECT_TRUE(venue_->hasGraph());
    EXPECT_NE(venue_->copy(), nullptr);
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
    auto venue = venue_;
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
    venue_->cv_setGeoDataStatus(1);
    const auto location = venue_->getLocationObject();
    EXPECT_NE(location, venue_->getLocationObject());
    EXPECT_EQ(std::tie(location->locationId, location->name, location->type, location->externalId, location->venue),
              std::tuple("v-harbour", "Harbour\nCampus", "VENUE", "ext-harbour", "harbour"));
    EXPECT_EQ(location->baseType(), CVLocationBaseType::venue);
    EXPECT_EQ(std::tie(location->aliases, location->categories), std::tuple(Texts{"harbour"}, Texts{"VENUE"}));
    EXPECT_EQ(location->getFloorIndex(), 0);
    EXPECT_EQ(location->getPosition().coordinate(), (CLLocationCoordinate2D{55.25, 10.25}));
    ASSERT_NE(location->cv_polygon(), nullptr);
    EXPECT_EQ(location->cv_polygon()->coordinates(), venue_->geometry()->coordinates());
    EXPECT_EQ(location->fields.count("website"), 1u);
    EXPECT_EQ(location->cv_geoDataStatus(), 1u);
    EXPECT_EQ(CVLocationSourceIndex::current()->parentIdForReadableId("ax_v_harbour"), "v-harbour");
}

TEST_F(VenueModels, BuildingReadsFloorsAndNumbersThemByKeyAndKeepsOnlyAPolygonOutline) {
    EXPECT_EQ(std::tie(building_->buildingId, building_->name, building_->address, building_->venueId),
              std::tuple("b-north", "North\nHouse", "1 Dock Road", "v-harbour"));
    EXPECT_EQ(building_->properties.at("phone")->value, "+45 1234");
    EXPECT_EQ(building_->cv_geoDataStatus(), 1u);
    ASSERT_EQ(building_->floors.size(), 2u);
    EXPECT_EQ(building_->floors.at("0")->floorIndex, 0);
    EXPECT_EQ(building_->floors.at("1")->floorIndex, 5);
    EXPECT_EQ(building_->floors.at("0")->aliases, Texts{"G"});
    EXPECT_EQ(building_->boundingBox(), CVGeoBounds({55.1, 10.1}, {55.3, 10.3}));

    // Only a polygon outline is kept.
    auto input = buildingDocument();
    input.get_object()["geometry"] = boost::json::parse(R"({"type": "Point", "coordinates": [10, 55]})");
    const auto pointOutline = CVBuildingInternal::fromDictionary(input);
    ASSERT_NE(pointOutline, nullptr);
    EXPECT_EQ(pointOutline->geometry(), nullptr);
    EXPECT_EQ(pointOutline->boundingBox(), std::nullopt);

    // A floor without an outline refuses its building.
    input = buildingDocument();
    input.at("floors").at("0").as_object().erase("geometry");
    EXPECT_EQ(CVBuildingInternal::fromDictionary(input), nullptr);
}

TEST_F(VenueModels, BuildingAndFloorLocationsAreMadeOnceAndRegistered) {
    const auto locations = building_->getLocationsForBuildingAndFloors();
    EXPECT_EQ(building_->getLocationsForBuildingAndFloors(), locations);
    EXPECT_EQ(building_->asLocationObject(), locations.at(0));
    ASSERT_EQ(locations.size(), 3u);

    const auto& house = *locations[0];
    EXPECT_EQ(std::tie(house.locationId, house.type, house.aliases, house.categories),
              std::tuple("b-north", "BUILDING", Texts{"north-1"}, Texts{"BUILDING"}));
    EXPECT_EQ(house.baseType(), CVLocationBaseType::building);
    EXPECT_EQ(house.getFloorIndex(), 0);
    ASSERT_EQ(house.fields.count("address"), 1u);
    const auto& address = *house.fields.at("address");
    EXPECT_EQ(std::tie(address.type, address.text, address.value), std::tuple("text", "address", "1 Dock Road"));
    EXPECT_EQ(house.fields.count("phone"), 1u);
    EXPECT_NE(house.cv_polygon(), nullptr);
    EXPECT_EQ(house.cv_geoDataStatus(), 1u);

    const auto& roof = *locations[2];
    EXPECT_EQ(std::tie(roof.locationId, roof.name, roof.type, roof.building, roof.categories),
              std::tuple("f-north-5", "Roof", "FLOOR", "north-1", Texts{"FLOOR"}));
    EXPECT_EQ(roof.baseType(), CVLocationBaseType::floor);
    EXPECT_EQ(std::tuple(roof.getFloorIndex(), roof.getPosition().z()), std::tuple(5, 5));
    EXPECT_NE(roof.cv_multiPolygon(), nullptr);
    // The floor read inside its building keeps its own status.
    EXPECT_EQ(roof.cv_geoDataStatus(), 0u);
    EXPECT_EQ(locations[1]->aliases, Texts{"G"});

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
    constexpr int kReaders = 8;
    std::vector<std::vector<std::shared_ptr<CVLocationInternal>>> seen(kReaders);
    std::vector<std::optional<CVGeoBounds>> bounds(kReaders);
    {
        std::vector<std::jthread> readers;
        for (int i = 0; i < kReaders; ++i) {
            readers.emplace_back([&, i] {
                bounds[i] = building_->boundingBox();
                seen[i] = building_->getLocationsForBuildingAndFloors();
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
    EXPECT_EQ(std::tie(floor->style, floor->buildingId), std::tuple("s", "b"));

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

TEST_F(VenueModels, BuildingCollectionReadsObjectsAndBareArrays) {
    const std::string list = boost::json::serialize(document("buildings.json").at("buildings"));
    for (const auto& [data, read] : {std::pair(test::documentText("buildings.json"), true), {list, true},
                                     {std::string("42"), false}, {std::string("{not json"), false}}) {
        SCOPED_TRACE(data.substr(0, 20));
        CVBuildingCollection collection;
        EXPECT_EQ(collection.initWithData(test::bytes(data)), read);
        EXPECT_EQ(collection.buildings.size(), read ? 1u : 0u);
    }
}

}  // namespace
}  // namespace ambrell

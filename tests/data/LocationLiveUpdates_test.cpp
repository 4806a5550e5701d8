// Locations derived from others (copies, host location updates) and the live
// updates a location keeps per domain.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <fmt/format.h>

#include <thread>

#include "data/AmbrellLegacy.h"
#include "data/CVLocationInternal.h"
#include "data/CVLocationUpdateInternal.h"
#include "data/CVModelCache.h"
#include "data/CVVenueCollection.h"
#include "data/CVVenueProvider.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;
using Clock = std::chrono::system_clock;

const Clock::time_point kT0 = Clock::time_point(1'700'000'000s);

std::shared_ptr<CVLiveUpdate> liveUpdate(const std::string& domain, Clock::time_point at, int occupancy = 0) {
    return std::make_shared<CVLiveUpdate>(CVLiveUpdateTopic{domain}, at, "room-1",
                                          std::map<std::string, boost::json::value, std::less<>>{{"count", occupancy}});
}
std::shared_ptr<CVPositionLiveUpdate> positionUpdate(Clock::time_point at, double latitude, double longitude,
                                                     long floor) {
    return std::make_shared<CVPositionLiveUpdate>(CVLiveUpdateTopic{"position"}, at, "room-1", latitude, longitude,
                                                  floor);
}

std::shared_ptr<CVLocationInternal> pointLocation() {
    auto location = CVLocationInternal::fromString(R"({"id": "room-1", "geometry": {"type": "Point",
        "coordinates": [12.5, 55.7]}, "properties": {"name": "Room", "type": "Office", "floor": 2,
        "building": "B1", "venue": "CAMPUS", "aliases": ["r1"], "categories": ["cat"], "imageURL": "http://i",
        "activeFrom": 5, "floorName": "2nd", "fields": {"email": {"type": "text", "value": "a@b"}},
        "displayRule": {"iconUrl": "http://icon"}}})");
    EXPECT_NE(location, nullptr);
    return location;
}

std::string fieldValue(const CVLocationInternal& location, const std::string& name) {
    const auto field = location.fields.find(name);
    return field != location.fields.end() && field->second ? field->second->value.value_or("?") : "-";
}

// ---- Live updates -------------------------------------------------------------

TEST(LocationLiveUpdates, RefusesOutOfOrderUpdatesPerDomain) {
    const struct {
        const char* domain;
        Clock::duration offset;
        int count;
        bool accepted;
        int storedCount;  // of the "occupancy" update stored afterwards
    } steps[] = {
        {"occupancy", 2s, 1, true, 1},   {"occupancy", 1s, 2, false, 1},  // older: refused, the first stays
        {"occupancy", 2s, 3, true, 3},                                    // the same moment: taken
        {"temperature", 0s, 4, true, 3},                                  // another domain: no comparison
        {"occupancy", 3s, 5, true, 5},
    };
    auto location = pointLocation();
    ASSERT_TRUE(location);
    EXPECT_EQ(location->getLiveUpdateForDomainType("occupancy"), nullptr);
    for (const auto& step : steps) {
        SCOPED_TRACE(fmt::format("{} {}", step.domain, step.count));
        EXPECT_EQ(location->assignLiveUpdate(liveUpdate(step.domain, kT0 + step.offset, step.count)), step.accepted);
        EXPECT_EQ(location->getLiveValueForKey("count", "occupancy"), boost::json::value(step.storedCount));
    }
    EXPECT_EQ(location->getLiveUpdateForDomainType("temperature")->timestamp, kT0);
    EXPECT_EQ(location->getLiveValueForKey("missing", "occupancy"), std::nullopt);
    EXPECT_EQ(location->getLiveValueForKey("count", "unknown"), std::nullopt);
    // Other kinds of updates leave the place alone.
    EXPECT_EQ(location->getPosition(), CVPoint(55.7, 12.5, 2));
    EXPECT_EQ(location->priority, std::nullopt);
}

TEST(LocationLiveUpdates, LogsTheRefusalAndRefusesUpdatesWithoutADomain) {
    test::ScopedLogCapture log;
    auto location = pointLocation();
    ASSERT_TRUE(location);
    ASSERT_TRUE(location->assignLiveUpdate(liveUpdate("occupancy", kT0 + 1s)));
    EXPECT_FALSE(location->assignLiveUpdate(liveUpdate("occupancy", kT0)));
    EXPECT_FALSE(location->assignLiveUpdate(std::make_shared<CVLiveUpdate>(CVLiveUpdateTopic{}, kT0, "room-1")));
    EXPECT_FALSE(location->assignLiveUpdate(nullptr));
    EXPECT_TRUE(log.sink().contains(
        "-[CVLocationInternal assignLiveUpdate:] LIVE DATA | Rejecting out of order LiveUpdate: 1700000001000ms > "
        "1700000000000ms, occupancy, id=room-1"));
}

TEST(LocationLiveUpdates, PositionUpdatesMoveTheLocation) {
    auto location = pointLocation();
    ASSERT_TRUE(location);
    ASSERT_TRUE(location->assignLiveUpdate(positionUpdate(kT0 + 1s, 40.5, -3.25, 4)));
    EXPECT_EQ(location->getPosition(), CVPoint(40.5, -3.25, 4));
    EXPECT_EQ(location->getFloorIndex(), 4.0);
    EXPECT_EQ(location->priority, 2147483647.0);
    EXPECT_EQ(std::get<CVPoint>(location->geometry()), CVPoint(40.5, -3.25, 4));
    const auto bounds = location->coordinateBounds();
    EXPECT_EQ(bounds.southWest(), (CLLocationCoordinate2D{40.5, -3.25}));
    EXPECT_EQ(bounds.northEast(), (CLLocationCoordinate2D{40.5, -3.25}));
    const auto record = location->axLocation();
    EXPECT_DOUBLE_EQ(record.geometry.position.lat, 40.5);
    EXPECT_FLOAT_EQ(record.altitude, 4);
    // An older position does not move it back.
    EXPECT_FALSE(location->assignLiveUpdate(positionUpdate(kT0, 1, 1, 0)));
    EXPECT_EQ(location->getPosition(), CVPoint(40.5, -3.25, 4));
}

TEST(LocationLiveUpdates, ConcurrentWritersAndReadersSeeWholeUpdates) {
    auto location = pointLocation();
    ASSERT_TRUE(location);
    constexpr int kUpdates = 200;
    std::thread writer([&] {
        for (int i = 1; i <= kUpdates; ++i) location->assignLiveUpdate(positionUpdate(kT0 + i * 1s, i, i, i));
    });
    std::thread reader([&] {
        for (int i = 0; i < kUpdates; ++i) {
            if (auto update = std::dynamic_pointer_cast<const CVPositionLiveUpdate>(
                    location->getLiveUpdateForDomainType("position"))) {
                EXPECT_EQ(update->latitude, static_cast<double>(update->floorIndex));
            }
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(location->getPosition(), CVPoint(kUpdates, kUpdates, kUpdates));
}

// ---- Copies ---------------------------------------------------------------------

TEST(LocationCopies, CopyCarriesItsFieldsAndStaysIndependent) {
    auto source = pointLocation();
    ASSERT_TRUE(source);
    source->cv_setGeoDataStatus(1);
    source->labelCacheKey = "label";
    source->state = 7;
    source->priority = 3;
    ASSERT_TRUE(source->assignLiveUpdate(liveUpdate("occupancy", kT0)));
    const auto copy = source->copyWithZone();
    EXPECT_EQ(copy->locationId, "room-1");
    EXPECT_EQ(copy->name, "Room");
    EXPECT_EQ(copy->type, "Office");
    EXPECT_EQ(copy->building, "B1");
    EXPECT_EQ(copy->venue, "CAMPUS");
    EXPECT_EQ(copy->aliases, Texts{"r1"});
    EXPECT_EQ(copy->categories, Texts{"cat"});
    EXPECT_EQ(copy->labelCacheKey, "label");
    EXPECT_EQ(copy->cv_geoDataStatus(), 1U);
    EXPECT_EQ(copy->getPosition(), CVPoint(55.7, 12.5, 2));
    EXPECT_EQ(copy->getFloorIndex(), 2.0);
    EXPECT_EQ(fieldValue(*copy, "email"), "a@b");
    // Not carried over.
    EXPECT_EQ(copy->imageURL, std::nullopt);
    EXPECT_EQ(copy->activeFrom, std::nullopt);
    EXPECT_EQ(copy->floorName, std::nullopt);
    EXPECT_EQ(copy->displayRule, nullptr);
    EXPECT_EQ(copy->priority, std::nullopt);
    EXPECT_EQ(copy->state, 0);
    EXPECT_EQ(copy->getLiveUpdateForDomainType("occupancy"), nullptr);

    copy->name = "Changed";
    copy->fields.at("email")->value = "x@y";
    copy->setPosition(CVPoint(1, 1, 9));
    copy->assignLiveUpdate(liveUpdate("temperature", kT0));
    EXPECT_EQ(source->name, "Room");
    EXPECT_EQ(fieldValue(*source, "email"), "a@b");
    EXPECT_EQ(source->getPosition(), CVPoint(55.7, 12.5, 2));
    EXPECT_EQ(source->getLiveUpdateForDomainType("temperature"), nullptr);
}

TEST(LocationCopies, CopyOfAnOutlineKeepsThePolygonButNotTheMultipolygon) {
    auto source = CVLocationInternal::fromString(R"({"id": "room-2", "geometry": {"type": "Polygon",
        "bbox": [10, 50, 11, 51], "coordinates": [[[10, 50], [11, 50], [11, 51], [10, 51], [10, 50]]]},
        "properties": {"floor": 1, "anchor": {"coordinates": [10.5, 50.5]}}})");
    ASSERT_TRUE(source);
    EXPECT_EQ(std::get<std::shared_ptr<const CVPolygonGeometry>>(source->copyWithZone()->geometry()),
              source->cv_polygon());

    auto floorOutline = std::make_shared<CVLocationInternal>(CVPoint(50.5, 10.5, 1), "Floor 1");
    floorOutline->cv_setMultiPolygon(CVMultiPolygonGeometry::initWithDictionary(boost::json::parse(
        R"({"type": "MultiPolygon", "bbox": [10, 50, 11, 51],
            "coordinates": [[[[10, 50], [11, 50], [11, 51], [10, 51], [10, 50]]]]})")));
    ASSERT_TRUE(floorOutline->cv_multiPolygon());
    const auto copy = floorOutline->copyWithZone();
    EXPECT_EQ(copy->cv_multiPolygon(), nullptr);
    EXPECT_EQ(std::get<CVPoint>(copy->geometry()), CVPoint(50.5, 10.5, 1));
}

TEST(LocationCopies, LocationFromLocationTakesNameGeometryAndRuleButNoId) {
    auto source = pointLocation();
    ASSERT_TRUE(source);
    source->state = 4;
    const auto location = CVLocationInternal::initWithLocation(*source);
    EXPECT_EQ(location->locationId, "");
    EXPECT_EQ(location->name, "Room");
    EXPECT_EQ(location->getPosition(), CVPoint(55.7, 12.5, 2));
    EXPECT_EQ(location->categories, Texts{"cat"});
    EXPECT_EQ(fieldValue(*location, "email"), "a@b");
    EXPECT_EQ(location->displayRule, source->displayRule);
    EXPECT_EQ(location->state, 4);
    EXPECT_EQ(location->type, "");
    EXPECT_EQ(location->building, "");
    location->fields.at("email")->value = "x@y";
    EXPECT_EQ(fieldValue(*source, "email"), "a@b");
}

// ---- Host location updates --------------------------------------------------------

class LocationFromUpdate : public ::testing::Test {
protected:
    void SetUp() override { CVModelCache::resetMemoryCacheForTesting(); }
    void TearDown() override { CVModelCache::resetMemoryCacheForTesting(); }
};

TEST_F(LocationFromUpdate, WithoutPrototypeSortsPropertiesIntoMembersAndFields) {
    const struct {
        std::optional<std::string> name;
        std::vector<std::pair<std::string, std::string>> properties;
        std::string expectedName;
        Texts expectedAliases;
        Texts expectedFields;  // name=value
        std::string expectedDescription;
        std::string expectedImage;
    } cases[] = {
        {"", {{"name", "From property"}}, "From property", {}, {}, "-", "-"},
        {std::nullopt, {{"name", ""}, {"name", "Second"}}, "Second", {}, {}, "-", "-"},
        {"Given", {{"name", "Other"}}, "Given", {}, {"name=Other"}, "-", "-"},
        {"A", {{"alias", "a"}, {"alias", "b"}}, "A", {"a", "b"}, {}, "-", "-"},
        {"A", {{"description", "d1"}, {"description", "d2"}}, "A", {}, {"description=d2"}, "d1", "-"},
        {"A", {{"imageUrl", "u1"}, {"imageUrl", "u2"}}, "A", {}, {"imageUrl=u2"}, "-", "u1"},
        {"A", {{"phone", "1"}, {"phone", "2"}, {"email", "e"}}, "A", {}, {"email=e", "phone=2"}, "-", "-"},
    };
    for (const auto& entry : cases) {
        CVLocationUpdateInternal update("host-1");
        update.setName(entry.name);
        update.setType("Desk");
        update.setPosition({55.7, 12.5});
        update.setFloorIndex(3);
        update.setCategories(Texts{"c1"});
        update.setIconMapAnchor({0.5, 1});
        for (const auto& [type, value] : entry.properties) update.addPropertyWithType(type, value);
        const auto location = update.location();
        SCOPED_TRACE(entry.expectedName);
        EXPECT_EQ(location->name, entry.expectedName);
        EXPECT_EQ(location->aliases, entry.expectedAliases);
        Texts fields;
        for (const auto& [name, field] : location->fields) fields.push_back(name + "=" + field->value.value_or(""));
        EXPECT_EQ(fields, entry.expectedFields);
        EXPECT_EQ(location->locationDescription.value_or("-"), entry.expectedDescription);
        EXPECT_EQ(location->imageURL.value_or("-"), entry.expectedImage);
        EXPECT_EQ(location->locationId, "host-1");
        EXPECT_EQ(location->type, "Desk");
        EXPECT_EQ(location->locationBaseTypeString, "poi");
        EXPECT_EQ(location->getPosition(), CVPoint(55.7, 12.5, 3));
        EXPECT_EQ(location->getFloorIndex(), 3.0);
        EXPECT_EQ(location->categories, Texts{"c1"});
        EXPECT_EQ(location->iconMapAnchor(), (CLLocationCoordinate2D{0.5, 1}));
        EXPECT_EQ(location->venue, "");  // no venue lists in memory
        EXPECT_EQ(location->state, 0);
    }
}

TEST_F(LocationFromUpdate, WithoutFloorOrPropertiesKeepsTheInvalidFloor) {
    CVLocationUpdateInternal update("host-2");
    update.setPosition({1, 2});
    const auto location = update.location();
    EXPECT_EQ(location->getFloorIndex(), static_cast<double>(CVLocationUpdateFloorInvalid));
    EXPECT_TRUE(location->fields.empty());
    EXPECT_TRUE(location->aliases.empty());
    EXPECT_EQ(location->name, "");
    EXPECT_EQ(location->cv_polygon(), nullptr);
}

TEST_F(LocationFromUpdate, WithPrototypeChangesOnlyWhatTheUpdateCarries) {
    auto prototype = pointLocation();
    ASSERT_TRUE(prototype);
    const struct {
        const char* what;
        CLLocationCoordinate2D position;
        std::int64_t floor;
        std::vector<std::pair<std::string, std::string>> properties;
        CVPoint expectedPosition;
        Texts expectedAliases;
        Texts expectedFields;
    } cases[] = {
        {"nothing new", {91, 0}, CVLocationUpdateFloorInvalid, {}, {55.7, 12.5, 2}, {"r1"}, {"email=a@b"}},
        {"a move", {10, 20}, 5, {}, {10, 20, 5}, {"r1"}, {"email=a@b"}},
        {"a move, no floor", {10, 20}, CVLocationUpdateFloorInvalid, {}, {10, 20, 2}, {"r1"}, {"email=a@b"}},
        {"a bad coordinate", {0, 181}, 7, {}, {55.7, 12.5, 7}, {"r1"}, {"email=a@b"}},
        {"the name is taken", {91, 0}, 2, {{"name", "N"}}, {55.7, 12.5, 2}, {"r1"}, {"name=N"}},
        {"aliases replace", {91, 0}, 2, {{"alias", "x"}, {"alias", "y"}}, {55.7, 12.5, 2}, {"x", "y"}, {"email=a@b"}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        CVLocationUpdateInternal update(prototype);
        update.setPosition(entry.position);
        update.setFloorIndex(entry.floor);
        for (const auto& [type, value] : entry.properties) update.addPropertyWithType(type, value);
        const auto location = update.location();
        EXPECT_EQ(location->locationId, "room-1");
        EXPECT_EQ(location->name, "Room");
        EXPECT_EQ(location->type, "Office");
        EXPECT_EQ(location->getPosition(), entry.expectedPosition);
        EXPECT_EQ(location->aliases, entry.expectedAliases);
        Texts fields;
        for (const auto& [name, field] : location->fields) fields.push_back(name + "=" + field->value.value_or(""));
        EXPECT_EQ(fields, entry.expectedFields);
        EXPECT_EQ(location->displayRule, prototype->displayRule);
        // The venue lists say where it is now: none in memory.
        EXPECT_EQ(location->venue, "");
        EXPECT_EQ(location->building, "");
    }
    CVLocationUpdateInternal renamed(prototype);
    renamed.setName("New name");
    renamed.setType("Kiosk");
    renamed.setCategories(Texts{"other"});
    const auto location = renamed.location();
    EXPECT_EQ(location->name, "New name");
    EXPECT_EQ(location->type, "Kiosk");
    EXPECT_EQ(location->categories, Texts{"other"});
    EXPECT_EQ(prototype->name, "Room");
}

TEST_F(LocationFromUpdate, TakesVenueAndBuildingFromTheVenueListsAtItsPosition) {
    const auto polygon = [](double west, double south, double east, double north) {
        return fmt::format(R"({{"type": "Polygon", "bbox": [{0}, {1}, {2}, {3}],
            "coordinates": [[[{0}, {1}], [{2}, {1}], [{2}, {3}], [{0}, {3}], [{0}, {1}]]]}})",
                           west, south, east, north);
    };
    const auto venues = CVVenueCollection::fromString(
        fmt::format(R"([{{"id": "v", "name": "CAMPUS", "venueInfo": {{"name": "Campus"}}, "geometry": {}}}])",
                    polygon(0, 0, 10, 10)));
    const auto buildings = CVBuildingCollection::fromString(
        fmt::format(R"({{"buildings": [{{"id": "b", "administrativeId": "B7", "geometry": {}, "floors": {{}}}}]}})",
                    polygon(1, 1, 2, 2)));
    ASSERT_TRUE(venues && buildings);
    const auto solutionId = AmbrellLegacy::getAmbrellAPIKey().value_or("");
    const auto language = AmbrellLegacy::getLanguage();
    CVModelCache::memoryCache()->setObject(venues, CVVenueProvider::venuesCacheKeyForSolutionId(solutionId, language));
    CVModelCache::memoryCache()->setObject(buildings,
                                           CVVenueProvider::buildingsCacheKeyForSolutionId(solutionId, language));

    auto prototype = pointLocation();
    ASSERT_TRUE(prototype);
    const struct {
        CLLocationCoordinate2D position;
        std::string venue;
        std::string building;
    } cases[] = {{{1.5, 1.5}, "CAMPUS", "B7"}, {{5, 5}, "CAMPUS", ""}, {{50, 50}, "", ""}};
    for (const auto& entry : cases) {
        CVLocationUpdateInternal own("host");
        own.setPosition(entry.position);
        CVLocationUpdateInternal moved(prototype);
        moved.setPosition(entry.position);
        for (const auto& location : {own.location(), moved.location()}) {
            EXPECT_EQ(location->venue, entry.venue) << entry.position.latitude;
            EXPECT_EQ(location->building, entry.building) << entry.position.latitude;
        }
    }
}

}  // namespace
}  // namespace ambrell

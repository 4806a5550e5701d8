#include "Source/AXCommon/AXLocationService.h"
#include "tests/Source/AXCommon/AXLocationFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace ambrell {
namespace {

using testing::areaLocation;
using testing::pointLocation;
using Ids = std::vector<std::int32_t>;

Ids all(const AXLocationService& service) {
    return service.locationIdsForQuery({}, {});
}

Ids search(const AXLocationService& service, std::string text) {
    return service.locationIdsForQuery({.text = std::move(text)}, {});
}

TEST(AXLocationServiceStore, UpsertReplacesInPlaceAndKeepsTheStorePosition) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(1, "Lobby"), pointLocation(2, "Kitchen"), pointLocation(3, "Atrium")});
    service.addOrUpdateLocations({pointLocation(2, "Library", 56, 13), pointLocation(4, "Garage")});

    EXPECT_EQ(service.count(), 4u);
    EXPECT_EQ(all(service), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(search(service, "library"), Ids{2});
    EXPECT_EQ(search(service, "kitchen"), Ids{});
    // The new geometry replaced the old one in the spatial index too.
    AXFilter nearNewPlace;
    nearNewPlace.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast({56.1, 13.1}, {55.9, 12.9});
    EXPECT_EQ(service.locationIdsForQuery({}, nearNewPlace), Ids{2});
}

// Live updates mostly change status or place and keep the texts; the store
// keeps the words then, but every other field must still follow.
TEST(AXLocationServiceStore, AnUpdateWithTheSameTextsStillChangesEverythingElse) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(1, "Lobby", 55, 12), pointLocation(2, "Lobby bar", 55, 12)});
    auto moved = pointLocation(1, "Lobby", 56, 13);
    moved.status = 1;  // active, no longer searchable
    moved.typeId = 9;
    moved.isIndoor = true;
    moved.altitude = 2;
    service.addOrUpdateLocations({moved});

    const AXQuery lobby{.text = "lobby"};
    AXFilter anyStatus;
    anyStatus.ignoreSearchableStatus = true;
    EXPECT_EQ(service.locationIdsForQuery(lobby, {}), Ids{2});
    EXPECT_EQ(service.locationIdsForQuery(lobby, anyStatus), (Ids{1, 2}));
    anyStatus.typeIds = Ids{9};
    anyStatus.floor = 2;
    EXPECT_EQ(service.locationIdsForQuery(lobby, anyStatus), Ids{1});
    anyStatus.floor = 0;
    EXPECT_EQ(service.locationIdsForQuery(lobby, anyStatus), Ids{});

    AXFilter oldPlace;
    oldPlace.ignoreSearchableStatus = true;
    oldPlace.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast({55, 12}, {55, 12});
    EXPECT_EQ(service.locationIdsForQuery({}, oldPlace), Ids{2});
    AXFilter newPlace = oldPlace;
    newPlace.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast({56, 13}, {56, 13});
    EXPECT_EQ(service.locationIdsForQuery({}, newPlace), Ids{1});
}

TEST(AXLocationServiceStore, ADuplicateIdInOneBatchLeavesOneEntryWithTheLastValues) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(7, "First"), pointLocation(8, "Other"), pointLocation(7, "Second")});
    EXPECT_EQ(service.count(), 2u);
    EXPECT_EQ(all(service), (Ids{7, 8}));
    EXPECT_EQ(search(service, "second"), Ids{7});
    EXPECT_EQ(search(service, "first"), Ids{});
}

TEST(AXLocationServiceStore, RemovalIgnoresUnknownIdsAndClearEmptiesTheStore) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(1, "A"), pointLocation(2, "B"), pointLocation(3, "C")});
    service.removeLocationsWithIds({2, 99});
    EXPECT_EQ(service.count(), 2u);
    EXPECT_EQ(all(service), (Ids{1, 3}));
    EXPECT_EQ(search(service, "b"), Ids{});

    // A removed id comes back at the end of the store order.
    service.addOrUpdateLocations({pointLocation(2, "B")});
    EXPECT_EQ(all(service), (Ids{1, 3, 2}));

    service.removeAllLocations();
    EXPECT_EQ(service.count(), 0u);
    EXPECT_EQ(all(service), Ids{});
    service.addOrUpdateLocations({pointLocation(5, "E")});
    EXPECT_EQ(all(service), Ids{5});
}

// Removing most of a large store closes the holes it leaves; text, spatial
// and id look-ups must all still agree with the store order afterwards.
TEST(AXLocationServiceStore, MassRemovalKeepsOrderTextAndSpaceConsistent) {
    auto service = AXLocationService::create();
    std::vector<AXLocation> locations;
    for (std::int32_t id = 0; id < 3000; ++id) {
        locations.push_back(pointLocation(id, id % 2 == 0 ? "even room" : "odd room", 55 + id * 1e-5, 12));
    }
    service.addOrUpdateLocations(locations);
    Ids removed;
    for (std::int32_t id = 0; id < 3000; ++id) {
        if (id % 3 != 0) {
            removed.push_back(id);
        }
    }
    service.removeLocationsWithIds(removed);
    service.addOrUpdateLocations({pointLocation(-1, "even newcomer", 55.0, 12.0)});

    Ids expected;
    for (std::int32_t id = 0; id < 3000; id += 3) {
        expected.push_back(id);
    }
    expected.push_back(-1);
    EXPECT_EQ(all(service), expected);

    const auto evens = search(service, "even");
    ASSERT_EQ(evens.size(), 501u);
    EXPECT_EQ(evens.front(), 0);
    EXPECT_EQ(evens.back(), -1);

    AXFilter box;
    box.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast({55.0 + 10e-5, 12.0}, {55.0 + 2e-5, 12.0});
    EXPECT_EQ(service.locationIdsForQuery({}, box), (Ids{3, 6, 9}));
    AXFilter byId;
    byId.locationIds = Ids{2997, 4, 3, -1};
    EXPECT_EQ(service.locationIdsForQuery({}, byId), (Ids{3, 2997, -1}));
}

TEST(AXLocationServiceStore, BadLocationsAreRefusedAndChangeNothing) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    auto badName = pointLocation(10, "x");
    badName.properties[0].value = "caf\xC3";
    auto badAlias = pointLocation(10, "x");
    badAlias.aliases = {"\xFF\xFE"};
    auto badKey = pointLocation(10, "x");
    badKey.properties[0].key = "\xC0\xAF";
    auto badPosition = pointLocation(10, "x", nan, 12);
    auto badBounds = areaLocation(10, "x", 55, 12, inf, 13);
    auto badAltitude = pointLocation(10, "x");
    badAltitude.altitude = std::numeric_limits<float>::quiet_NaN();

    const struct {
        const char* name;
        AXLocation location;
    } cases[] = {
        {"name not UTF-8", badName},     {"alias not UTF-8", badAlias},       {"key not UTF-8", badKey},
        {"NaN position", badPosition},   {"infinite bounds", badBounds},      {"NaN altitude", badAltitude},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto service = AXLocationService::create();
        service.addOrUpdateLocations({pointLocation(1, "Kept")});
        // The good location ahead of the bad one in the batch is not added
        // either, and the existing one is not replaced.
        EXPECT_THROW(service.addOrUpdateLocations({pointLocation(2, "Good"), pointLocation(1, "Renamed"), c.location}),
                     std::invalid_argument);
        EXPECT_EQ(service.count(), 1u);
        EXPECT_EQ(all(service), Ids{1});
        EXPECT_EQ(search(service, "kept"), Ids{1});
    }
}

TEST(AXLocationServiceStore, BadQueriesAreRefused) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(1, "Cafe")});
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();

    EXPECT_THROW((void)service.locationIdsForQuery({.text = "caf\xE9"}, {}), std::invalid_argument);
    EXPECT_THROW((void)service.locationIdsForQuery({.text = "cafe", .propertyKeys = {"\xFF"}}, {}),
                 std::invalid_argument);
    EXPECT_THROW((void)service.locationIdsForQuery({.near = AXCoordinate{nan, 12}}, {}), std::invalid_argument);
    AXFilter badBounds;
    badBounds.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast({nan, 1}, {0, 0});
    EXPECT_THROW((void)service.locationIdsForQuery({}, badBounds), std::invalid_argument);
    EXPECT_EQ(search(service, "cafe"), Ids{1});
}

}  // namespace
}  // namespace ambrell

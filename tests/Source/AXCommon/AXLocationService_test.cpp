#include "Source/AXCommon/AXLocationService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "Source/AXCommon/AXSearchText.h"

namespace ambrell {
namespace {

using Ids = std::vector<std::int32_t>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

AXCoordinateBounds box(double south, double west, double north, double east) {
    return AXCoordinateBounds::CoordinateBoundsWithNortheast({north, east}, {south, west});
}

// A point location named `name` at (lat, lng), active and searchable, with
// its bounds the degenerate box at its position, as the location model makes
// for points.
AXLocation pointLocation(std::int32_t id, std::string name, double lat = 55.0, double lng = 12.0) {
    AXLocation location;
    location.locationId = id;
    location.status = 3;
    location.properties = {AXTextProperty::TextPropertyWithLanguage("en", "name", std::move(name))};
    location.geometry = AXGeometry::GeometryWithPosition({lat, lng}, box(lat, lng, lat, lng));
    return location;
}

// An area whose anchor (position) sits in its south-west corner, far from
// most of its interior.
AXLocation areaLocation(std::int32_t id, std::string name, double south, double west, double north, double east) {
    auto location = pointLocation(id, std::move(name), south, west);
    location.geometry.bounds = box(south, west, north, east);
    return location;
}

AXLocation withProperty(AXLocation location, std::string key, std::string value) {
    location.properties.push_back(AXTextProperty::TextPropertyWithLanguage("en", std::move(key), std::move(value)));
    return location;
}

Ids ids(const AXLocationService& service, const AXQuery& query = {}, const AXFilter& filter = {}) {
    return service.locationIdsForQuery(query, filter);
}

Ids search(const AXLocationService& service, std::string text) { return ids(service, {.text = std::move(text)}); }

TEST(AXLocationServiceStore, UpsertReplacesInPlaceRemovalAndClear) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(1, "Lobby"), pointLocation(2, "Kitchen"), pointLocation(3, "Lobby 2")});
    // Live updates mostly change status or place and keep the texts; the
    // store keeps the words then, but every other field must still follow.
    auto moved = pointLocation(1, "Lobby", 56, 13);
    moved.status = 1;  // active, no longer searchable
    moved.typeId = 9;
    moved.isIndoor = true;
    moved.altitude = 2;
    service.addOrUpdateLocations({pointLocation(2, "Library", 56, 13), pointLocation(4, "Garage"), moved});
    EXPECT_EQ(service.count(), 4u);
    const AXFilter all{.ignoreSearchableStatus = true};
    EXPECT_EQ(ids(service, {}, all), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(search(service, "library"), Ids{2});
    EXPECT_EQ(search(service, "kitchen"), Ids{});
    const AXQuery lobby{.text = "lobby"};
    EXPECT_EQ(ids(service, lobby), Ids{3});
    EXPECT_EQ(ids(service, lobby, all), (Ids{1, 3}));
    EXPECT_EQ(ids(service, lobby, {.typeIds = Ids{9}, .floor = 2, .ignoreSearchableStatus = true}), Ids{1});
    EXPECT_EQ(ids(service, lobby, {.typeIds = Ids{9}, .floor = 0, .ignoreSearchableStatus = true}), Ids{});
    // The new geometry replaced the old one in the spatial index too.
    EXPECT_EQ(ids(service, {}, {.bounds = box(55.9, 12.9, 56.1, 13.1), .ignoreSearchableStatus = true}), (Ids{1, 2}));
    EXPECT_EQ(ids(service, {}, {.bounds = box(55, 12, 55, 12), .ignoreSearchableStatus = true}), (Ids{3, 4}));
    // A move to another floor in the same place moves it in the spatial index too; outdoors shows on every floor.
    moved.altitude = 3;
    service.addOrUpdateLocations({moved});
    const auto there = box(55.9, 12.9, 56.1, 13.1);
    EXPECT_EQ(ids(service, {}, {.floor = 3, .bounds = there, .ignoreSearchableStatus = true}), (Ids{1, 2}));
    EXPECT_EQ(ids(service, {}, {.floor = 2, .bounds = there, .ignoreSearchableStatus = true}), Ids{2});

    // A duplicate id in one batch leaves one entry with the last values.
    service.addOrUpdateLocations({pointLocation(7, "First"), pointLocation(8, "Other"), pointLocation(7, "Second")});
    EXPECT_EQ(ids(service, {}, all), (Ids{1, 2, 3, 4, 7, 8}));
    EXPECT_EQ(search(service, "second"), Ids{7});
    EXPECT_EQ(search(service, "first"), Ids{});

    // Unknown ids are ignored; a removed id comes back at the end of the store order.
    service.removeLocationsWithIds({2, 99});
    EXPECT_EQ(service.count(), 5u);
    EXPECT_EQ(search(service, "library"), Ids{});
    service.addOrUpdateLocations({pointLocation(2, "Library")});
    EXPECT_EQ(ids(service, {}, all), (Ids{1, 3, 4, 7, 8, 2}));

    service.removeAllLocations();
    EXPECT_EQ(service.count(), 0u);
    EXPECT_EQ(ids(service, {}, all), Ids{});
    service.addOrUpdateLocations({pointLocation(5, "E")});
    EXPECT_EQ(ids(service), Ids{5});
}

// Removing most of a large store closes the holes it leaves; text, spatial
// and id look-ups must all still agree with the store order afterwards. The
// filter's default take is unlimited, so all 1001 left come back.
TEST(AXLocationServiceStore, MassRemovalKeepsOrderTextAndSpaceConsistent) {
    auto service = AXLocationService::create();
    std::vector<AXLocation> locations;
    Ids removed, expected;
    for (std::int32_t id = 0; id < 3000; ++id) {
        locations.push_back(pointLocation(id, id % 2 == 0 ? "even room" : "odd room", 55 + id * 1e-5, 12));
        (id % 3 != 0 ? removed : expected).push_back(id);
    }
    service.addOrUpdateLocations(locations);
    service.removeLocationsWithIds(removed);
    service.addOrUpdateLocations({pointLocation(-1, "even newcomer", 55.0, 12.0)});
    expected.push_back(-1);
    EXPECT_EQ(ids(service), expected);

    const auto evens = search(service, "even");
    ASSERT_EQ(evens.size(), 501u);
    EXPECT_EQ(evens.front(), 0);
    EXPECT_EQ(evens.back(), -1);
    EXPECT_EQ(ids(service, {}, {.bounds = box(55.0 + 2e-5, 12.0, 55.0 + 10e-5, 12.0)}), (Ids{3, 6, 9}));
    EXPECT_EQ(ids(service, {}, {.locationIds = Ids{2997, 4, 3, -1}}), (Ids{3, 2997, -1}));
}

// A first load large enough to be packed into the spatial index in one go
// still leaves the refused records out and finds every other one.
TEST(AXLocationServiceStore, ABatchWithOneNonFiniteRecordAddsTheOthers) {
    for (const std::size_t size : {std::size_t{3}, std::size_t{200}}) {
        SCOPED_TRACE(size);
        auto service = AXLocationService::create();
        std::vector<AXLocation> batch;
        Ids expected;
        for (std::size_t i = 0; i < size; ++i) {
            const auto id = static_cast<std::int32_t>(i);
            batch.push_back(
                pointLocation(id, "desk " + std::to_string(id), 55.0 + static_cast<double>(i) * 1e-5, 12.0));
            expected.push_back(id);
        }
        const std::int32_t badId = 1;
        batch[badId] = pointLocation(badId, "desk broken", kNaN, 12.0);
        std::erase(expected, badId);

        EXPECT_EQ(service.addOrUpdateLocations(batch), Ids{badId});
        EXPECT_EQ(service.count(), size - 1);
        auto found = search(service, "desk");
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, expected);
        EXPECT_EQ(search(service, "broken"), Ids{});
        EXPECT_EQ(ids(service, {}, {.bounds = box(54.9, 11.9, 56.0, 12.1)}), expected);
        EXPECT_EQ(ids(service, {}, {.bounds = box(55.0 + 1.5e-5, 11.9, 55.0 + 2.5e-5, 12.1)}), Ids{2});

        // The refused id can come in later with good data.
        EXPECT_EQ(service.addOrUpdateLocations({pointLocation(badId, "desk mended")}), Ids{});
        EXPECT_EQ(search(service, "mended"), Ids{badId});
        EXPECT_EQ(service.count(), size);
    }
}

TEST(AXLocationServiceStore, BadLocationsAndQueriesAreRefusedAndChangeNothing) {
    const auto changed = [](auto change) {
        auto location = pointLocation(10, "x");
        change(location);
        return location;
    };
    const std::pair<const char*, AXLocation> cases[] = {
        {"name not UTF-8", changed([](AXLocation& l) { l.properties[0].value = "caf\xC3"; })},
        {"alias not UTF-8", changed([](AXLocation& l) { l.aliases = {"\xFF\xFE"}; })},
        {"key not UTF-8", changed([](AXLocation& l) { l.properties[0].key = "\xC0\xAF"; })},
        {"NaN position", pointLocation(10, "x", kNaN, 12)},
        {"infinite bounds", areaLocation(10, "x", 55, 12, kInfinity, 13)},
        {"NaN altitude", changed([](AXLocation& l) { l.altitude = std::numeric_limits<float>::quiet_NaN(); })},
    };
    for (const auto& [name, location] : cases) {
        SCOPED_TRACE(name);
        auto service = AXLocationService::create();
        EXPECT_EQ(service.addOrUpdateLocations({pointLocation(1, "Kept"), pointLocation(10, "Stored")}), Ids{});
        // The bad record neither replaces the stored one of its id nor keeps
        // the good records around it out.
        EXPECT_EQ(service.addOrUpdateLocations({pointLocation(2, "Good"), location, pointLocation(1, "Renamed")}),
                  Ids{10});
        EXPECT_EQ(service.count(), 3u);
        EXPECT_EQ(ids(service), (Ids{1, 10, 2}));
        EXPECT_EQ(search(service, "kept"), Ids{});
        EXPECT_EQ(search(service, "renamed"), Ids{1});
        EXPECT_EQ(search(service, "stored"), Ids{10});
        EXPECT_EQ(search(service, "good"), Ids{2});
        EXPECT_EQ(ids(service, {}, {.bounds = box(54.9, 11.9, 55.1, 12.1)}), (Ids{1, 10, 2}));

        // A new id with a bad record is not added at all.
        auto fresh = location;
        fresh.locationId = 11;
        EXPECT_EQ(service.addOrUpdateLocations({fresh}), Ids{11});
        EXPECT_EQ(service.count(), 3u);
        EXPECT_EQ(ids(service, {}, {.locationIds = Ids{11}}), Ids{});
    }

    auto service = AXLocationService::create();
    service.addOrUpdateLocations({pointLocation(1, "Cafe")});
    EXPECT_THROW((void)ids(service, {.text = "caf\xE9"}), std::invalid_argument);
    EXPECT_THROW((void)ids(service, {.text = "cafe", .propertyKeys = {"\xFF"}}), std::invalid_argument);
    EXPECT_THROW((void)ids(service, {.near = AXCoordinate{kNaN, 12}}), std::invalid_argument);
    EXPECT_THROW((void)ids(service, {}, {.bounds = box(0, 0, kNaN, 1)}), std::invalid_argument);
    EXPECT_EQ(search(service, "cafe"), Ids{1});
}

// Its place in the venue: parent, type, groups, whether indoors, altitude;
// every location of the venue has the alias "venue".
AXLocation placed(AXLocation location, std::int32_t parent, std::int32_t type, Ids groups = {}, bool indoor = false,
                  float altitude = 0) {
    location.parentId = parent;
    location.typeId = type;
    location.groups = std::move(groups);
    location.isIndoor = indoor;
    location.altitude = altitude;
    location.aliases = {"venue"};
    return location;
}

// A small venue: a building, three floors of rooms and an outdoor point.
// The room's anchor is its south-west corner; the roof's altitude 1.6 rounds
// to floor 2; the desk stands inside the room.
AXLocationService venue() {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        placed(areaLocation(10, "Building", 55.000, 12.000, 55.010, 12.010), 10, 100),
        placed(areaLocation(11, "Room", 55.001, 12.001, 55.002, 12.002), 10, 200, {1}, true),
        placed(pointLocation(12, "Upstairs", 55.005, 12.005), 10, 200, {1, 2}, true, 1),
        placed(pointLocation(13, "Desk", 55.0015, 12.0015), 11, 300, {2}, true, 1),
        placed(pointLocation(14, "Garden", 55.02, 12.02), 10, 400),
        placed(pointLocation(15, "Roof", 55.003, 12.003), 10, 200, {3}, true, 1.6f),
    });
    return service;
}

TEST(AXLocationServiceFilter, EachFieldRestrictsAsDocumented) {
    const auto service = venue();
    // Path optimisation looks for the room around a node with a box of
    // ±0.000001°; the room's anchor is its south-west corner, far away.
    const double lat = 55.0018;
    const double lng = 12.0017;
    const std::tuple<const char*, AXFilter, Ids> cases[] = {
        {"no filter", {}, {10, 11, 12, 13, 14, 15}},
        {"location ids absent", {.locationIds = std::nullopt}, {10, 11, 12, 13, 14, 15}},
        {"location ids empty", {.locationIds = Ids{}}, {}},
        {"location ids answer in store order", {.locationIds = Ids{14, 11, 14}}, {11, 14}},
        {"location ids unknown", {.locationIds = Ids{99}}, {}},
        {"parent direct", {.parentIds = Ids{11}}, {13}},
        {"parent is not transitive", {.parentIds = Ids{10}}, {10, 11, 12, 14, 15}},
        {"parent empty", {.parentIds = Ids{}}, {}},
        {"groups share a member", {.groups = Ids{2, 7}}, {12, 13}},
        // The caller's order of groups is no order at all.
        {"groups given out of order", {.groups = Ids{7, 2}}, {12, 13}},
        {"groups descending", {.groups = Ids{9, 3, 1}}, {11, 12, 15}},
        {"groups repeated and mixed", {.groups = Ids{3, 2, 3, 0}}, {12, 13, 15}},
        {"groups empty", {.groups = Ids{}}, {}},
        {"type ids", {.typeIds = Ids{300, 400}}, {13, 14}},
        {"type ids empty", {.typeIds = Ids{}}, {}},
        {"floor 0: indoor there, outdoor always", {.floor = 0}, {10, 11, 14}},
        {"floor 1", {.floor = 1}, {10, 12, 13, 14}},
        {"floor 2 rounds altitude 1.6", {.floor = 2}, {10, 14, 15}},
        {"floor -3 keeps outdoor only", {.floor = -3}, {10, 14}},
        {"several fields at once", {.parentIds = Ids{10}, .groups = Ids{1, 3}, .floor = 2}, {15}},
        {"ids and type at once", {.locationIds = Ids{11, 12, 13}, .typeIds = Ids{200}}, {11, 12}},
        // A location is kept when its bounds box meets the filter box.
        {"2e-6 box inside the room", {.bounds = box(lat - 1e-6, lng - 1e-6, lat + 1e-6, lng + 1e-6)}, {10, 11}},
        {"corners given swapped", {.bounds = box(lat + 1e-6, lng + 1e-6, lat - 1e-6, lng - 1e-6)}, {10, 11}},
        {"touching the room's east edge", {.bounds = box(55.0015, 12.002, 55.0016, 12.0025)}, {10, 11}},
        {"touching a point location exactly", {.bounds = box(55.005, 12.005, 55.006, 12.006)}, {10, 12}},
        {"disjoint from everything", {.bounds = box(56.0, 13.0, 56.1, 13.1)}, {}},
        {"covering the desk", {.bounds = box(55.0014, 12.0014, 55.0016, 12.0016)}, {10, 11, 13}},
        {"bounds and floor", {.floor = 1, .bounds = box(55.0014, 12.0014, 55.0016, 12.0016)}, {10, 13}},
    };
    for (const auto& [name, filter, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ids(service, {}, filter), expected);
        // Every location has the alias "venue": with text the same filter
        // runs on the text matches instead of the tree.
        EXPECT_EQ(ids(service, {.text = "venue"}, filter), expected);
    }
}

// Status bits: 1 active, 2 searchable, 4 outside the activity window (so 5
// is "active but not now").
TEST(AXLocationServiceFilter, StatusUnderTheFourFlagCombinations) {
    auto service = AXLocationService::create();
    for (const std::uint32_t status : {0u, 1u, 3u, 5u, 7u}) {
        auto location = pointLocation(static_cast<std::int32_t>(status), "s");
        location.status = status;
        service.addOrUpdateLocations({location});
    }
    const std::tuple<bool, bool, Ids> cases[] = {
        {false, false, {3}}, {true, false, {1, 3}}, {false, true, {3, 7}}, {true, true, {0, 1, 3, 5, 7}}};
    for (const auto& [ignoreSearchable, ignoreActive, expected] : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "ignoreSearchable " << ignoreSearchable << " ignoreActive " << ignoreActive);
        const AXFilter filter{.ignoreSearchableStatus = ignoreSearchable, .ignoreActiveStatus = ignoreActive};
        EXPECT_EQ(ids(service, {}, filter), expected);
        EXPECT_EQ(ids(service, {.text = "s"}, filter), expected);
    }
}

TEST(AXLocationServiceFilter, SkipAndTakeApplyAfterOrderingAndTakeIsUnlimitedByDefault) {
    auto service = AXLocationService::create();
    // Store order 1..5; distance from (55, 12) orders them 5, 4, 3, 2, 1.
    for (std::int32_t id = 1; id <= 5; ++id) {
        service.addOrUpdateLocations({pointLocation(id, "desk", 55.0 + (6 - id) * 0.001, 12.0)});
    }
    constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
    const AXQuery byDistance{.near = AXCoordinate{55.0, 12.0}, .ordering = AXOrdering::distance};
    const std::tuple<std::uint32_t, std::uint32_t, Ids> cases[] = {
        {0, kMax, {5, 4, 3, 2, 1}}, {0, 2, {5, 4}}, {1, 2, {4, 3}}, {4, 2, {1}}, {5, 1, {}},
        {kMax, kMax, {}},           {2, 0, {}},
    };
    for (const auto& [skip, take, expected] : cases) {
        SCOPED_TRACE(::testing::Message() << "skip " << skip << " take " << take);
        EXPECT_EQ(ids(service, byDistance, {.take = take, .skip = skip}), expected);
        auto withText = byDistance;
        withText.text = "desk";
        EXPECT_EQ(ids(service, withText, {.take = take, .skip = skip}), expected);
    }
    EXPECT_EQ(ids(service, {}, {.take = 2, .skip = 1}), (Ids{2, 3}));
    EXPECT_EQ(AXFilter{}.take, kMax);
}

AXLocationService office() {
    auto toilets = pointLocation(3, "Restrooms");
    toilets.aliases = {"wc", "toilet"};  // the model lower-cases and splits aliases on ","
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        pointLocation(1, "Staff cafe"),
        pointLocation(2, "Cafe"),
        toilets,
        withProperty(pointLocation(4, "Meeting Room 1.02"), "externalid", "MR-102"),
        withProperty(pointLocation(5, "Quiet zone"), "description", "Phone booths and sofas"),
        withProperty(pointLocation(6, "Reception"), "externalid", "cafe-desk"),
    });
    return service;
}

// A location matches when every query word is a prefix of one of its words
// under the chosen keys (all keys when none are chosen).
TEST(AXLocationServiceText, EveryQueryWordIsAPrefixOfAWordUnderTheChosenKeys) {
    const auto service = office();
    const std::tuple<const char*, std::vector<std::string>, Ids> cases[] = {
        {"", {}, {1, 2, 3, 4, 5, 6}},
        {"   ,;  ", {}, {1, 2, 3, 4, 5, 6}},
        {"MEET", {}, {4}},
        {"room 1", {}, {4}},
        {"room 2", {}, {}},
        {"sta caf", {}, {1}},
        {"caf sta", {}, {1}},
        {"wc", {}, {3}},
        {"toil", {}, {3}},
        {"mr-102", {}, {4}},
        {"102", {}, {4}},
        {"booth", {}, {5}},
        {"phone sofas", {}, {5}},
        {"phones", {}, {}},
        {"zone quiet", {}, {5}},
        // The pinned ranking: "caf" is a prefix of both names' "cafe" (name
        // weight 4 x prefix 1), so the tie goes to store order; "cafe" matches
        // both words whole (4 x 2 = 8) and is the whole name "Cafe" (+8), which
        // puts it first. Reception's external id "cafe-desk" scores 2 or 4.
        {"caf", {}, {1, 2, 6}},
        {"cafe", {}, {2, 1, 6}},
        {"  CAFE! ", {}, {2, 1, 6}},
        {"cafe", {"name"}, {2, 1}},
        {"cafe", {"ExternalId"}, {6}},
        {"wc", {"name"}, {}},
        {"wc", {"aliases"}, {3}},
        {"booth", {"name", "description"}, {5}},
        {"cafe", {"nosuchkey"}, {}},
        {"", {"nosuchkey"}, {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& [text, keys, expected] : cases) {
        SCOPED_TRACE(::testing::Message() << text << " in " << ::testing::PrintToString(keys));
        EXPECT_EQ(ids(service, {.text = text, .propertyKeys = keys}), expected);
    }
}

TEST(AXLocationServiceText, KeyWeightsAndWholeWordsRank) {
    auto lift = pointLocation(3, "Lift");
    lift.aliases = {"barista"};
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        withProperty(pointLocation(1, "Lounge"), "floorplan", "bar"),  // other field, exact: 1 x 2
        withProperty(pointLocation(2, "Lobby"), "externalid", "bar"),  // external id, exact: 2 x 2
        lift,                                                          // alias, prefix: 3 x 1
        pointLocation(4, "Barn"),                                      // name, prefix: 4 x 1
        pointLocation(5, "Bar"),                                       // name, exact + whole name: 8 + 8
        pointLocation(6, "Bar and grill"),                             // name, exact: 8
    });
    EXPECT_EQ(search(service, "bar"), (Ids{5, 6, 2, 4, 3, 1}));
}

TEST(AXLocationServiceText, NearBreaksScoreTiesAndStoreOrderBreaksTheRest) {
    auto service = AXLocationService::create();
    service.addOrUpdateLocations({
        pointLocation(1, "Printer", 55.003, 12.0), pointLocation(2, "Printer", 55.001, 12.0),
        pointLocation(3, "Printer room", 55.000, 12.0),
        pointLocation(4, "Printer", 55.001, 12.0),  // as near as 2, later in the store
    });
    const AXCoordinate here{55.0, 12.0};
    EXPECT_EQ(ids(service, {.text = "printer", .near = here}), (Ids{2, 4, 1, 3}));
    EXPECT_EQ(search(service, "printer"), (Ids{1, 2, 4, 3}));
    EXPECT_EQ(ids(service, {.text = "printer", .near = here, .ordering = AXOrdering::distance}), (Ids{3, 2, 4, 1}));
    // Distance ordering without a point falls back to store order.
    EXPECT_EQ(ids(service, {.text = "printer", .ordering = AXOrdering::distance}), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(ids(service, {.near = here}), (Ids{3, 2, 4, 1}));
}

// Stored and typed texts fold alike: case, diacritics, compatibility forms
// and "ß", precomposed or decomposed.
TEST(AXLocationServiceText, CaseAndDiacriticsFold) {
    auto service = AXLocationService::create();
    // Precomposed é, then e and a combining acute; full-width letters.
    service.addOrUpdateLocations({pointLocation(1, "Café"), pointLocation(2, "Cafe\xCC\x81 Bleu"),
                                  pointLocation(3, "Hauptstraße 5"), pointLocation(4, "HAUPTSTRASSE 7"),
                                  pointLocation(5, "Ｌｏｂｂｙ"), pointLocation(6, "Überseehalle"),
                                  pointLocation(7, "ZAZZ Plaza")});
    // The last row: both ends of the ASCII letters fold, typed or stored.
    const std::pair<const char*, Ids> cases[] = {
        {"cafe", {1, 2}},
        {"CAFE", {1, 2}},
        {"Café", {1, 2}},
        {"cafe\xCC\x81", {1, 2}},
        {"CAFÉ BLEU", {2}},
        {"hauptstrasse", {3, 4}},
        {"Hauptstraße", {3, 4}},
        {"HAUPTSTRASSE 5", {3}},
        {"straße", {}},
        {"lobby", {5}},
        {"uberseehalle", {6}},
        {"ÜBER", {6}},
        {"zazz", {7}},
        {"Zazz PLAZA", {7}},
        {"aZ", {}},
        {"plaz", {7}},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(search(service, text), expected);
    }
}

// A batch large enough to be tokenised on several threads builds the store
// that the same locations taken a hundred at a time (each batch on the
// caller's thread alone) build: the same refusals, and the same answers in
// the same order, store order included.
TEST(AXLocationServiceStore, LargeBatchBuildsWhatSmallBatchesBuild) {
    const std::vector<std::string> words = {"Lobby",   "Café", "Straße", "Office", "Kitchen",
                                            "Meeting", "Room", "Stair",  "Lift",   "Desk"};
    std::vector<AXLocation> locations;
    for (std::int32_t i = 0; i < 3000; ++i) {
        const auto word = [&](std::int32_t n) { return words[static_cast<std::size_t>(n % 10)]; };
        // The last hundred reuse the first hundred ids: a later one replaces the earlier in its place.
        auto location = pointLocation(i % 2900 + 1, word(i) + " " + word(i / 10) + " " + std::to_string(i % 37),
                                      55 + (i % 50) * 0.001, 12 + (i / 50) * 0.001);
        location = withProperty(std::move(location), i % 3 == 0 ? "Description" : "externalId", word(i * 7));
        location.aliases = {word(i * 3)};
        location.isIndoor = i % 4 != 0;
        location.altitude = static_cast<float>(i % 5);
        location.status = i % 9 == 0 ? 1 : 3;
        if (i % 500 == 7) location.properties[0].value = "\xFF" + word(i);
        if (i % 700 == 11) location.geometry.position.lat = kNaN;
        locations.push_back(std::move(location));
    }
    auto whole = AXLocationService::create();
    const Ids wholeRefused = whole.addOrUpdateLocations(std::vector<AXLocation>(locations));
    auto piecewise = AXLocationService::create();
    Ids piecewiseRefused;
    for (std::size_t first = 0; first < locations.size(); first += 100) {
        const std::vector<AXLocation> batch(locations.begin() + static_cast<std::ptrdiff_t>(first),
                                            locations.begin() + static_cast<std::ptrdiff_t>(first + 100));
        const auto refused = piecewise.addOrUpdateLocations(batch);
        piecewiseRefused.insert(piecewiseRefused.end(), refused.begin(), refused.end());
    }
    EXPECT_EQ(wholeRefused.size(), 11u);
    EXPECT_EQ(wholeRefused, piecewiseRefused);
    EXPECT_EQ(whole.count(), piecewise.count());

    std::vector<AXQuery> queries = {{}, {.text = "lobby cafe 3"}, {.text = "room stra"}, {.text = "desk 1"}};
    for (const auto& word : words) {
        for (std::size_t length = 1; length <= 3; ++length) {
            queries.push_back({.text = word.substr(0, length)});
        }
        queries.push_back({.text = word, .propertyKeys = {"description"}});
    }
    const AXFilter filters[] = {{},
                                {.ignoreSearchableStatus = true},
                                {.floor = 2},
                                {.bounds = box(55.01, 12.01, 55.03, 12.03), .ignoreSearchableStatus = true}};
    for (const auto& query : queries) {
        for (const auto& filter : filters) {
            SCOPED_TRACE(query.text);
            EXPECT_EQ(ids(whole, query, filter), ids(piecewise, query, filter));
        }
    }
    EXPECT_EQ(ids(whole, {}, {.ignoreSearchableStatus = true}).size(), whole.count());
}

TEST(AXSearchText, TokensAreFoldedAndSplitOnPunctuation) {
    using Words = std::vector<std::string>;
    const std::pair<const char*, Words> cases[] = {
        {"", {}},
        {" \t\r\n", {}},
        {"Café Noir", {"cafe", "noir"}},
        {"Cafe\xCC\x81", {"cafe"}},
        {"Straße", {"strasse"}},
        {"STRASSE", {"strasse"}},
        {"Meeting-Room 1.02", {"meeting", "room", "1", "02"}},
        {"(Kitchen) & [Bar]+{Grill}", {"kitchen", "bar", "grill"}},
        {"a/b\\c_d'e\"f;g:h!i?j,k", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}},
        {"Ｌｏｂｂｙ２", {"lobby2"}},
        {"ﬁle", {"file"}},
        {"Ærø Ørsted", {"ærø", "ørsted"}},
        {"ΆΘΗΝΑ", {"αθηνα"}},
        {"İzmir", {"izmir"}},
        // The ASCII letter range ends at A and Z; "@", "`" and "{" next to it stay as they are.
        {"AZ Zoo @A `Z", {"az", "zoo", "@a", "`z"}},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(axsearch::searchTokens(text), expected);
    }
    // Keys fold case only.
    EXPECT_EQ(axsearch::foldedKey("ExternalId"), "externalid");
    EXPECT_EQ(axsearch::foldedKey("ZONE@A"), "zone@a");
    EXPECT_EQ(axsearch::foldedKey("Öffnungszeiten"), "öffnungszeiten");
    EXPECT_EQ(axsearch::foldedKey(""), "");
    // Text that is not UTF-8 is refused.
    for (const char* bad : {"\xC3", "caf\xE9", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(bad)));
        EXPECT_THROW((void)axsearch::searchTokens(bad), std::invalid_argument);
        EXPECT_THROW((void)axsearch::foldedKey(bad), std::invalid_argument);
    }
}

}  // namespace
}  // namespace ambrell

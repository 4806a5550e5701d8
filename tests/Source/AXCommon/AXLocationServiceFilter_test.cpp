#include "Source/AXCommon/AXLocationService.h"
#include "tests/Source/AXCommon/AXLocationFixtures.h"

#include <gtest/gtest.h>

#include <limits>

namespace ambrell {
namespace {

using testing::areaLocation;
using testing::pointLocation;
using Ids = std::vector<std::int32_t>;

AXCoordinateBounds box(double south, double west, double north, double east) {
    return AXCoordinateBounds::CoordinateBoundsWithNortheast({north, east}, {south, west});
}

// A small venue: a building, three floors of rooms and an outdoor point, all
// with the alias "venue".
//   id  parent type groups  indoor floor  geometry
//   10  10     100  -       no     0      building box 55.000..55.010 x 12.000..12.010
//   11  10     200  1       yes    0      room 55.001..55.002 x 12.001..12.002, anchor at its SW corner
//   12  10     200  1,2     yes    1      point 55.005, 12.005
//   13  11     300  2       yes    1      point 55.0015, 12.0015 (inside room 11)
//   14  10     400  -       no     0      outdoor point 55.02, 12.02
//   15  10     200  3       yes    2      point at altitude 1.6 (rounds to 2)
AXLocationService venue() {
    auto building = areaLocation(10, "Building", 55.000, 12.000, 55.010, 12.010);
    building.parentId = 10;
    building.typeId = 100;
    auto room = areaLocation(11, "Room", 55.001, 12.001, 55.002, 12.002);
    room.parentId = 10;
    room.typeId = 200;
    room.groups = {1};
    room.isIndoor = true;
    auto upstairs = pointLocation(12, "Upstairs", 55.005, 12.005);
    upstairs.parentId = 10;
    upstairs.typeId = 200;
    upstairs.groups = {1, 2};
    upstairs.isIndoor = true;
    upstairs.altitude = 1;
    auto desk = pointLocation(13, "Desk", 55.0015, 12.0015);
    desk.parentId = 11;
    desk.typeId = 300;
    desk.groups = {2};
    desk.isIndoor = true;
    desk.altitude = 1;
    auto garden = pointLocation(14, "Garden", 55.02, 12.02);
    garden.parentId = 10;
    garden.typeId = 400;
    auto roof = pointLocation(15, "Roof", 55.003, 12.003);
    roof.parentId = 10;
    roof.typeId = 200;
    roof.groups = {3};
    roof.isIndoor = true;
    roof.altitude = 1.6f;

    std::vector<AXLocation> all{building, room, upstairs, desk, garden, roof};
    for (auto& location : all) {
        location.aliases = {"venue"};
    }
    auto service = AXLocationService::create();
    service.addOrUpdateLocations(all);
    return service;
}

TEST(AXLocationServiceFilter, EachFieldRestrictsAsDocumented) {
    const auto service = venue();
    const struct {
        const char* name;
        AXFilter filter;
        Ids expected;
    } cases[] = {
        {"no filter", {}, {10, 11, 12, 13, 14, 15}},
        {"location ids absent", {.locationIds = std::nullopt}, {10, 11, 12, 13, 14, 15}},
        {"location ids empty", {.locationIds = Ids{}}, {}},
        {"location ids answer in store order", {.locationIds = Ids{14, 11, 14}}, {11, 14}},
        {"location ids unknown", {.locationIds = Ids{99}}, {}},
        {"parent direct", {.parentIds = Ids{11}}, {13}},
        {"parent is not transitive", {.parentIds = Ids{10}}, {10, 11, 12, 14, 15}},
        {"parent empty", {.parentIds = Ids{}}, {}},
        {"groups share a member", {.groups = Ids{2, 7}}, {12, 13}},
        {"groups empty", {.groups = Ids{}}, {}},
        {"type ids", {.typeIds = Ids{300, 400}}, {13, 14}},
        {"type ids empty", {.typeIds = Ids{}}, {}},
        {"floor 0: indoor there, outdoor always", {.floor = 0}, {10, 11, 14}},
        {"floor 1", {.floor = 1}, {10, 12, 13, 14}},
        {"floor 2 rounds altitude 1.6", {.floor = 2}, {10, 14, 15}},
        {"floor -3 keeps outdoor only", {.floor = -3}, {10, 14}},
        {"several fields at once", {.parentIds = Ids{10}, .groups = Ids{1, 3}, .floor = 2}, {15}},
        {"ids and type at once", {.locationIds = Ids{11, 12, 13}, .typeIds = Ids{200}}, {11, 12}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(service.locationIdsForQuery({}, c.filter), c.expected);
    }
}

TEST(AXLocationServiceFilter, BoundsKeepLocationsWhoseBoxMeetsTheFilterBox) {
    const auto service = venue();
    // Path optimisation looks for the room around a node with a box of
    // ±0.000001°; the room's anchor is its south-west corner, far away.
    const double lat = 55.0018;
    const double lng = 12.0017;
    const struct {
        const char* name;
        AXCoordinateBounds bounds;
        Ids expected;
    } cases[] = {
        {"2e-6 box inside the room", box(lat - 1e-6, lng - 1e-6, lat + 1e-6, lng + 1e-6), {10, 11}},
        {"corners given swapped", box(lat + 1e-6, lng + 1e-6, lat - 1e-6, lng - 1e-6), {10, 11}},
        {"touching the room's east edge", box(55.0015, 12.002, 55.0016, 12.0025), {10, 11}},
        {"touching a point location exactly", box(55.005, 12.005, 55.006, 12.006), {10, 12}},
        {"disjoint from everything", box(56.0, 13.0, 56.1, 13.1), {}},
        {"covering the desk", box(55.0014, 12.0014, 55.0016, 12.0016), {10, 11, 13}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(service.locationIdsForQuery({}, {.bounds = c.bounds}), c.expected);
        // With text the same test runs on the text matches instead of the tree.
        EXPECT_EQ(service.locationIdsForQuery({.text = "venue"}, {.bounds = c.bounds}), c.expected);
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
    const struct {
        bool ignoreSearchable;
        bool ignoreActive;
        Ids expected;
    } cases[] = {
        {false, false, {3}},
        {true, false, {1, 3}},
        {false, true, {3, 7}},
        {true, true, {0, 1, 3, 5, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "ignoreSearchable " << c.ignoreSearchable << " ignoreActive "
                                          << c.ignoreActive);
        AXFilter filter;
        filter.ignoreSearchableStatus = c.ignoreSearchable;
        filter.ignoreActiveStatus = c.ignoreActive;
        EXPECT_EQ(service.locationIdsForQuery({}, filter), c.expected);
        EXPECT_EQ(service.locationIdsForQuery({.text = "s"}, filter), c.expected);
    }
}

TEST(AXLocationServiceFilter, SkipAndTakeApplyAfterOrdering) {
    auto service = AXLocationService::create();
    // Store order 1..5; distance from (55, 12) orders them 5, 4, 3, 2, 1.
    for (std::int32_t id = 1; id <= 5; ++id) {
        service.addOrUpdateLocations({pointLocation(id, "desk", 55.0 + (6 - id) * 0.001, 12.0)});
    }
    const AXQuery byDistance{.near = AXCoordinate{55.0, 12.0}, .ordering = AXOrdering::distance};
    const struct {
        std::uint32_t skip;
        std::uint32_t take;
        Ids expected;
    } cases[] = {
        {0, std::numeric_limits<std::uint32_t>::max(), {5, 4, 3, 2, 1}},
        {0, 2, {5, 4}},
        {1, 2, {4, 3}},
        {4, 2, {1}},
        {5, 1, {}},
        {std::numeric_limits<std::uint32_t>::max(), std::numeric_limits<std::uint32_t>::max(), {}},
        {2, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "skip " << c.skip << " take " << c.take);
        AXFilter filter;
        filter.skip = c.skip;
        filter.take = c.take;
        EXPECT_EQ(service.locationIdsForQuery(byDistance, filter), c.expected);
        auto withText = byDistance;
        withText.text = "desk";
        EXPECT_EQ(service.locationIdsForQuery(withText, filter), c.expected);
    }
    EXPECT_EQ(service.locationIdsForQuery({}, {.take = 2, .skip = 1}), (Ids{2, 3}));
}

TEST(AXLocationServiceFilter, DefaultTakeIsUnlimited) {
    EXPECT_EQ(AXFilter{}.take, std::numeric_limits<std::uint32_t>::max());
    auto service = AXLocationService::create();
    std::vector<AXLocation> many;
    for (std::int32_t id = 0; id < 1000; ++id) {
        many.push_back(pointLocation(id, "seat"));
    }
    service.addOrUpdateLocations(many);
    EXPECT_EQ(service.locationIdsForQuery({}, {}).size(), 1000u);
    EXPECT_EQ(service.locationIdsForQuery({.text = "seat"}, {}).size(), 1000u);
}

}  // namespace
}  // namespace ambrell

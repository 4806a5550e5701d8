// What a host gets from the location-update factory: updates that answer the
// public location type, and builders whose copies and earlier products do not
// change behind the host's back.

#include <gtest/gtest.h>

#include "core/CVAmbrell.h"
#include "data/CVLocationInternal.h"

namespace ambrell {
namespace {

TEST(LocationUpdateFactory, AnUpdatesLocationIsThePublicLocationType) {
    const auto update = CVAmbrell::createLocationUpdateFactory()
                            .updateWithId("cart")
                            .name("Coffee cart")
                            .type("Kitchen")
                            .position({55.5, 12.5})
                            .floorIndex(2)
                            .build();
    const std::shared_ptr<CVLocation> location = update->location();
    ASSERT_TRUE(location);
    EXPECT_EQ(location->getLocationId(), "cart");
    EXPECT_EQ(location->getName(), "Coffee cart");
    EXPECT_EQ(location->getType(), "Kitchen");
    EXPECT_EQ(location->getFloorIndex(), 2);
    EXPECT_NE(update->location(), location) << "a new location per call";

    // The update itself, as the public protocol reads it.
    const CVLocationUpdate& asPublished = *update;
    EXPECT_EQ(asPublished.locationId(), "cart");
    EXPECT_EQ(asPublished.floorIndex(), 2);
    EXPECT_EQ(asPublished.categories(), std::nullopt);
}

// Where a location built from an update stands: the update's floor when it
// has one, else the prototype's, else the prototype's own height.
TEST(LocationUpdateFactory, TheLocationOfAnUpdateStandsOnTheFloorItWasGiven) {
    const auto noFloor = CVLocationUpdate::kFloorInvalid;
    struct Case {
        std::string name;
        std::optional<double> prototypeFloor;
        std::int64_t updateFloor;
        std::optional<double> floor;
        double z;
    };
    const std::vector<Case> cases{
        {"neither has a floor", std::nullopt, noFloor, std::nullopt, 0},
        {"only the prototype has one", 3, noFloor, 3, 3},
        {"only the update has one", std::nullopt, 2, 2, 2},
        {"both have one", 3, -1, -1, -1},
    };
    for (const auto& c : cases) {
        auto prototype = std::make_shared<CVLocationInternal>();
        prototype->locationId = "kiosk";
        prototype->setPosition(CVPoint(55.6, 12.5, 0));
        prototype->setFloorIndex(c.prototypeFloor);
        auto builder = CVAmbrell::createLocationUpdateFactory().updateWithLocation(prototype).position({55.7, 12.6});
        if (c.updateFloor != noFloor) builder.floorIndex(c.updateFloor);
        const auto location = builder.build()->location();
        ASSERT_TRUE(location) << c.name;
        EXPECT_EQ(location->getFloorIndex(), c.floor) << c.name;
        EXPECT_EQ(location->getPosition(), CVPoint(55.7, 12.6, c.z)) << c.name;
    }
}

TEST(LocationUpdateFactory, BuildersCopyAndUpdatesKeepWhatTheyWereBuiltWith) {
    auto builder = CVAmbrell::createLocationUpdateFactory().updateWithId("bus").name("Bus 7");
    const auto first = builder.build();
    auto copy = builder;
    copy.name("Bus 8");
    builder.floorIndex(1);

    EXPECT_EQ(first->name(), "Bus 7");
    EXPECT_EQ(first->floorIndex(), CVLocationUpdate::kFloorInvalid);
    EXPECT_EQ(builder.build()->name(), "Bus 7");
    EXPECT_EQ(builder.build()->floorIndex(), 1);
    EXPECT_EQ(copy.build()->name(), "Bus 8");
    EXPECT_EQ(copy.build()->floorIndex(), CVLocationUpdate::kFloorInvalid);

    // A moved-from builder still builds (moves copy).
    auto moved = std::move(copy);
    EXPECT_EQ(moved.build()->name(), "Bus 8");
    EXPECT_EQ(copy.build()->name(), "Bus 8");  // NOLINT(bugprone-use-after-move): the point of the check
}

}  // namespace
}  // namespace ambrell

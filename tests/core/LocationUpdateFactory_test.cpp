// What a host gets from the location-update factory: updates that answer the
// public location type, and builders whose copies and earlier products do not
// change behind the host's back.

#include <gtest/gtest.h>

#include "core/CVAmbrell.h"

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

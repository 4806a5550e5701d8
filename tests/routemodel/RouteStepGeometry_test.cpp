#include <limits>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "routemodel/CVRouteStepInternal.h"

namespace ambrell {
namespace {

std::shared_ptr<CVRouteCoordinateInternal> at(double lat, double lng, std::optional<double> zLevel = std::nullopt) {
    return std::make_shared<CVRouteCoordinateInternal>(lat, lng, zLevel);
}

CVRouteStepInternal stepBetween(std::shared_ptr<CVRouteCoordinateInternal> start,
                                std::shared_ptr<CVRouteCoordinateInternal> end) {
    CVRouteStepInternal step;
    step.setStart_location(std::move(start));
    step.setEnd_location(std::move(end));
    return step;
}

TEST(RouteStepHeading, IsTheBearingFromStartToEnd) {
    struct Case {
        double fromLat, fromLng, toLat, toLng;
        double heading;
    };
    const Case cases[] = {
        {0, 0, 0, 1, 90},
        {0, 0, 1, 0, 0},
        {0, 0, 0, -1, -90},
        {0, 0, -1, 0, 180},
        {0, 0, 0, 0, 0},
        // Copenhagen to Aarhus: west-north-west.
        {55.6761, 12.5683, 56.1629, 10.2039, -68.849053616},
    };
    for (const auto& [fromLat, fromLng, toLat, toLng, heading] : cases) {
        SCOPED_TRACE(testing::Message() << fromLat << "," << fromLng << " -> " << toLat << "," << toLng);
        EXPECT_NEAR(stepBetween(at(fromLat, fromLng), at(toLat, toLng)).heading(), heading, 1e-6);
    }
    EXPECT_DOUBLE_EQ(stepBetween(at(0, 0), at(0, 1)).heading(), 90);
}

TEST(RouteStepHeading, IsZeroWithoutBothLocations) {
    EXPECT_EQ(stepBetween(nullptr, at(0, 1)).heading(), 0);
    EXPECT_EQ(stepBetween(at(0, 0), nullptr).heading(), 0);
    EXPECT_EQ(CVRouteStepInternal().heading(), 0);
}

TEST(RouteStepPoints, CarryTheLocationsWithTheWholeFloor) {
    struct Case {
        std::optional<double> zLevel;
        double z;
        int zIndex;
    };
    const Case cases[] = {
        {std::nullopt, 0, 0}, {2, 2, 2}, {2.9, 2, 2}, {-1.5, -1, -1}, {std::numeric_limits<double>::quiet_NaN(), 0, 0},
    };
    for (const auto& [zLevel, z, zIndex] : cases) {
        SCOPED_TRACE(zLevel ? *zLevel : -999);
        const auto step = stepBetween(at(57.04, 9.91, zLevel), at(57.05, 9.92, 3));
        const auto start = step.startPoint();
        EXPECT_EQ(start.latitude(), 57.04);
        EXPECT_EQ(start.longitude(), 9.91);
        EXPECT_EQ(start.z(), z);
        EXPECT_EQ(start.zIndex(), zIndex);
        EXPECT_EQ(step.endPoint().coordinate(), (CLLocationCoordinate2D{57.05, 9.92}));
        EXPECT_EQ(step.endPoint().zIndex(), 3);
    }
    EXPECT_EQ(CVRouteStepInternal().startPoint().description(), "0,0,0");
}

}  // namespace
}  // namespace ambrell

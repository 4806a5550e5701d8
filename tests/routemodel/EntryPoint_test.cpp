#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "routemodel/CVRouteNetworkEntryPoint.h"

namespace ambrell {
namespace {

// The parts of a route-network node the entry point reads.
struct TestNode {
    struct Coordinate {
        double latitude;
        double longitude;
        double floor;
    };
    std::optional<std::string> label_;
    std::uint64_t boundary_;
    Coordinate coordinate_;

    [[nodiscard]] std::optional<std::string> label() const { return label_; }
    [[nodiscard]] std::uint8_t boundaryType() const { return static_cast<std::uint8_t>(boundary_ & 0xFF); }
    [[nodiscard]] Coordinate coordinate() const { return coordinate_; }
};

TEST(PointTexts, AreShortestExactDecimals) {
    struct Case {
        double latitude, longitude, z;
        const char* latLong;
        const char* description;
    };
    const Case cases[] = {
        {55.6761, 12.5683, 0, "55.6761,12.5683", "55.6761,12.5683,0"},
        {57.0431, 9.9187, 2, "57.0431,9.9187", "57.0431,9.9187,2"},
        {-33.8568, 151.2153, -1, "-33.8568,151.2153", "-33.8568,151.2153,-1"},
        {0.1 + 0.2, -0.0, 1.5, "0.30000000000000004,-0", "0.30000000000000004,-0,1.5"},
        {1e-7, 180, 10, "1e-07,180", "1e-07,180,10"},
    };
    for (const auto& [latitude, longitude, z, latLong, description] : cases) {
        SCOPED_TRACE(description);
        const CVPoint point(latitude, longitude, z);
        EXPECT_EQ(point.latLongString(), latLong);
        EXPECT_EQ(point.description(), description);
    }
}

TEST(PointTexts, FloorIndexIsTheWholePartOfZ) {
    EXPECT_EQ(CVPoint(0, 0, 2.9).zIndex(), 2);
    EXPECT_EQ(CVPoint(0, 0, -2.9).zIndex(), -2);
    EXPECT_EQ(CVPoint(0, 0, 1e12).zIndex(), std::numeric_limits<int>::max());
    EXPECT_EQ(CVPoint(0, 0, -std::numeric_limits<double>::infinity()).zIndex(), std::numeric_limits<int>::min());
    EXPECT_EQ(CVPoint(0, 0, std::numeric_limits<double>::quiet_NaN()).zIndex(), 0);
}

TEST(PointTexts, EqualityIsExact) {
    EXPECT_EQ(CVPoint(57.0431, 9.9187, 1), CVPoint(57.0431, 9.9187, 1));
    EXPECT_NE(CVPoint(57.0431, 9.9187, 1), CVPoint(57.0431, 9.9187, 2));
    EXPECT_NE(CVPoint(57.0431, 9.9187), CVPoint(57.0431 + 1e-12, 9.9187));
}

TEST(RouteNetworkEntryPoint, FromPlainValues) {
    const CVRouteNetworkEntryPoint entry("North door", CVBoundaryType::driving, 55.6761, 12.5683, 1);
    EXPECT_EQ(entry.label(), "North door");
    EXPECT_EQ(entry.boundary(), CVBoundaryType::driving);
    EXPECT_EQ(entry.coordinate(), (CLLocationCoordinate2D{55.6761, 12.5683}));
    EXPECT_EQ(entry.zIndex(), 1);
    EXPECT_EQ(entry.latLongString(), "55.6761,12.5683");
    EXPECT_EQ(entry.description(), "55.6761,12.5683,1");

    const CVRouteNetworkEntryPoint bare(std::nullopt, std::nullopt, 1, 2, 0);
    EXPECT_EQ(bare.label(), std::nullopt);
    EXPECT_EQ(bare.boundary(), std::nullopt);
}

TEST(RouteNetworkEntryPoint, FromARouteNetworkNode) {
    const auto node = std::make_shared<TestNode>(TestNode{"Bike gate", 0x108, {57.0431, 9.9187, -1}});
    const auto entry = CVRouteNetworkEntryPoint::newWithEntryPointNode(node);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->label(), "Bike gate");
    EXPECT_EQ(entry->boundary(), CVBoundaryType::bicycling);  // the low 8 bits only
    EXPECT_EQ(entry->description(), "57.0431,9.9187,-1");

    // Lists of points hold entry points and plain points alike.
    const std::shared_ptr<CVPoint> asPoint = entry;
    EXPECT_EQ(asPoint->latLongString(), "57.0431,9.9187");
    EXPECT_NE(std::dynamic_pointer_cast<CVRouteNetworkEntryPoint>(asPoint), nullptr);

    EXPECT_EQ(CVRouteNetworkEntryPoint::newWithEntryPointNode(std::shared_ptr<TestNode>()), nullptr);
    EXPECT_EQ(CVRouteNetworkEntryPoint::newWithEntryPointNode(static_cast<const TestNode*>(nullptr)), nullptr);
}

}  // namespace
}  // namespace ambrell

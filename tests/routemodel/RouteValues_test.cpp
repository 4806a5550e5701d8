#include <charconv>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "Ambrell/CVHighway.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "routemodel/CVExternalDirectionsService.h"
#include "routemodel/CVExternalDistanceMatrixService.h"
#include "routemodel/CVRouteNetworkEntryPoint.h"
#include "routemodel/CVRouteStepInternal.h"
#include "routemodel/FitSizeToMaxDimension.h"

namespace ambrell {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Plain decimals, never an exponent or a negative zero, that read back as
// the same numbers; no text at all for a number that is not finite.
TEST(Points, TextsAreShortestExactDecimals) {
    const std::tuple<double, double, double, const char*, const char*> cases[] = {
        {55.6761, 12.5683, 0, "55.6761,12.5683", "55.6761,12.5683,0"},
        {57.0431, 9.9187, 2, "57.0431,9.9187", "57.0431,9.9187,2"},
        {-33.8568, 151.2153, -1, "-33.8568,151.2153", "-33.8568,151.2153,-1"},
        {0.1 + 0.2, -0.0, 1.5, "0.30000000000000004,0", "0.30000000000000004,0,1.5"},
        {1e-7, 180, 10, "0.0000001,180", "0.0000001,180,10"},
        {0.0000144, -0.0000144, 100000, "0.0000144,-0.0000144", "0.0000144,-0.0000144,100000"},
        {-0.0, 1e21, -0.0, "0,1000000000000000000000", "0,1000000000000000000000,0"},
        {51.4777653, -1.23456789e-10, 1e-3, "51.4777653,-0.000000000123456789",
         "51.4777653,-0.000000000123456789,0.001"},
        {kNaN, 0, 0, "", ""},
        {0, -kInfinity, 0, "", ""},
        {51.5, -0.12, kNaN, "51.5,-0.12", ""},
    };
    const auto readsBack = [](std::string_view text, double number) {
        double read = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), read);
        return result.ec == std::errc() && result.ptr == text.data() + text.size() && read == number;
    };
    for (const auto& [latitude, longitude, z, latLong, description] : cases) {
        SCOPED_TRACE(description);
        const CVPoint point(latitude, longitude, z);
        EXPECT_EQ(point.latLongString(), latLong);
        EXPECT_EQ(point.description(), description);
        const auto parts = point.description().empty() ? std::vector<std::string>{} : [&] {
            std::vector<std::string> found;
            std::stringstream text(point.description());
            for (std::string part; std::getline(text, part, ',');) found.push_back(part);
            return found;
        }();
        if (parts.size() == 3) {
            EXPECT_TRUE(readsBack(parts[0], latitude) && readsBack(parts[1], longitude) && readsBack(parts[2], z));
        }
    }
    // The floor index is the whole part of z.
    for (const auto& [z, zIndex] : {std::pair(2.9, 2),
                                    {-2.9, -2},
                                    {1e12, std::numeric_limits<int>::max()},
                                    {-kInfinity, std::numeric_limits<int>::min()},
                                    {kNaN, 0}}) {
        EXPECT_EQ(CVPoint(0, 0, z).zIndex(), zIndex) << z;
    }
}

// The parts of a route-network node the entry point reads.
struct TestNode {
    struct Coordinate {
        double latitude, longitude, floor;
    };
    std::optional<std::string> labelText;
    std::uint64_t boundaryBits;
    Coordinate position;
    [[nodiscard]] std::optional<std::string> label() const { return labelText; }
    [[nodiscard]] std::uint8_t boundaryType() const { return static_cast<std::uint8_t>(boundaryBits & 0xFF); }
    [[nodiscard]] Coordinate coordinate() const { return position; }
};

TEST(RouteNetworkEntryPoint, FromPlainValuesOrARouteNetworkNode) {
    const CVRouteNetworkEntryPoint entry("North door", CVBoundaryType::driving, 55.6761, 12.5683, 1);
    EXPECT_EQ(std::tuple(entry.label(), entry.boundary(), entry.zIndex()),
              std::tuple("North door", CVBoundaryType::driving, 1));
    EXPECT_EQ(entry.coordinate(), (CLLocationCoordinate2D{55.6761, 12.5683}));
    EXPECT_EQ(entry.description(), "55.6761,12.5683,1");
    const CVRouteNetworkEntryPoint bare(std::nullopt, std::nullopt, 1, 2, 0);
    EXPECT_EQ(std::tuple(bare.label(), bare.boundary()), std::tuple(std::nullopt, std::nullopt));

    const auto node = std::make_shared<TestNode>(TestNode{"Bike gate", 0x108, {57.0431, 9.9187, -1}});
    const auto fromNode = CVRouteNetworkEntryPoint::newWithEntryPointNode(node);
    ASSERT_NE(fromNode, nullptr);
    // The boundary is read from the low 8 bits only.
    EXPECT_EQ(std::tuple(fromNode->label(), fromNode->boundary(), fromNode->description()),
              std::tuple("Bike gate", CVBoundaryType::bicycling, "57.0431,9.9187,-1"));
    // Lists of points hold entry points and plain points alike.
    const std::shared_ptr<CVPoint> asPoint = fromNode;
    EXPECT_EQ(asPoint->latLongString(), "57.0431,9.9187");
    EXPECT_NE(std::dynamic_pointer_cast<CVRouteNetworkEntryPoint>(asPoint), nullptr);
    EXPECT_EQ(CVRouteNetworkEntryPoint::newWithEntryPointNode(std::shared_ptr<TestNode>()), nullptr);
    EXPECT_EQ(CVRouteNetworkEntryPoint::newWithEntryPointNode(static_cast<const TestNode*>(nullptr)), nullptr);
}

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

TEST(RouteStep, HeadingIsTheBearingFromStartToEnd) {
    const std::tuple<double, double, double, double, double> cases[] = {
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
    // Zero without both locations.
    EXPECT_EQ(stepBetween(nullptr, at(0, 1)).heading(), 0);
    EXPECT_EQ(stepBetween(at(0, 0), nullptr).heading(), 0);
    EXPECT_EQ(CVRouteStepInternal().heading(), 0);
}

TEST(RouteStep, PointsCarryTheLocationsWithTheWholeFloor) {
    const std::tuple<std::optional<double>, double, int> cases[] = {
        {std::nullopt, 0, 0}, {2, 2, 2}, {2.9, 2, 2}, {-1.5, -1, -1}, {kNaN, 0, 0},
    };
    for (const auto& [zLevel, z, zIndex] : cases) {
        SCOPED_TRACE(zLevel ? *zLevel : -999);
        const auto step = stepBetween(at(57.04, 9.91, zLevel), at(57.05, 9.92, 3));
        const auto start = step.startPoint();
        EXPECT_EQ(std::tuple(start.latitude(), start.longitude(), start.z(), start.zIndex()),
                  std::tuple(57.04, 9.91, z, zIndex));
        EXPECT_EQ(step.endPoint().coordinate(), (CLLocationCoordinate2D{57.05, 9.92}));
        EXPECT_EQ(step.endPoint().zIndex(), 3);
    }
    EXPECT_EQ(CVRouteStepInternal().startPoint().description(), "0,0,0");
}

TEST(Highway, TypesAndTheirTexts) {
    const std::tuple<int, CVHighway, const char*> cases[] = {
        {0, CVHighway::unclassified(), "unclassified"},
        {1, CVHighway::footway(), "footway"},
        {2, CVHighway::residential(), "residential"},
        {3, CVHighway::service(), "service"},
        {4, CVHighway::ramp(), "ramp"},
        {5, CVHighway::stairs(), "steps"},
        {6, CVHighway::escalator(), "escalator"},
        {7, CVHighway::travelator(), "travelator"},
        {8, CVHighway::elevator(), "elevator"},
        {9, CVHighway::wheelchairramp(), "wheelchairramp"},
        {10, CVHighway::wheelchairlift(), "wheelchairlift"},
        {11, CVHighway::ladder(), "ladder"},
    };
    for (const auto& [rawType, highway, typeString] : cases) {
        SCOPED_TRACE(typeString);
        EXPECT_EQ(highway.rawType(), rawType);
        EXPECT_EQ(CVHighway::withType(rawType), highway);
        EXPECT_EQ(highway.typeString(), typeString);
        EXPECT_EQ(CVHighway::initWithTypeString(typeString), highway);
    }
    // Unknown types are unclassified; texts read in any case.
    EXPECT_EQ(CVHighway::withType(12), CVHighway::unclassified());
    EXPECT_EQ(CVHighway::withType(-1), CVHighway::unclassified());
    EXPECT_EQ(CVHighway(static_cast<CVHighwayType>(40)).rawType(), 0);
    EXPECT_EQ(CVHighway::initWithTypeString(""), CVHighway::unclassified());
    EXPECT_EQ(CVHighway::initWithTypeString("lift"), CVHighway::unclassified());
    EXPECT_EQ(CVHighway::initWithTypeString("ELEVATOR"), CVHighway::elevator());
    EXPECT_EQ(CVHighway::initWithTypeString("Stairs"), CVHighway::stairs());

    const std::vector<CVHighway> highways = {CVHighway::stairs(), CVHighway::elevator(), CVHighway::ladder()};
    const auto strings = CVHighway::highwaysAsStrings(highways);
    EXPECT_EQ(strings, (std::vector<std::string>{"steps", "elevator", "ladder"}));
    EXPECT_EQ(CVHighway::stringsAsHighways(strings), highways);
    EXPECT_TRUE(CVHighway::highwaysAsStrings({}).empty());
}

TEST(FitSizeToMaxDimension, Table) {
    const std::tuple<double, double, double, CVSize> cases[] = {
        // Both within the maximum: unchanged, fractions included.
        {100, 100, 100, {100, 100}},
        {100, 40, 99.5, {40, 99.5}},
        {100, 0, 0, {0, 0}},
        // Scaled by maximum / larger side, truncated toward zero.
        {100, 400, 200, {100, 50}},
        {100, 333, 100, {100, 30}},
        {100, 100, 333, {30, 100}},
        {64, 1000, 999, {64, 63}},
        {1, 3, 2, {1, 0}},
        // Not finite: nothing to draw.
        {100, kInfinity, 200, {0, 0}},
        {100, 200, kNaN, {0, 0}},
        {kNaN, 400, 200, {0, 0}},
        {kInfinity, 400, 200, {0, 0}},
        // Negative results clamp to 0.
        {100, -50, 20, {0, 20}},
        {-10, 400, 200, {0, 0}},
        // Results past the 64-bit range.
        {1e300, 1e300, 1e299, {0, 0}},
    };
    for (const auto& [maximum, width, height, fitted] : cases) {
        SCOPED_TRACE(testing::Message() << maximum << ": " << width << " x " << height);
        EXPECT_EQ(fitSizeToMaxDimension(maximum, width, height), fitted);
    }
}

// An adapter as a map provider would write one: it answers with route-model
// objects built from what it was asked.
class OutdoorAdapter final : public CVExternalDirectionsService, public CVExternalDistanceMatrixService {
public:
    platform::Awaitable<std::shared_ptr<CVRouteInternal>> query(CLLocationCoordinate2D, CLLocationCoordinate2D,
                                                                CVDirectionsConfig config) override {
        auto leg = std::make_shared<CVRouteLegInternal>();
        leg->setEnd_address(config.language);
        auto route = std::make_shared<CVRouteInternal>();
        route->setLegs({leg});
        co_return route;
    }
    platform::Awaitable<std::optional<CVDistanceMatrixResult>> query(Coordinates origins, Coordinates,
                                                                     CVDirectionsConfig) override {
        CVDistanceMatrixResult result;
        result.origin_addresses.emplace();
        for (const auto& origin : origins) {
            result.origin_addresses->push_back(CVPoint(origin.latitude, origin.longitude).latLongString());
        }
        co_return result;
    }
    // Keeps the first two origins, as a service with a small matrix limit would.
    std::pair<Points, Points> pruneMatrixDimensions(Points origins, Points destinations) override {
        if (origins.size() > 2) origins.resize(2);
        return {std::move(origins), std::move(destinations)};
    }
};

template <typename T>
T wait(platform::Awaitable<T> work) {
    return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), std::move(work));
}

TEST(OutdoorServices, DirectionsAndMatrixQueriesAnswerThroughTheProtocols) {
    OutdoorAdapter adapter;
    CVExternalDirectionsService& directions = adapter;
    CVDirectionsConfig config;
    config.language = "da";
    const auto route = wait(directions.query({57.0434, 9.9191}, {57.049, 9.929}, config));
    ASSERT_NE(route, nullptr);
    EXPECT_EQ(route->legsInternal().at(0)->end_address(), "da");

    // Matrix candidates are pruned, then queried.
    CVExternalDistanceMatrixService& matrix = adapter;
    const auto [origins, destinations] = matrix.pruneMatrixDimensions(
        {std::make_shared<CVRouteNetworkEntryPoint>("A", CVBoundaryType::walking, 57.1, 9.1, 0),
         std::make_shared<CVRouteNetworkEntryPoint>("B", CVBoundaryType::walking, 57.2, 9.2, 0),
         std::make_shared<CVPoint>(57.3, 9.3, 1)},
        {std::make_shared<CVPoint>(57, 9)});
    ASSERT_EQ(origins.size(), 2U);
    const auto answer = wait(matrix.query({origins[0]->coordinate(), origins[1]->coordinate()},
                                          {destinations[0]->coordinate()}, CVDirectionsConfig()));
    EXPECT_EQ(answer.value().origin_addresses, (std::vector<std::string>{"57.1,9.1", "57.2,9.2"}));
}

}  // namespace
}  // namespace ambrell

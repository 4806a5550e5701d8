// The directions planner on the sample solution's two venues (and on two small
// networks of one door each), with the loopback web service answering
// directions and distance matrices and a fake map adapter outdoors: which road
// each query takes, what it asks of whom, which entry points the matrices
// choose, and how the legs come together.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

#include "Ambrell/CVError.h"
#include "platform/FileSystem.h"
#include "routing/CVDirectionsServiceImpl.h"
#include "routing/CVPlaceLookup.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/CVRouteNetworkService.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/routing/DirectionsTesting.h"

namespace ambrell::directions_planner_test {
namespace {

using Points = CVDirectionsServiceImpl::Points;

// Inside the sample's venues, and outside both.
const CVPoint kMeridian(51.4779, -0.0015, 0);
const CVPoint kMeridianUpstairs(51.4782, -0.0025, 1);
const CVPoint kHarbour(56.1537, 10.2130, 0);
const CVPoint kLondon(51.5, -0.12);
const CVPoint kAarhus(56.16, 10.2);
// Inside the small networks.
const CVPoint kWest(50.001, 5.001);
const CVPoint kEast(50.001, 6.0015);

std::vector<std::string> texts(const Points& points) {
    std::vector<std::string> found;
    for (const auto& point : points) found.push_back(point ? point->latLongString() : "null");
    return found;
}

std::string labelOf(const std::shared_ptr<CVRouteNetworkEntryPoint>& entryPoint) {
    return entryPoint ? entryPoint->label().value_or("-") : "none";
}

class DirectionsPlanner : public test::CapturedLog, public test::SampleServiceFixture {
protected:
    DirectionsPlanner() {
        entry_->key = id();
        mapControl_->directions = directions_;
        mapControl_->matrix = matrix_;
        entry_->mapControl = mapControl_;
        CVPlaceLookup::install(std::make_shared<test::NowherePlaces>());
        for (const auto* graph : {"meridian", "harbour", "west", "east"}) {
            service_.web().handle("/" + id() + "/api/directions/" + graph, [](const test::RecordedRequest& request) {
                return test::LoopbackWebService::Response{
                    200,
                    test::oneStepRouteDocument(test::pointOf(test::queryValue(request, "origin").value_or("")),
                                               test::pointOf(test::queryValue(request, "destination").value_or(""))),
                    {}};
            });
        }
        service_.web().handle("/" + id() + "/api/distancematrix",
                              [this](const test::RecordedRequest& request) { return matrixAnswer(request); });
    }
    ~DirectionsPlanner() override {
        CVEntryObjectSeam::install(nullptr);
        CVPlaceLookup::install(nullptr);
    }

    // The venue matrices: every element "OK" with cost(graph, row, column),
    // none for an element that is not "OK"; a status or HTTP status per graph.
    using Cost = std::function<std::optional<long long>(const std::string&, std::size_t, std::size_t)>;
    test::LoopbackWebService::Response matrixAnswer(const test::RecordedRequest& request) {
        const auto graph = test::queryValue(request, "graphId").value_or("");
        const auto rows = test::split(test::queryValue(request, "origins").value_or(""), '|').size();
        const auto columns = test::split(test::queryValue(request, "destinations").value_or(""), '|').size();
        std::lock_guard lock(mutex_);
        if (const auto status = httpStatus_.find(graph); status != httpStatus_.end()) {
            return {status->second, "{}", {}};
        }
        boost::json::array matrixRows;
        for (std::size_t row = 0; row < rows; ++row) {
            boost::json::array elements;
            for (std::size_t column = 0; column < columns; ++column) {
                const auto cost = venueCost_ ? venueCost_(graph, row, column) : std::optional<long long>(10);
                elements.push_back(boost::json::object{{"status", cost ? "OK" : "ZERO_RESULTS"},
                                                       {"duration", {{"text", "t"}, {"value", cost.value_or(0)}}}});
            }
            matrixRows.push_back(boost::json::object{{"elements", std::move(elements)}});
        }
        const auto status = matrixStatus_.count(graph) ? matrixStatus_.at(graph) : std::string("OK");
        return {200, boost::json::serialize(boost::json::object{{"status", status}, {"rows", matrixRows}}), {}};
    }
    void setVenueCost(Cost cost) {
        std::lock_guard lock(mutex_);
        venueCost_ = std::move(cost);
    }
    void setMatrixStatus(const std::string& graph, std::string status) {
        std::lock_guard lock(mutex_);
        matrixStatus_[graph] = std::move(status);
    }
    void setHttpStatus(const std::string& graph, int status) {
        std::lock_guard lock(mutex_);
        httpStatus_[graph] = status;
    }
    // Route networks of two small venues instead of the sample's, as the host
    // app's bundled copy (the data set of this fixture takes no downloads of
    // its own).
    void serveOneDoorNetworks() {
        const auto bytes =
            platform::readFile(std::filesystem::path(AMBRELL_ROUTING_TEST_DOCUMENTS) / "one-door-networks.json");
        ASSERT_TRUE(bytes);
        std::filesystem::create_directories(noResources_ / "res");
        ASSERT_FALSE(platform::writeFileAtomically(noResources_ / "res" / "ax_sync_graph.json", *bytes));
        platform::Paths::setResourcesFolder(noResources_.path());
    }

    // The planner made now, with the entry object as the test set it up.
    std::shared_ptr<CVDirectionsServiceImpl> planner() {
        CVEntryObjectSeam::install(entry_);
        planner_ = std::make_shared<CVDirectionsServiceImpl>();
        return planner_;
    }
    std::shared_ptr<CVRoute> route(const CVPoint& from, const CVPoint& to, std::string mode = "walking",
                                   std::optional<std::vector<CVUserRole>> roles = std::nullopt) {
        if (!planner_) planner();
        return test::run(planner_->route(from, to, std::nullopt, false, std::move(mode), std::nullopt, std::nullopt,
                                         std::nullopt, std::nullopt, std::move(roles)));
    }
    // The case of the error routing throws, none when it answers.
    std::optional<int> failure(const CVPoint& from, const CVPoint& to, std::string mode = "walking") {
        try {
            route(from, to, std::move(mode));
        } catch (const CVError& error) {
            return error.rawValue();
        }
        return std::nullopt;
    }

    [[nodiscard]] std::vector<test::RecordedRequest> directionsRequests(std::string_view graph) {
        return service_.web().requestsTo("/" + id() + "/api/directions/" + std::string(graph));
    }
    [[nodiscard]] std::size_t allDirectionsRequests() {
        std::size_t count = 0;
        for (const auto* graph : {"meridian", "harbour", "west", "east"}) count += directionsRequests(graph).size();
        return count;
    }
    [[nodiscard]] std::vector<test::RecordedRequest> matrixRequests() {
        return service_.web().requestsTo("/" + id() + "/api/distancematrix");
    }
    [[nodiscard]] std::vector<std::string> matrixList(std::size_t request, std::string_view name) {
        const auto requests = matrixRequests();
        if (request >= requests.size()) return {};
        return test::split(test::queryValue(requests[request], name).value_or(""), '|');
    }
    // The sample's entry points of a graph, open to no role.
    [[nodiscard]] Points entryPoints(std::string_view graph) const {
        const auto bytes = platform::readFile(service_.sample() / "service" / "sync" / "graph_en.json");
        const auto data = CVRouteNetworkData::initWithData(*bytes);
        Points points;
        for (const auto& entryPoint : data->networkEntryPointsForRoutingGraphId(graph, {}))
            points.push_back(entryPoint);
        return points;
    }
    // The door at about that place.
    [[nodiscard]] static std::string latLongNear(const Points& points, double latitude, double longitude) {
        for (const auto& point : points) {
            if (std::abs(point->latitude() - latitude) < 1e-6 && std::abs(point->longitude() - longitude) < 1e-6) {
                return point->latLongString();
            }
        }
        return "missing " + std::to_string(latitude) + "," + std::to_string(longitude);
    }
    [[nodiscard]] static std::string latLong(const Points& points, std::string_view label) {
        for (const auto& point : points) {
            const auto entryPoint = std::dynamic_pointer_cast<CVRouteNetworkEntryPoint>(point);
            if (entryPoint && entryPoint->label() == label) return entryPoint->latLongString();
        }
        return "missing " + std::string(label);
    }

    std::shared_ptr<test::FakeEntry> entry_ = std::make_shared<test::FakeEntry>();
    std::shared_ptr<test::FakeMapControl> mapControl_ = std::make_shared<test::FakeMapControl>();
    std::shared_ptr<test::FakeOutdoorDirections> directions_ = std::make_shared<test::FakeOutdoorDirections>();
    std::shared_ptr<test::FakeOutdoorMatrix> matrix_ = std::make_shared<test::FakeOutdoorMatrix>();
    std::shared_ptr<CVDirectionsServiceImpl> planner_;
    test::TempDirectory noResources_;

    std::mutex mutex_;
    Cost venueCost_;
    std::map<std::string, std::string> matrixStatus_;
    std::map<std::string, int> httpStatus_;
};

TEST_F(DirectionsPlanner, OneGraphMakesExactlyOneDirectionsRequest) {
    const auto found = route(kMeridian, kMeridianUpstairs);
    ASSERT_TRUE(found);
    const auto requests = directionsRequests("meridian");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(allDirectionsRequests(), 1u);
    EXPECT_EQ(test::queryValue(requests[0], "origin"), "51.4779,-0.0015,0");
    EXPECT_EQ(test::queryValue(requests[0], "destination"), "51.4782,-0.0025,1");
    EXPECT_TRUE(matrixRequests().empty());
    EXPECT_TRUE(directions_->calls.events().empty());
    EXPECT_TRUE(matrix_->calls.events().empty());
    // The web answer's steps get their instruction texts.
    EXPECT_TRUE(planner_->routes.empty()) << "no slots on this road";
    const auto internal = std::dynamic_pointer_cast<CVRouteInternal>(found);
    ASSERT_TRUE(internal);
    EXPECT_EQ(internal->legsInternal().at(0)->stepsInternal().at(0)->html_instructions(), "Continue straight ahead");
    EXPECT_EQ(planner_->originVenueGraphId, "meridian");
    EXPECT_TRUE(logs_.sink().contains("()=> originGraphId=meridian, destinationGraphId=meridian"));
}

TEST_F(DirectionsPlanner, BothOutsideGoesToTheAdapterOrNowhere) {
    const auto found = route(kLondon, kAarhus, "bicycling");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->legs().at(0)->routeLegType(), CVRouteLegType::outdoor);
    EXPECT_EQ(directions_->calls.events(),
              std::vector<std::string>{"from 51.500000,-0.120000 to 56.160000,10.200000 bicycling"});
    const auto config = directions_->configs().at(0);
    EXPECT_EQ(config.language, "en");
    EXPECT_TRUE(config.avoidTypes.empty());
    EXPECT_TRUE(logs_.sink().contains("()=> originGraphId=nil, destinationGraphId=nil"));

    mapControl_->directions.reset();
    planner_.reset();
    EXPECT_EQ(failure(kLondon, kAarhus), std::nullopt);
    EXPECT_FALSE(route(kLondon, kAarhus)) << "no adapter directions: no route, no error";
    entry_->mapControl = std::make_shared<CVActiveMapControl>();
    planner_.reset();
    EXPECT_FALSE(route(kLondon, kAarhus)) << "a map control that offers nothing";
    EXPECT_EQ(allDirectionsRequests(), 0u);
    EXPECT_TRUE(matrixRequests().empty());
}

// Two small networks of one door each: the doors are taken without matrices.
TEST_F(DirectionsPlanner, OneDoorEachSideNeedsNoMatrix) {
    serveOneDoorNetworks();
    const auto found = std::dynamic_pointer_cast<CVRouteInternal>(route(kWest, kEast, "driving"));
    ASSERT_TRUE(found);
    EXPECT_TRUE(matrixRequests().empty());
    EXPECT_EQ(matrix_->calls.events(), std::vector<std::string>{"prune 1x1"});
    EXPECT_EQ(labelOf(planner_->bestOriginEntry), "West door");
    EXPECT_EQ(labelOf(planner_->bestDestinationEntry), "East gate");
    ASSERT_EQ(directionsRequests("west").size(), 1u);
    ASSERT_EQ(directionsRequests("east").size(), 1u);
    EXPECT_EQ(test::queryValue(directionsRequests("west")[0], "destination"), planner_->bestOriginEntry->description());
    EXPECT_EQ(test::queryValue(directionsRequests("west")[0], "mode"), "driving");
    // The east door is a driving gate: the last leg is walked.
    EXPECT_EQ(test::queryValue(directionsRequests("east")[0], "origin"), planner_->bestDestinationEntry->description());
    EXPECT_EQ(test::queryValue(directionsRequests("east")[0], "mode"), "walking");
    EXPECT_EQ(directions_->calls.events(),
              std::vector<std::string>{"from 50.000000,5.001000 to 50.000000,6.001000 driving"});
    // The west steps fold into the drive; the walk from the gate, in another
    // mode, stays a leg of its own and starts at the gate's name.
    ASSERT_EQ(found->legsInternal().size(), 2u);
    const auto& drive = found->legsInternal()[0];
    ASSERT_EQ(drive->stepsInternal().size(), 2u);
    EXPECT_EQ(drive->stepsInternal()[0]->travel_mode(), "driving");
    EXPECT_EQ(drive->distance(), 1000 + 10);
    EXPECT_EQ(drive->duration(), 600 + 12);
    const auto& walk = found->legsInternal()[1];
    EXPECT_EQ(walk->start_locationInternal()->label(), "East gate");
    EXPECT_EQ(walk->stepsInternal().at(0)->start_locationInternal()->label(), "East gate");
}

TEST_F(DirectionsPlanner, AOneVenueJourneyNeedsTheOutdoorMatrix) {
    mapControl_->matrix.reset();
    EXPECT_EQ(failure(kMeridian, kLondon), static_cast<int>(CVErrorCase::invalidRouteQuery));
    // The venue matrix was asked, from the origin to the walking doors, nearest
    // to London first.
    ASSERT_EQ(matrixRequests().size(), 1u);
    EXPECT_EQ(test::queryValue(matrixRequests()[0], "graphId"), "meridian");
    EXPECT_EQ(matrixList(0, "origins"), std::vector<std::string>{"51.4779,-0.0015,0"});
    const auto doors = entryPoints("meridian");
    EXPECT_EQ(matrixList(0, "destinations"),
              (std::vector<std::string>{latLong(doors, "West gate"), latLongNear(doors, 51.4778731, -0.001875),
                                        latLong(doors, "North entrance"), latLongNear(doors, 51.4777653, 0)}));
    EXPECT_EQ(allDirectionsRequests(), 0u);
    EXPECT_TRUE(directions_->calls.events().empty());
}

TEST_F(DirectionsPlanner, AMatrixThatIsNotOkStopsBeforeAnyLeg) {
    setMatrixStatus("meridian", "INVALID_REQUEST");
    EXPECT_EQ(failure(kMeridian, kLondon), static_cast<int>(CVErrorCase::invalidRouteQuery));
    EXPECT_EQ(matrix_->calls.events(), (std::vector<std::string>{"prune 4x1", "query 4x1"}));
    EXPECT_EQ(allDirectionsRequests(), 0u);
    EXPECT_TRUE(directions_->calls.events().empty());

    planner_.reset();
    setMatrixStatus("meridian", "OK");
    matrix_->answer = [](const auto&, const auto&) {
        auto result = CVDistanceMatrixResult::decode(test::matrixDocument(4, 1, [](auto, auto) { return 1; }));
        result.status.reset();
        return std::optional(result);
    };
    EXPECT_EQ(failure(kMeridian, kLondon), static_cast<int>(CVErrorCase::invalidRouteQuery)) << "no status";
    matrix_->answer = [](const auto&, const auto&) { return std::optional<CVDistanceMatrixResult>(); };
    planner_.reset();
    EXPECT_EQ(failure(kMeridian, kLondon), static_cast<int>(CVErrorCase::invalidRouteQuery)) << "no matrix";
    EXPECT_EQ(allDirectionsRequests(), 0u);
}

// Meridian to Harbour: three matrices; with equal costs the first origin door
// and then the first destination door win.
TEST_F(DirectionsPlanner, EqualCostsPickTheLowestIndexesAndTheChainIsJoined) {
    const auto found = std::dynamic_pointer_cast<CVRouteInternal>(route(kMeridian, kHarbour));
    ASSERT_TRUE(found);
    ASSERT_EQ(matrixRequests().size(), 2u);
    EXPECT_EQ(test::queryValue(matrixRequests()[0], "graphId"), "meridian");
    EXPECT_EQ(test::queryValue(matrixRequests()[1], "graphId"), "harbour");
    EXPECT_EQ(matrixList(1, "destinations"), std::vector<std::string>{"56.1537,10.213,0"});
    EXPECT_EQ(matrix_->calls.events(), (std::vector<std::string>{"prune 4x2", "query 4x2"}));
    ASSERT_TRUE(planner_->bestOriginEntry && planner_->bestDestinationEntry);
    EXPECT_EQ(planner_->bestOriginEntry, planner_->originEntryPoints.front());
    EXPECT_EQ(planner_->bestDestinationEntry, planner_->destinationEntryPoints.front());
    EXPECT_EQ(matrixList(0, "destinations").front(), planner_->bestOriginEntry->latLongString());

    // Venue leg, outdoor leg, venue leg from the chosen doors.
    EXPECT_EQ(test::queryValue(directionsRequests("meridian").at(0), "destination"),
              planner_->bestOriginEntry->description());
    EXPECT_EQ(test::queryValue(directionsRequests("harbour").at(0), "origin"),
              planner_->bestDestinationEntry->description());
    EXPECT_EQ(test::queryValue(directionsRequests("harbour").at(0), "mode"), "walking");
    ASSERT_EQ(found->legsInternal().size(), 1u) << "both venue legs fold into the walk outdoors";
    const auto& steps = found->legsInternal()[0]->stepsInternal();
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[2]->start_locationInternal()->label(), planner_->bestDestinationEntry->label());
    EXPECT_EQ(found, planner_->routes.front());
}

TEST_F(DirectionsPlanner, TheCheapestCombinationWinsAndUnusableElementsAreSkipped) {
    // Origin doors 0..3 cost 40, 30, 20, 10 inside; outdoors door i to
    // destination door j costs 5 * (i + j); the destination's first door is
    // unreachable inside, the second costs 50.
    setVenueCost([](const std::string& graph, std::size_t row, std::size_t column) -> std::optional<long long> {
        if (graph == "meridian") return 40 - 10 * static_cast<long long>(column);
        return row == 0 ? std::nullopt : std::optional<long long>(50);
    });
    matrix_->answer = [](const auto& origins, const auto& destinations) {
        return std::optional(CVDistanceMatrixResult::decode(test::matrixDocument(
            origins.size(), destinations.size(), [](std::size_t i, std::size_t j) { return 5 * (i + j); })));
    };
    ASSERT_TRUE(route(kMeridian, kHarbour));
    EXPECT_EQ(planner_->bestOriginEntry, planner_->originEntryPoints.at(3));
    EXPECT_EQ(planner_->bestDestinationEntry, planner_->destinationEntryPoints.at(1));

    // A tie between (0, 1) and (1, 0): the lower origin index wins.
    setVenueCost({});
    matrix_->answer = [](const auto& origins, const auto& destinations) {
        return std::optional(CVDistanceMatrixResult::decode(test::matrixDocument(
            origins.size(), destinations.size(), [](std::size_t i, std::size_t j) { return i + j == 1 ? 5 : 100; })));
    };
    planner_.reset();
    ASSERT_TRUE(route(kMeridian, kHarbour));
    EXPECT_EQ(planner_->bestOriginEntry, planner_->originEntryPoints.at(0));
    EXPECT_EQ(planner_->bestDestinationEntry, planner_->destinationEntryPoints.at(1));

    // An outdoor element that is not "OK" has no duration and never wins:
    // between the doors (three matrices) and from outside into a venue (the
    // outdoor matrix first). Costs are otherwise equal, so the next in order does.
    const auto unreachableFirst = [](const auto& origins, const auto& destinations) {
        auto result = CVDistanceMatrixResult::decode(
            test::matrixDocument(origins.size(), destinations.size(), [](std::size_t, std::size_t) { return 100; }));
        auto& element = (*result.rows).at(0).elements->at(0);
        element.status = "ZERO_RESULTS";
        element.duration.reset();
        return std::optional(result);
    };
    matrix_->answer = unreachableFirst;
    planner_.reset();
    ASSERT_TRUE(route(kMeridian, kHarbour));
    EXPECT_EQ(planner_->bestOriginEntry, planner_->originEntryPoints.at(0));
    EXPECT_EQ(planner_->bestDestinationEntry, planner_->destinationEntryPoints.at(1));
    planner_.reset();
    ASSERT_TRUE(route(kLondon, kMeridian));
    EXPECT_EQ(planner_->bestOriginEntry, planner_->destinationEntryPoints.at(1));
}

TEST_F(DirectionsPlanner, ADrivingDoorIsLeftOnFoot) {
    const auto found = route(kMeridian, kHarbour, "driving");
    ASSERT_TRUE(found);
    // The harbour has one driving door; the meridian three (one of them also
    // a walking door), nearest to the origin first.
    EXPECT_EQ(labelOf(planner_->bestDestinationEntry), "Parking 1");
    const auto doors = entryPoints("meridian");
    EXPECT_EQ(matrixList(0, "destinations"),
              (std::vector<std::string>{latLong(doors, "Parking 2"), latLong(doors, "North entrance"),
                                        latLong(doors, "Parking 1")}));
    EXPECT_EQ(test::queryValue(directionsRequests("meridian").at(0), "mode"), "driving");
    EXPECT_EQ(test::queryValue(directionsRequests("harbour").at(0), "mode"), "walking");
    EXPECT_EQ(directions_->configs().at(0).travelMode, "driving");
}

TEST_F(DirectionsPlanner, BicyclingFallsBackToWalkingDoors) {
    ASSERT_TRUE(route(kMeridian, kHarbour, "bicycling"));
    const auto doors = entryPoints("meridian");
    EXPECT_EQ(matrixList(0, "destinations"), std::vector<std::string>{latLong(doors, "Bicycle stand")});
    // The harbour has no bicycle door: its walking doors, nearest to the origin first.
    const auto harbourDoors = entryPoints("harbour");
    EXPECT_EQ(matrixList(1, "origins"), (std::vector<std::string>{latLong(harbourDoors, "Main entrance"),
                                                                  latLong(harbourDoors, "North entrance")}));
    EXPECT_EQ(test::queryValue(directionsRequests("harbour").at(0), "mode"), "bicycling");
}

TEST_F(DirectionsPlanner, APrunedAndReorderedListIsUsedInItsOrder) {
    // The adapter keeps the last three origin doors, reversed.
    matrix_->prune = [](Points origins, Points destinations) {
        Points kept(origins.rbegin(), origins.rend() - 1);
        return std::pair(kept, destinations);
    };
    // Inside, the first door sent is the cheapest.
    setVenueCost([](const std::string&, std::size_t, std::size_t column) -> std::optional<long long> {
        return static_cast<long long>(column);
    });
    ASSERT_TRUE(route(kMeridian, kLondon));
    const auto doors = entryPoints("meridian");
    // Walking doors nearest London first, reversed, the nearest dropped.
    EXPECT_EQ(matrixList(0, "destinations"),
              (std::vector<std::string>{latLongNear(doors, 51.4777653, 0), latLong(doors, "North entrance"),
                                        latLongNear(doors, 51.4778731, -0.001875)}));
    EXPECT_EQ(matrixList(0, "destinations"), texts(planner_->originEntryPoints));
    EXPECT_EQ(planner_->bestOriginEntry, planner_->originEntryPoints.front());
    EXPECT_EQ(directions_->calls.events().size(), 1u);

    // Plain points handed back are never taken for doors.
    planner_.reset();
    matrix_->prune = [](Points origins, Points destinations) {
        Points plain;
        for (const auto& point : origins) plain.push_back(std::make_shared<CVPoint>(*point));
        return std::pair(plain, destinations);
    };
    EXPECT_FALSE(route(kMeridian, kLondon)) << "nothing chosen: no route";
    EXPECT_FALSE(planner_->bestOriginEntry);

    // A null, or a point with no finite place, handed back is left out of the
    // candidates as it is out of the texts sent: column i still names door i.
    planner_.reset();
    service_.web().clearRequests();
    matrix_->prune = [](Points origins, Points destinations) {
        const auto nowhere = std::make_shared<CVPoint>(std::nan(""), 0.0);
        return std::pair(Points{nullptr, origins.at(0), nowhere, origins.at(1)}, destinations);
    };
    setVenueCost([](const std::string&, std::size_t, std::size_t column) -> std::optional<long long> {
        return column == 1 ? 1 : 10;
    });
    ASSERT_TRUE(route(kMeridian, kLondon));
    ASSERT_EQ(planner_->originEntryPoints.size(), 2u);
    EXPECT_EQ(matrixList(0, "destinations"), texts(planner_->originEntryPoints));
    EXPECT_EQ(planner_->bestOriginEntry, planner_->originEntryPoints[1]);
}

// Driving and transit doors are ordered by the distance to their own side's
// end point, the others by the distance to the other end.
TEST(EntryPointFilter, OrdersEachModesDoorsByTheRightEnd) {
    // Two doors of each kind: the "near" one of each pair lies by the side's
    // own end point, the "far" one by the other end.
    const CVPoint own(50, 5);
    const CVPoint other(50, 6);
    const auto door = [](const char* label, CVBoundaryType boundary, double longitude) {
        return std::make_shared<CVRouteNetworkEntryPoint>(label, boundary, 50.0, longitude, 0.0);
    };
    const Points candidates{
        door("walk far", CVBoundaryType::walking, 5.9),   door("walk near", CVBoundaryType::walking, 5.1),
        door("bike far", CVBoundaryType::bicycling, 5.9), door("bike near", CVBoundaryType::bicycling, 5.1),
        door("car far", CVBoundaryType::driving, 5.9),    door("car near", CVBoundaryType::driving, 5.1),
        door("stop far", CVBoundaryType::transit, 5.9),   door("stop near", CVBoundaryType::transit, 5.1)};
    const std::tuple<CVTravelMode, std::vector<std::string>> rows[] = {
        {CVTravelMode::walking, {"walk far", "walk near"}},
        {CVTravelMode::bicycling, {"bike far", "bike near"}},
        {CVTravelMode::driving, {"car near", "car far"}},
        {CVTravelMode::transit, {"stop near", "stop far"}},
    };
    for (const auto& [mode, expected] : rows) {
        std::vector<std::string> labels;
        for (const auto& point : CVDirectionsServiceImpl::filterEntryPoints(candidates, mode, own, other)) {
            labels.push_back(labelOf(std::dynamic_pointer_cast<CVRouteNetworkEntryPoint>(point)));
        }
        EXPECT_EQ(labels, expected) << static_cast<int>(mode);
    }
}

TEST_F(DirectionsPlanner, FromOutsideIntoAVenue) {
    const auto found = std::dynamic_pointer_cast<CVRouteInternal>(route(kLondon, kMeridian));
    ASSERT_TRUE(found);
    EXPECT_EQ(matrix_->calls.events(), (std::vector<std::string>{"prune 1x4", "query 1x4"}));
    ASSERT_EQ(matrixRequests().size(), 1u);
    EXPECT_EQ(matrixList(0, "destinations"), std::vector<std::string>{"51.4779,-0.0015,0"});
    EXPECT_EQ(matrixList(0, "origins"), texts(planner_->destinationEntryPoints));
    EXPECT_EQ(planner_->bestOriginEntry, planner_->destinationEntryPoints.front());
    EXPECT_EQ(test::queryValue(directionsRequests("meridian").at(0), "origin"),
              planner_->bestOriginEntry->description());
    const auto& steps = found->legsInternal().at(0)->stepsInternal();
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[1]->start_locationInternal()->label(), planner_->bestOriginEntry->label());
}

TEST_F(DirectionsPlanner, AnAdapterWithoutRouteEndsTheChain) {
    directions_->answerNone = true;
    EXPECT_EQ(failure(kMeridian, kHarbour), static_cast<int>(CVErrorCase::routeNotFound));
    EXPECT_EQ(directionsRequests("meridian").size(), 1u);
    EXPECT_TRUE(directionsRequests("harbour").empty());
    mapControl_->directions.reset();
    planner_.reset();
    EXPECT_EQ(failure(kMeridian, kLondon), static_cast<int>(CVErrorCase::routeNotFound)) << "no adapter directions";
}

TEST_F(DirectionsPlanner, AFailingVenueMatrixStopsTheLaterRequests) {
    setHttpStatus("meridian", 500);
    EXPECT_EQ(failure(kMeridian, kHarbour), static_cast<int>(CVErrorCase::requestFailed));
    EXPECT_EQ(matrixRequests().size(), 1u);
    EXPECT_EQ(matrix_->calls.events(), std::vector<std::string>{"prune 4x2"});
    EXPECT_EQ(allDirectionsRequests(), 0u);
}

TEST_F(DirectionsPlanner, AVenueSideWithoutUsableDoorsIsAnInvalidQuery) {
    // Transit: the harbour has no bus stop, and no door is left after the prune.
    matrix_->prune = [](Points origins, Points) { return std::pair(origins, Points{}); };
    EXPECT_EQ(failure(kMeridian, kHarbour, "transit"), static_cast<int>(CVErrorCase::invalidRouteQuery));
    EXPECT_TRUE(matrixRequests().empty());
}

TEST_F(DirectionsPlanner, RouteNetworksThatCannotBeHadGiveNoRoute) {
    platform::Paths::setResourcesFolder(noResources_.path());
    entry_->key = "unknown-solution";
    EXPECT_EQ(failure(kMeridian, kHarbour), static_cast<int>(CVErrorCase::routeNotFound));
    EXPECT_EQ(allDirectionsRequests(), 0u);
    EXPECT_TRUE(matrixRequests().empty());
}

TEST_F(DirectionsPlanner, RolesOpenDoorsAndAreSent) {
    std::vector<CVUserRole> staff{{"03ba1974a75c6d96f78e78d4", "Staff"}};
    ASSERT_TRUE(route(kMeridian, kLondon, "walking", staff));
    EXPECT_EQ(matrixList(0, "destinations").size(), 5u) << "the staff entrance too";
    EXPECT_EQ(test::queryValue(matrixRequests()[0], "appUserRoleIds"), "03ba1974a75c6d96f78e78d4");
    planner_.reset();
    service_.web().clearRequests();
    ASSERT_TRUE(route(kMeridian, kLondon, "walking", std::vector<CVUserRole>{}));
    EXPECT_EQ(matrixList(0, "destinations").size(), 4u);
    EXPECT_FALSE(test::queryValue(matrixRequests()[0], "appUserRoleIds"));
}

}  // namespace
}  // namespace ambrell::directions_planner_test

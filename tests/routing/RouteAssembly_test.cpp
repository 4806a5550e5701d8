// Route assembly on small hand-built routes: joining the slots, folding the
// outdoor leg's neighbours (walking and transit, each edge case), the totals
// those folds keep, redundant transfer walks, instruction texts and the
// labelling of a route's start.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "routing/CVDirectionsServiceImpl.h"
#include "routing/CVPlaceLookup.h"
#include "tests/routing/DirectionsTesting.h"

namespace ambrell::route_assembly_test {
namespace {

using Step = std::shared_ptr<CVRouteStepInternal>;
using Leg = std::shared_ptr<CVRouteLegInternal>;

std::shared_ptr<CVRouteCoordinateInternal> at(double lat) {
    return std::make_shared<CVRouteCoordinateInternal>(lat, 0);
}

// A step along the meridian from latitude `from` to `to`, named by its
// instruction text until assembly writes one.
Step step(std::string name, std::string mode, double from, double to, std::optional<double> distance = 1.0,
          std::optional<double> duration = 2.0) {
    auto made = std::make_shared<CVRouteStepInternal>();
    made->setHtml_instructions(std::move(name));
    made->setTravel_mode(std::move(mode));
    made->setStart_location(at(from));
    made->setEnd_location(at(to));
    made->setDistance(distance);
    made->setDuration(duration);
    made->setGeometry(std::vector<CVRouteStepInternal::Coordinate>{at(from), at(to)});
    made->setSteps(std::vector<Step>{});
    return made;
}

Leg leg(CVRouteLegType type, std::vector<Step> steps, std::optional<double> distance = 10.0,
        std::optional<double> duration = 20.0) {
    auto made = std::make_shared<CVRouteLegInternal>();
    made->setRouteLegType(type);
    if (!steps.empty()) {
        made->setStart_location(steps.front()->start_locationInternal());
        made->setEnd_location(steps.back()->end_locationInternal());
    }
    made->setSteps(std::move(steps));
    made->setDistance(distance);
    made->setDuration(duration);
    return made;
}

std::string names(const std::vector<Step>& steps) {
    std::string text;
    for (const auto& s : steps) text += (text.empty() ? "" : " ") + s->html_instructions().value_or("?");
    return text;
}

std::string modes(const std::vector<Step>& steps) {
    std::string text;
    for (const auto& s : steps) text += (text.empty() ? "" : " ") + s->travel_mode().value_or("?");
    return text;
}

double lat(const std::shared_ptr<CVRouteCoordinateInternal>& coordinate) {
    return coordinate ? coordinate->lat().value_or(-1) : -1;
}

std::vector<double> lats(const std::optional<std::vector<CVRouteStepInternal::Coordinate>>& geometry) {
    std::vector<double> values;
    if (geometry) {
        for (const auto& point : *geometry) values.push_back(lat(point));
    }
    return values;
}

float f(double value) { return static_cast<float>(value); }

class RouteAssembly : public ::testing::Test {
protected:
    RouteAssembly() { CVPlaceLookup::install(std::make_shared<test::NowherePlaces>()); }
    ~RouteAssembly() override { CVPlaceLookup::install(nullptr); }

    // The legs joined from one route per slot, as the planner hands them over.
    std::shared_ptr<CVRouteInternal> combine(std::string mode, std::vector<std::vector<Leg>> slots) {
        planner_.travelModeText = std::move(mode);
        planner_.routes.clear();
        for (auto& legs : slots) {
            auto route = std::make_shared<CVRouteInternal>();
            route->setLegs(std::move(legs));
            planner_.routes.push_back(route);
        }
        return test::run(planner_.combineRoutes());
    }

    CVDirectionsServiceImpl planner_;
};

TEST_F(RouteAssembly, WithoutAnOutdoorLegTheLegsStayInSlotOrder) {
    const auto a = leg(CVRouteLegType::venue, {step("a1", "walking", 0, 1)});
    const auto b = leg(CVRouteLegType::venue, {step("b1", "walking", 1, 2)});
    const auto c = leg(CVRouteLegType::venue, {});
    const auto route = combine("walking", {{a}, {b, c}});
    ASSERT_TRUE(route);
    EXPECT_EQ(route->legsInternal(), (std::vector<Leg>{a, b, c}));
    EXPECT_EQ(route, planner_.routes.front()) << "the first slot's route carries the journey";
}

TEST_F(RouteAssembly, AnEmptySlotGivesNoRoute) {
    planner_.travelModeText = "walking";
    planner_.routes = {std::make_shared<CVRouteInternal>(), nullptr};
    EXPECT_FALSE(test::run(planner_.combineRoutes()));
}

// The walking case: three venue steps go ahead of the two outdoor ones, take
// the query's mode text as given, and add to the outdoor leg's totals.
TEST_F(RouteAssembly, WalkingFoldsTheVenueStepsInFront) {
    const auto venue =
        leg(CVRouteLegType::venue, {step("v1", "indoor", 0, 1, 0.1, 1.5), step("v2", "indoor", 1, 2, 0.2, 2.5),
                                    step("v3", "indoor", 2, 3, 0.7, 3.25)});
    const auto outdoor =
        leg(CVRouteLegType::outdoor, {step("o1", "Walking", 3, 4), step("o2", "walking", 4, 5)}, 100.3, 60.0);
    const auto route = combine("Walking", {{venue}, {outdoor}});
    ASSERT_TRUE(route);
    ASSERT_EQ(route->legsInternal(), std::vector<Leg>{outdoor});
    EXPECT_EQ(names(outdoor->stepsInternal()), "v1 v2 v3 o1 o2");
    EXPECT_EQ(modes(outdoor->stepsInternal()), "Walking Walking Walking Walking walking");
    EXPECT_EQ(outdoor->distance(), static_cast<double>(f(f(f(100.3) + f(0.1)) + f(0.2)) + f(0.7)));
    EXPECT_EQ(outdoor->duration(), 60.0 + 1.5 + 2.5 + 3.25);
    EXPECT_EQ(lat(outdoor->start_locationInternal()), 0);
    EXPECT_EQ(lat(outdoor->end_locationInternal()), 5);
}

TEST_F(RouteAssembly, TheNextLegFoldsOnlyInTheSameMode) {
    // First: an outdoor leg at position 0 has only a next side.
    const auto outdoor = leg(CVRouteLegType::outdoor, {step("o1", "walking", 0, 1)}, 5.0, 6.0);
    const auto after = leg(CVRouteLegType::venue, {step("a1", "WALKING", 1, 2, 2.5), step("a2", "driving", 2, 3)});
    const auto route = combine("walking", {{outdoor}, {after}});
    ASSERT_TRUE(route);
    EXPECT_EQ(route->legsInternal(), std::vector<Leg>{outdoor});
    EXPECT_EQ(names(outdoor->stepsInternal()), "o1 a1 a2");
    EXPECT_EQ(modes(outdoor->stepsInternal()), "walking walking walking");
    EXPECT_EQ(outdoor->distance(), 5.0 + 2.5 + 1.0);
    EXPECT_EQ(lat(outdoor->end_locationInternal()), 3);

    // A driving neighbour after a walking outdoor leg stays as it is.
    const auto walkingOutdoor = leg(CVRouteLegType::outdoor, {step("o1", "walking", 0, 1)});
    const auto driving = leg(CVRouteLegType::venue, {step("d1", "driving", 1, 2)});
    const auto kept = combine("walking", {{walkingOutdoor}, {driving}});
    EXPECT_EQ(kept->legsInternal(), (std::vector<Leg>{walkingOutdoor, driving}));
    EXPECT_EQ(names(walkingOutdoor->stepsInternal()), "o1");
    EXPECT_EQ(walkingOutdoor->distance(), 10.0);

    // Only one side without steps: no change; both: the neighbour goes.
    const auto stepless = leg(CVRouteLegType::venue, {});
    const auto withStep = leg(CVRouteLegType::outdoor, {step("o1", "walking", 0, 1)});
    EXPECT_EQ(combine("walking", {{withStep}, {stepless}})->legsInternal(), (std::vector<Leg>{withStep, stepless}));
    const auto emptyOutdoor = leg(CVRouteLegType::outdoor, {});
    const auto emptyVenue = leg(CVRouteLegType::venue, {});
    EXPECT_EQ(combine("walking", {{emptyOutdoor}, {emptyVenue}})->legsInternal(), std::vector<Leg>{emptyOutdoor});
}

TEST_F(RouteAssembly, MissingLegsAreDropped) {
    planner_.travelModeText = "walking";
    const auto venue = leg(CVRouteLegType::venue, {step("v1", "walking", 0, 1)});
    const auto outdoor = leg(CVRouteLegType::outdoor, {step("o1", "walking", 1, 2)});
    CVDirectionsServiceImpl::Legs legs{nullptr, venue, nullptr, outdoor, nullptr};
    planner_.mergeLegs(legs);
    EXPECT_EQ(legs, std::vector<Leg>{outdoor});
    EXPECT_EQ(names(outdoor->stepsInternal()), "v1 o1");
}

TEST_F(RouteAssembly, AnOutdoorLegThatIsLastKeepsItsPreviousStepsInFront) {
    const auto venue = leg(CVRouteLegType::venue, {step("v1", "walking", 0, 1)});
    const auto stepless = leg(CVRouteLegType::venue, {});
    const auto outdoor = leg(CVRouteLegType::outdoor, {step("o1", "walking", 1, 2)});
    const auto route = combine("walking", {{venue, stepless}, {outdoor}});
    // The leg right before has no steps: it goes, and nothing else folds.
    EXPECT_EQ(route->legsInternal(), (std::vector<Leg>{venue, outdoor}));
    EXPECT_EQ(names(outdoor->stepsInternal()), "o1");
    EXPECT_EQ(outdoor->distance(), 10.0);
    // Only the first outdoor leg and its neighbours take part.
    const auto second = leg(CVRouteLegType::outdoor, {step("s1", "walking", 2, 3)});
    const auto third = leg(CVRouteLegType::venue, {step("t1", "walking", 3, 4)});
    const auto first = leg(CVRouteLegType::outdoor, {step("f1", "walking", 0, 1)});
    EXPECT_EQ(combine("walking", {{first, second}, {third}})->legsInternal(), (std::vector<Leg>{first, third}));
    EXPECT_EQ(names(first->stepsInternal()), "f1 s1");
    EXPECT_EQ(names(third->stepsInternal()), "t1");
}

TEST_F(RouteAssembly, TransitRideFirstTakesTheVenueLegAsOneStep) {
    const auto venue =
        leg(CVRouteLegType::venue, {step("v1", "walking", 0, 1), step("v2", "walking", 1, 2)}, 30.0, 40.0);
    const auto outdoor =
        leg(CVRouteLegType::outdoor, {step("ride", "transit", 2, 9), step("w", "walking", 9, 10)}, 1000.0, 600.0);
    const auto route = combine("transit", {{venue}, {outdoor}});
    ASSERT_EQ(route->legsInternal(), std::vector<Leg>{outdoor});
    const auto& steps = outdoor->stepsInternal();
    EXPECT_EQ(names(steps), "v1 ride w") << "the venue leg's first step stands for it";
    EXPECT_EQ(steps[0]->distance(), 30.0);
    EXPECT_EQ(steps[0]->duration(), 40.0);
    EXPECT_EQ(lat(steps[0]->end_locationInternal()), 2);
    EXPECT_EQ(lats(steps[0]->geometryInternal()), (std::vector<double>{0, 1, 1, 2}));
    EXPECT_EQ(outdoor->distance(), 1030.0);
    EXPECT_EQ(outdoor->duration(), 640.0);
    EXPECT_EQ(lat(outdoor->start_locationInternal()), 0);
}

// A transit query whose outdoor leg starts on foot: the venue steps nest into
// that first step, whose totals, geometry and start follow, and so do the
// leg's.
TEST_F(RouteAssembly, TransitWalkFirstNestsTheVenueSteps) {
    const auto venue = leg(CVRouteLegType::venue, {step("v1", "walking", 0, 1, 3.0), step("v2", "walking", 1, 2, 4.0)});
    const auto walk = step("w", "walking", 2, 3, 5.0, 6.0);
    walk->setSteps(std::vector<Step>{step("inner", "walking", 2, 3)});
    const auto outdoor = leg(CVRouteLegType::outdoor, {walk, step("ride", "transit", 3, 9)}, 100.0, 50.0);
    const auto route = combine("transit", {{venue}, {outdoor}});
    ASSERT_EQ(route->legsInternal(), std::vector<Leg>{outdoor});
    EXPECT_EQ(names(outdoor->stepsInternal()), "w ride");
    EXPECT_EQ(names(*walk->stepsInternal()), "v1 v2 inner");
    EXPECT_EQ(lats(walk->geometryInternal()), (std::vector<double>{0, 1, 2, 3}));
    EXPECT_EQ(walk->distance(), 12.0);
    EXPECT_EQ(walk->duration(), 10.0);
    EXPECT_EQ(lat(walk->start_locationInternal()), 0);
    EXPECT_EQ(outdoor->distance(), 107.0);
    EXPECT_EQ(outdoor->duration(), 54.0);
    EXPECT_EQ(lat(outdoor->start_locationInternal()), 0);

    // An outdoor leg without steps has nothing to nest into: the venue leg stays.
    const auto before = leg(CVRouteLegType::venue, {step("b1", "walking", 0, 1)});
    const auto empty = leg(CVRouteLegType::outdoor, {});
    EXPECT_EQ(combine("transit", {{before}, {empty}})->legsInternal(), (std::vector<Leg>{before, empty}));
}

TEST_F(RouteAssembly, TransitNextSideByTheLastStepsMode) {
    // Last step a ride: the next leg becomes one step.
    const auto riding = leg(CVRouteLegType::outdoor, {step("ride", "transit", 0, 5)}, 100.0, 50.0);
    const auto next = leg(CVRouteLegType::venue, {step("n1", "transit", 5, 6), step("n2", "walking", 6, 7)}, 8.0, 9.0);
    combine("transit", {{riding}, {next}});
    EXPECT_EQ(names(riding->stepsInternal()), "ride n1");
    EXPECT_EQ(riding->distance(), 108.0);
    EXPECT_EQ(lat(riding->end_locationInternal()), 7);
    EXPECT_EQ(lats(riding->stepsInternal()[1]->geometryInternal()), (std::vector<double>{5, 6, 6, 7}));

    // Last step on foot: the next leg's steps nest into it.
    const auto walking =
        leg(CVRouteLegType::outdoor, {step("ride", "transit", 0, 4), step("w", "walking", 4, 5, 1.0)}, 100.0, 50.0);
    const auto after = leg(CVRouteLegType::venue, {step("a1", "walking", 5, 6, 2.0), step("a2", "walking", 6, 7, 3.0)});
    const auto route = combine("transit", {{walking}, {after}});
    EXPECT_EQ(route->legsInternal(), std::vector<Leg>{walking});
    const auto& last = walking->stepsInternal().back();
    EXPECT_EQ(names(walking->stepsInternal()), "ride w");
    EXPECT_EQ(names(*last->stepsInternal()), "a1 a2");
    EXPECT_EQ(lats(last->geometryInternal()), (std::vector<double>{4, 5, 6, 7}));
    EXPECT_EQ(last->distance(), 6.0);
    EXPECT_EQ(lat(last->end_locationInternal()), 7);
    EXPECT_EQ(walking->distance(), 105.0);
    EXPECT_EQ(lat(walking->end_locationInternal()), 7);
}

TEST_F(RouteAssembly, RedundantTransferWalksGo) {
    struct Row {
        const char* name;
        std::optional<double> walkDistance;
        std::optional<std::string> arrival;
        std::optional<std::string> departure;
        const char* left;
    };
    const std::vector<Row> rows{
        {"same stop, 0 m", 0.0, "Central", "Central", "r1 r2"},
        {"half a metre", 0.5, "Central", "Central", "r1 w r2"},
        {"both names missing", 0.0, std::nullopt, std::nullopt, "r1 r2"},
        {"one name missing", 0.0, "Central", std::nullopt, "r1 w r2"},
        {"other stop", 0.0, "Central", "North", "r1 w r2"},
        {"no distance", std::nullopt, "Central", "Central", "r1 w r2"},
    };
    for (const auto& row : rows) {
        const auto first = step("r1", "transit", 0, 1);
        CVTransitDetailsInternal arriving;
        if (row.arrival) arriving.arrival_stop = CVTransitStopInternal{row.arrival};
        first->setTransit_details(arriving);
        const auto walk = step("w", "walking", 1, 1, row.walkDistance);
        const auto second = step("r2", "transit", 1, 2);
        CVTransitDetailsInternal departing;
        departing.departure_stop = CVTransitStopInternal{row.departure};
        second->setTransit_details(departing);
        const auto outdoor = leg(CVRouteLegType::outdoor, {first, walk, second});
        CVDirectionsServiceImpl::removeRedundantTransitWalks({outdoor});
        EXPECT_EQ(names(outdoor->stepsInternal()), row.left) << row.name;
    }
    // Venue legs, and legs of two steps, are left alone.
    const auto venue = leg(CVRouteLegType::venue,
                           {step("r1", "transit", 0, 1), step("w", "walking", 1, 1, 0.0), step("r2", "transit", 1, 2)});
    CVDirectionsServiceImpl::removeRedundantTransitWalks({venue});
    EXPECT_EQ(names(venue->stepsInternal()), "r1 w r2");
}

TEST_F(RouteAssembly, InstructionsOnlyForStepsWithAManeuverAndNoText) {
    const auto kept = step("Keep me", "walking", 0, 1);
    kept->setManeuver("turn-left");
    const auto written = step("", "walking", 1, 2);
    written->setManeuver("turn-right");
    const auto none = step("", "walking", 2, 3);
    const auto nested = step("", "walking", 3, 4);
    nested->setManeuver("uturn-left");
    const auto parent = step("", "walking", 3, 4);
    parent->setSteps(std::vector<Step>{nested});
    CVDirectionsServiceImpl::generateInstructions(
        {leg(CVRouteLegType::venue, {kept, written, none, parent}), nullptr, leg(CVRouteLegType::venue, {})});
    EXPECT_EQ(kept->html_instructions(), "Keep me");
    EXPECT_EQ(written->html_instructions(), "Turn right");
    EXPECT_EQ(none->html_instructions(), "");
    EXPECT_EQ(parent->html_instructions(), "");
    EXPECT_EQ(nested->html_instructions(), "Turn around");
}

TEST_F(RouteAssembly, TravelModesAndTheLabelOfARouteStart) {
    EXPECT_EQ(CVDirectionsServiceImpl::travelMode("WALKING"), CVTravelMode::walking);
    EXPECT_EQ(CVDirectionsServiceImpl::travelMode("bicycling"), CVTravelMode::bicycling);
    EXPECT_EQ(CVDirectionsServiceImpl::travelMode("Driving"), CVTravelMode::driving);
    EXPECT_EQ(CVDirectionsServiceImpl::travelMode("transit"), CVTravelMode::transit);
    EXPECT_EQ(CVDirectionsServiceImpl::travelMode(""), CVTravelMode::unknown);
    EXPECT_EQ(CVDirectionsServiceImpl::travelMode(std::nullopt), CVTravelMode::unknown);

    const auto route = std::make_shared<CVRouteInternal>();
    const auto first = leg(CVRouteLegType::venue, {step("s", "walking", 0, 1)});
    route->setLegs({first});
    const auto door = std::make_shared<CVRouteNetworkEntryPoint>("North door", CVBoundaryType::walking, 0, 0, 0);
    CVDirectionsServiceImpl::labelRouteStart(route, door);
    EXPECT_EQ(first->start_locationInternal()->label(), "North door");
    EXPECT_EQ(first->stepsInternal().front()->start_locationInternal()->label(), "North door");
    CVDirectionsServiceImpl::labelRouteStart(route, nullptr);
    EXPECT_EQ(first->start_locationInternal()->label(), "");
    CVDirectionsServiceImpl::labelRouteStart(nullptr, door);
    CVDirectionsServiceImpl::labelRouteStart(std::make_shared<CVRouteInternal>(), door);
}

}  // namespace
}  // namespace ambrell::route_assembly_test

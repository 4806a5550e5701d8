#include <fstream>
#include <sstream>
#include <string>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "routemodel/CVRouteResultInternal.h"

namespace ambrell {
namespace {

std::string readGolden() {
    std::ifstream file(std::string(AMBRELL_ROUTEMODEL_TEST_DATA) + "/directions_every_key.json");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::shared_ptr<CVRouteStepInternal> decodeStep(std::string_view json) {
    return CVRouteStepInternal::decodeValue(boost::json::parse(json));
}

std::shared_ptr<CVRouteLegInternal> decodeLeg(std::string_view json) {
    return CVRouteLegInternal::decodeValue(boost::json::parse(json));
}

TEST(DirectionsDocument, EveryKeyDecodes) {
    const auto result = CVRouteResultInternal::decode(readGolden());
    EXPECT_EQ(result->status(), "OK");
    ASSERT_EQ(result->routes().size(), 1U);
    const auto& route = *result->routes()[0];
    EXPECT_EQ(route.summary(), "Main entrance to Platform 2");
    EXPECT_EQ(route.distance(), 1412.5);
    EXPECT_EQ(route.duration(), 655);
    EXPECT_EQ(route.restrictions(), (std::vector<std::string>{"steps", "escalator"}));
    EXPECT_EQ(route.orderedStopIndexes(), std::vector<int>{0});
    ASSERT_TRUE(route.bounds() && route.bounds()->northeast && route.bounds()->southwest);
    EXPECT_EQ(route.bounds()->northeast->lat(), 57.05);
    EXPECT_EQ(route.bounds()->southwest->lng(), 9.91);
    EXPECT_EQ(route.overview_polyline()->points, "a~l~Fjk~uOwHJy@P");
    ASSERT_EQ(route.legsInternal().size(), 2U);

    const auto& venueLeg = *route.legsInternal()[0];
    EXPECT_EQ(venueLeg.routeLegType(), CVRouteLegType::venue);
    EXPECT_EQ(venueLeg.legStartReason(), CVRouteLegBreakReason::venueEntry);
    EXPECT_EQ(venueLeg.legEndReason(), CVRouteLegBreakReason::stop);
    EXPECT_EQ(venueLeg.distance(), 62.25);
    EXPECT_EQ(venueLeg.start_address(), "Main entrance");
    EXPECT_EQ(venueLeg.end_address(), "Reception");
    EXPECT_EQ(venueLeg.start_locationInternal()->label(), "Main entrance");
    EXPECT_EQ(venueLeg.start_locationInternal()->floor_name(), "G");
    EXPECT_EQ(venueLeg.end_locationInternal()->zLevel(), 1);
    EXPECT_EQ(venueLeg.end_locationInternal()->label(), std::nullopt);
    ASSERT_EQ(venueLeg.stepsInternal().size(), 2U);

    const auto& walk = *venueLeg.stepsInternal()[0];
    EXPECT_EQ(walk.travel_mode(), "walking");
    EXPECT_EQ(walk.duration(), 31.5);
    EXPECT_EQ(walk.html_instructions(), "Walk to the stairs");
    EXPECT_EQ(walk.maneuver(), "straight");
    EXPECT_EQ(walk.highway(), CVHighway::footway());
    EXPECT_EQ(walk.routeContext(), "InsideBuilding");
    ASSERT_TRUE(walk.geometryInternal());
    EXPECT_EQ(walk.geometryInternal()->size(), 3U);
    EXPECT_EQ(walk.geometryInternal()->at(1)->lat(), 57.0432);
    ASSERT_TRUE(walk.stepsInternal());
    ASSERT_EQ(walk.stepsInternal()->size(), 1U);
    EXPECT_EQ(walk.stepsInternal()->at(0)->maneuver(), "turn-left");
    EXPECT_EQ(walk.transit_details(), std::nullopt);

    const auto& stairs = *venueLeg.stepsInternal()[1];
    EXPECT_EQ(stairs.highway(), CVHighway::stairs());
    EXPECT_EQ(stairs.html_instructions(), "");
    EXPECT_EQ(stairs.stepsInternal(), std::nullopt);

    const auto& outdoorLeg = *route.legsInternal()[1];
    EXPECT_EQ(outdoorLeg.routeLegType(), CVRouteLegType::outdoor);
    EXPECT_EQ(outdoorLeg.legStartReason(), CVRouteLegBreakReason::stop);
    const auto& transit = outdoorLeg.stepsInternal().at(0)->transit_details();
    ASSERT_TRUE(transit);
    EXPECT_EQ(transit->departure_stop->name, "Reception stop");
    EXPECT_EQ(transit->arrival_stop->name, "Harbour");
    EXPECT_EQ(transit->departure_time->value, 1700000520);
    EXPECT_EQ(transit->arrival_time->time_zone, "Europe/Copenhagen");
    EXPECT_EQ(transit->headsign, "Harbour");
    EXPECT_EQ(transit->num_stops, 3);
    EXPECT_EQ(transit->line->short_name, "2A");
    EXPECT_EQ(transit->line->vehicle->type, "BUS");
    ASSERT_EQ(transit->line->agencies->size(), 1U);
    EXPECT_EQ(transit->line->agencies->at(0).phone, "+45 70 00 00 00");
}

TEST(DirectionsDocument, EncodesBackToTheSameDocumentAndDecodesAlike) {
    const auto golden = boost::json::parse(readGolden());
    const auto encoded = CVRouteResultInternal::decodeValue(golden)->encode();
    EXPECT_EQ(encoded, golden);
    EXPECT_EQ(CVRouteResultInternal::decodeValue(encoded)->encode(), encoded);
}

TEST(DirectionsDocument, ProtocolViewsShowTheSameRoute) {
    const auto result = CVRouteResultInternal::decode(readGolden());
    const std::shared_ptr<CVRoute> route = result->routes()[0];
    const auto legs = route->legs();
    ASSERT_EQ(legs.size(), 2U);
    EXPECT_EQ(legs[0]->end_location()->zLevel(), 1);
    EXPECT_EQ(legs[1]->end_address(), "Platform 2");
    const auto steps = legs[0]->steps();
    ASSERT_EQ(steps.size(), 2U);
    EXPECT_EQ(steps[0]->geometry()->size(), 3U);
    EXPECT_EQ(steps[0]->steps()->size(), 1U);
    EXPECT_EQ(steps[1]->highway()->typeString(), "steps");
}

TEST(DirectionsDocument, MissingKeysStayAbsent) {
    const auto step = decodeStep(R"({"maneuver": "straight"})");
    EXPECT_EQ(step->travel_mode(), std::nullopt);
    EXPECT_EQ(step->distance(), std::nullopt);
    EXPECT_EQ(step->start_locationInternal(), nullptr);
    EXPECT_EQ(step->geometryInternal(), std::nullopt);
    EXPECT_EQ(step->stepsInternal(), std::nullopt);
    EXPECT_EQ(step->highway(), std::nullopt);
    EXPECT_EQ(step->routeContext(), std::nullopt);
    EXPECT_EQ(step->encode(), boost::json::parse(R"({"maneuver": "straight"})"));
}

TEST(DirectionsDocument, AbsentAndEmptySubStepsDiffer) {
    const auto absent = decodeStep("{}");
    const auto empty = decodeStep(R"({"steps": [], "geometry": []})");
    EXPECT_FALSE(absent->stepsInternal().has_value());
    EXPECT_FALSE(absent->steps().has_value());
    ASSERT_TRUE(empty->stepsInternal().has_value());
    EXPECT_TRUE(empty->stepsInternal()->empty());
    EXPECT_TRUE(empty->geometryInternal()->empty());
    EXPECT_EQ(absent->encode(), boost::json::parse("{}"));
    EXPECT_EQ(empty->encode(), boost::json::parse(R"({"steps": [], "geometry": []})"));
}

TEST(DirectionsDocument, LegWithoutRouteLegTypeIsAVenueLegAndStaysUntyped) {
    const auto leg = decodeLeg(R"({"end_address": "Gate 4"})");
    EXPECT_EQ(leg->routeLegType(), CVRouteLegType::venue);
    EXPECT_EQ(static_cast<int>(leg->routeLegType()), 0);
    EXPECT_FALSE(leg->encode().as_object().contains("routeLegType"));

    leg->setRouteLegType(CVRouteLegType::outdoor);
    EXPECT_EQ(leg->encode().as_object().at("routeLegType"), 1);
}

TEST(DirectionsDocument, BreakReasonsOutsideTheNamedCasesAreCarried) {
    const auto leg = decodeLeg(R"({"legStartReason": 9, "legEndReason": 4})");
    EXPECT_EQ(static_cast<int>(*leg->legStartReason()), 9);
    EXPECT_EQ(leg->legEndReason(), CVRouteLegBreakReason::stop);
    EXPECT_EQ(leg->encode(), boost::json::parse(R"({"steps": [], "legStartReason": 9, "legEndReason": 4})"));
}

TEST(DirectionsDocument, DistancesAreNumbersOrValueObjects) {
    struct Case {
        const char* json;
        std::optional<double> distance;
    };
    const Case cases[] = {
        {R"({"distance": 12})", 12},
        {R"({"distance": 12.75})", 12.75},
        {R"({"distance": {"text": "13 m", "value": 12.75}})", 12.75},
        {R"({"distance": {"text": "13 m"}})", std::nullopt},
        {R"({"distance": null})", std::nullopt},
    };
    for (const auto& [json, distance] : cases) {
        SCOPED_TRACE(json);
        EXPECT_EQ(decodeStep(json)->distance(), distance);
        EXPECT_EQ(decodeLeg(json)->distance(), distance);
    }
    // Written back as the number alone.
    EXPECT_EQ(decodeStep(R"({"distance": {"text": "13 m", "value": 12.75}})")->encode(),
              boost::json::parse(R"({"distance": 12.75})"));
}

TEST(DirectionsDocument, WayTypesReadAsTextOrNumberAndWriteAsText) {
    struct Case {
        const char* json;
        CVHighway highway;
        const char* written;
    };
    const Case cases[] = {
        {R"({"highway": "elevator"})", CVHighway::elevator(), "elevator"},
        {R"({"highway": "Steps"})", CVHighway::stairs(), "steps"},
        {R"({"highway": 6})", CVHighway::escalator(), "escalator"},
        {R"({"highway": 12})", CVHighway::unclassified(), "unclassified"},
        {R"({"highway": "moving-walkway"})", CVHighway::unclassified(), "unclassified"},
    };
    for (const auto& [json, highway, written] : cases) {
        SCOPED_TRACE(json);
        const auto step = decodeStep(json);
        EXPECT_EQ(step->highway(), highway);
        EXPECT_EQ(step->encode().as_object().at("highway"), written);
    }
}

TEST(DirectionsDocument, UnknownKeysAndNullsAreIgnored) {
    const auto result = CVRouteResultInternal::decode(R"({
        "status": "OK", "geocoded_waypoints": [1, 2], "routes": [{"legs": [{"via_waypoint": {}, "steps": null,
        "start_location": {"lat": 1, "lng": 2, "elevation": 3}}], "warnings": ["x"]}]})");
    const auto& leg = *result->routes().at(0)->legsInternal().at(0);
    EXPECT_TRUE(leg.stepsInternal().empty());
    EXPECT_EQ(leg.start_locationInternal()->lat(), 1);
    EXPECT_EQ(leg.start_locationInternal()->encode(), boost::json::parse(R"({"lat": 1, "lng": 2})"));
}

TEST(DirectionsDocument, EditedRouteEncodesItsEdits) {
    auto route = std::make_shared<CVRouteInternal>();
    auto leg = std::make_shared<CVRouteLegInternal>();
    auto step = std::make_shared<CVRouteStepInternal>();
    step->setStart_location(std::make_shared<CVRouteCoordinateInternal>(55.5, 12.25, 2));
    step->setHtml_instructions("Take stairs to level 2");
    leg->stepsInternal().push_back(step);
    leg->setDistance(3.5F + 1.25F);
    route->setLegs({leg});
    route->setRestrictions({"steps"});
    step->start_locationInternal()->setLabel("Door A");

    EXPECT_EQ(route->encode(), boost::json::parse(R"({"restrictions": ["steps"], "legs": [{"distance": 4.75,
        "steps": [{"html_instructions": "Take stairs to level 2",
                   "start_location": {"lat": 55.5, "lng": 12.25, "zLevel": 2, "label": "Door A"}}]}]})"));
}

}  // namespace
}  // namespace ambrell

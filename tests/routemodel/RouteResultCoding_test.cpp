#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "routemodel/CVDistanceMatrixResult.h"
#include "routemodel/CVRouteCodingError.h"
#include "routemodel/CVRouteResultInternal.h"
#include "tests/support/JsonEq.h"

namespace ambrell {
namespace {

using boost::json::parse;

// The writer keeps whole numbers integers, so "655" is not written as "6.55E2":
// an integer and a double never match here.
test::JsonEqMatcher writes(const boost::json::value& expected) {
    return test::JsonEq(expected, test::JsonNumbers::exactKind);
}
test::JsonEqMatcher writes(const char* expected) { return test::JsonEq(expected, test::JsonNumbers::exactKind); }

std::string readGolden() {
    std::ifstream file(std::string(AMBRELL_ROUTEMODEL_TEST_DATA) + "/directions_every_key.json");
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

auto decodeStep(std::string_view json) { return CVRouteStepInternal::decodeValue(parse(json)); }
auto decodeLeg(std::string_view json) { return CVRouteLegInternal::decodeValue(parse(json)); }

// The coding error the call throws; fails the test when none is thrown.
template <typename Call>
CVRouteCodingError codingError(Call call, std::string_view what) {
    try {
        (void)call();
    } catch (const CVRouteCodingError& error) {
        return error;
    }
    ADD_FAILURE() << "no coding error for " << what;
    return {"", ""};
}

CVRouteCodingError decodeError(std::string_view json) {
    return codingError([&] { return CVRouteResultInternal::decode(json); }, json);
}

TEST(DirectionsDocument, EveryKeyDecodes) {
    const auto result = CVRouteResultInternal::decode(readGolden());
    EXPECT_EQ(result->status(), "OK");
    ASSERT_EQ(result->routes().size(), 1U);
    const auto& route = *result->routes()[0];
    EXPECT_EQ(std::tuple(route.summary(), route.distance(), route.duration()),
              std::tuple("Main entrance to Platform 2", 1412.5, 655));
    EXPECT_EQ(route.restrictions(), (std::vector<std::string>{"steps", "escalator"}));
    EXPECT_EQ(route.orderedStopIndexes(), std::vector<int>{0});
    ASSERT_TRUE(route.bounds() && route.bounds()->northeast && route.bounds()->southwest);
    EXPECT_EQ(std::tuple(route.bounds()->northeast->lat(), route.bounds()->southwest->lng()), std::tuple(57.05, 9.91));
    EXPECT_EQ(route.overview_polyline()->points, "a~l~Fjk~uOwHJy@P");
    // Legs, steps and coordinates are read through the faces hosts see.
    const auto legs = route.legs();
    ASSERT_EQ(legs.size(), 2U);

    const auto& venueLeg = *legs[0];
    EXPECT_EQ(venueLeg.routeLegType(), CVRouteLegType::venue);
    EXPECT_EQ(venueLeg.legStartReason(), CVRouteLegBreakReason::venueEntry);
    EXPECT_EQ(venueLeg.legEndReason(), CVRouteLegBreakReason::stop);
    EXPECT_EQ(std::tuple(venueLeg.distance(), venueLeg.start_address(), venueLeg.end_address()),
              std::tuple(62.25, "Main entrance", "Reception"));
    const auto& start = *venueLeg.start_location();
    EXPECT_EQ(std::tuple(start.label(), start.floor_name()), std::tuple("Main entrance", "G"));
    const auto& end = *venueLeg.end_location();
    EXPECT_EQ(std::tuple(end.zLevel(), end.label()), std::tuple(1, std::nullopt));
    const auto steps = venueLeg.steps();
    ASSERT_EQ(steps.size(), 2U);

    const auto& walk = *steps[0];
    EXPECT_EQ(std::tuple(walk.travel_mode(), walk.duration(), walk.html_instructions(), walk.maneuver()),
              std::tuple("walking", 31.5, "Walk to the stairs", "straight"));
    EXPECT_EQ(std::tuple(walk.highway(), walk.routeContext()), std::tuple(CVHighway::footway(), "InsideBuilding"));
    ASSERT_EQ(walk.geometry().value().size(), 3U);
    EXPECT_EQ(walk.geometry()->at(1)->lat(), 57.0432);
    ASSERT_EQ(walk.steps().value().size(), 1U);
    EXPECT_EQ(walk.steps()->at(0)->maneuver(), "turn-left");
    EXPECT_EQ(route.legsInternal()[0]->stepsInternal()[0]->transit_details(), std::nullopt);
    EXPECT_EQ(std::tuple(steps[1]->highway(), steps[1]->html_instructions(), steps[1]->steps()),
              std::tuple(CVHighway::stairs(), "", std::nullopt));

    EXPECT_EQ(std::tuple(legs[1]->routeLegType(), legs[1]->legStartReason(), legs[1]->end_address()),
              std::tuple(CVRouteLegType::outdoor, CVRouteLegBreakReason::stop, "Platform 2"));
    const auto& transit = route.legsInternal()[1]->stepsInternal().at(0)->transit_details();
    ASSERT_TRUE(transit);
    EXPECT_EQ(transit->departure_stop, CVTransitStopInternal{"Reception stop"});
    EXPECT_EQ(transit->arrival_stop, CVTransitStopInternal{"Harbour"});
    EXPECT_EQ(transit->departure_time, (CVTransitTimeInternal{"10:02", "Europe/Copenhagen", 1700000520}));
    EXPECT_EQ(transit->arrival_time, (CVTransitTimeInternal{"10:12", "Europe/Copenhagen", 1700001120}));
    EXPECT_EQ(std::tuple(transit->headsign, transit->num_stops), std::tuple("Harbour", 3));
    EXPECT_EQ(transit->line->short_name, "2A");
    EXPECT_EQ(transit->line->vehicle->type, "BUS");
    EXPECT_EQ(transit->line->agencies,
              (std::vector<CVTransitAgencyInternal>{{"City Buses", "https://transit.example", "+45 70 00 00 00"}}));
}

TEST(DirectionsDocument, EncodesBackToTheSameDocumentAndDecodesAlike) {
    const auto golden = parse(readGolden());
    const auto encoded = CVRouteResultInternal::decodeValue(golden)->encode();
    EXPECT_THAT(encoded, writes(golden));
    EXPECT_THAT(CVRouteResultInternal::decodeValue(encoded)->encode(), writes(encoded));
}

TEST(DirectionsDocument, MissingKeysStayAbsentAndEmptySubStepsStayEmpty) {
    const auto step = decodeStep(R"({"maneuver": "straight"})");
    EXPECT_EQ(std::tuple(step->travel_mode(), step->distance(), step->start_locationInternal(),
                         step->geometryInternal(), step->stepsInternal(), step->steps(), step->highway(),
                         step->routeContext()),
              std::tuple(std::nullopt, std::nullopt, nullptr, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                         std::nullopt));
    EXPECT_THAT(step->encode(), writes(R"({"maneuver": "straight"})"));

    const auto empty = decodeStep(R"({"steps": [], "geometry": []})");
    ASSERT_TRUE(empty->stepsInternal().has_value() && empty->geometryInternal().has_value());
    EXPECT_TRUE(empty->stepsInternal()->empty());
    EXPECT_TRUE(empty->geometryInternal()->empty());
    EXPECT_THAT(empty->encode(), writes(R"({"steps": [], "geometry": []})"));
    EXPECT_THAT(decodeStep("{}")->encode(), writes("{}"));
}

// The route's and the result's lists are written only when present: read
// from the document, set, or holding something.
TEST(DirectionsDocument, RoutesLegsAndRestrictionsAreWrittenOnlyWhenPresent) {
    const std::pair<const char*, const char*> roundTrips[] = {
        {"{}", "{}"},
        {R"({"status": "ZERO_RESULTS"})", R"({"status": "ZERO_RESULTS"})"},
        {R"({"routes": []})", R"({"routes": []})"},
        {R"({"routes": [{}]})", R"({"routes": [{}]})"},
        {R"({"routes": [{"summary": "s"}]})", R"({"routes": [{"summary": "s"}]})"},
        {R"({"routes": [{"legs": []}]})", R"({"routes": [{"legs": []}]})"},
        {R"({"routes": [{"restrictions": []}]})", R"({"routes": [{"restrictions": []}]})"},
        {R"({"routes": null})", "{}"},
        {R"({"routes": [{"legs": null, "restrictions": null}]})", R"({"routes": [{}]})"},
    };
    for (const auto& [document, written] : roundTrips) {
        EXPECT_THAT(CVRouteResultInternal::decode(document)->encode(), writes(written)) << document;
    }

    EXPECT_THAT(CVRouteResultInternal().encode(), writes("{}"));
    EXPECT_THAT(CVRouteInternal().encode(), writes("{}"));

    // Set, even empty, counts as present.
    CVRouteInternal route;
    route.setRestrictions({});
    EXPECT_THAT(route.encode(), writes(R"({"restrictions": []})"));
    route.setLegs({});
    EXPECT_THAT(route.encode(), writes(R"({"legs": [], "restrictions": []})"));

    // Filled through the mutable lists without a setter is never lost.
    CVRouteResultInternal result;
    auto filled = std::make_shared<CVRouteInternal>();
    filled->legsInternal().push_back(std::make_shared<CVRouteLegInternal>());
    result.routes().push_back(filled);
    EXPECT_THAT(result.encode(), writes(R"({"routes": [{"legs": [{"steps": []}]}]})"));
}

TEST(DirectionsDocument, LegTypeAndBreakReasons) {
    // Without "routeLegType" a leg is a venue leg (raw 0), and stays untyped when written.
    const auto leg = decodeLeg(R"({"end_address": "Gate 4"})");
    EXPECT_EQ(static_cast<int>(leg->routeLegType()), 0);
    EXPECT_FALSE(leg->encode().as_object().contains("routeLegType"));
    leg->setRouteLegType(CVRouteLegType::outdoor);
    EXPECT_EQ(leg->encode().as_object().at("routeLegType"), 1);

    // Break reasons outside the named cases are carried.
    const auto reasons = decodeLeg(R"({"legStartReason": 9, "legEndReason": 4})");
    EXPECT_EQ(static_cast<int>(*reasons->legStartReason()), 9);
    EXPECT_EQ(reasons->legEndReason(), CVRouteLegBreakReason::stop);
    EXPECT_THAT(reasons->encode(), writes(R"({"steps": [], "legStartReason": 9, "legEndReason": 4})"));
}

TEST(DirectionsDocument, DistancesAreNumbersOrValueObjects) {
    const std::pair<const char*, std::optional<double>> cases[] = {
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
    EXPECT_THAT(decodeStep(cases[2].first)->encode(), writes(R"({"distance": 12.75})"));
}

// A duration is a number, not an integer: 2^63 (one past the largest 64-bit
// integer) and its neighbours are read and written back as the doubles they
// are. A conversion to an integer on the way would overflow silently, so the
// values are compared exactly.
TEST(DirectionsDocument, DurationsBeyondTheIntegerRangeStayDoubles) {
    const char* const numbers[] = {"9.223372036854775808e18", "-9.223372036854775808e18", "1.8446744073709551616e19",
                                   "9.2233720368547748e18"};
    ASSERT_EQ(parse(numbers[0]).as_double(), 9223372036854775808.0);
    for (const char* number : numbers) {
        const double expected = parse(number).as_double();
        for (const std::string& json : {std::string(R"({"duration": )") + number + "}",
                                        std::string(R"({"duration": {"text": "long", "value": )") + number + "}}"}) {
            SCOPED_TRACE(json);
            const auto step = decodeStep(json);
            const auto leg = decodeLeg(json);
            const auto route = CVRouteInternal::decode(json);
            EXPECT_EQ(step->duration(), expected);
            EXPECT_EQ(leg->duration(), expected);
            EXPECT_EQ(route->duration(), expected);
            for (const auto& written : {step->encode(), leg->encode(), route->encode()}) {
                const auto& duration = written.as_object().at("duration");
                ASSERT_TRUE(duration.is_double()) << boost::json::serialize(written);
                EXPECT_EQ(duration.get_double(), expected);
            }
        }
    }
}

TEST(DirectionsDocument, WayTypesReadAsTextOrNumberAndWriteAsText) {
    const std::tuple<const char*, CVHighway, const char*> cases[] = {
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
    EXPECT_THAT(leg.start_locationInternal()->encode(), writes(R"({"lat": 1, "lng": 2})"));
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

    EXPECT_THAT(route->encode(), writes(R"({"restrictions": ["steps"], "legs": [{"distance": 4.75,
        "steps": [{"html_instructions": "Take stairs to level 2",
                   "start_location": {"lat": 55.5, "lng": 12.25, "zLevel": 2, "label": "Door A"}}]}]})"));
}

TEST(DistanceMatrix, SampleDocumentDecodes) {
    const auto matrix = CVDistanceMatrixResult::decode(
        R"({"status":"OK","rows":[{"elements":[{"status":"OK","duration":{"text":"a","value":95},)"
        R"("distance":{"text":"b","value":120}}]}]})");
    const CVDistanceMatrixElements element{
        .distance = CVRoutePropertyInternal{"b", 120}, .duration = CVRoutePropertyInternal{"a", 95}, .status = "OK"};
    CVDistanceMatrixResult expected;
    expected.status = "OK";
    expected.rows = std::vector{CVDistanceMatrixRows{.elements = std::vector{element}}};
    EXPECT_EQ(matrix, expected);

    // Missing rows are not an error, and nothing encodes to an empty object.
    const auto denied = CVDistanceMatrixResult::decode(R"({"status": "REQUEST_DENIED", "rows": null})");
    EXPECT_EQ(std::tuple(denied.status, denied.rows), std::tuple("REQUEST_DENIED", std::nullopt));
    EXPECT_EQ(CVDistanceMatrixResult::decode(R"({"rows": [{}]})").rows->at(0).elements, std::nullopt);
    EXPECT_EQ(boost::json::serialize(CVDistanceMatrixResult().encode()), "{}");
    EXPECT_EQ(CVDistanceMatrixResult::decode("{}"), CVDistanceMatrixResult());
}

TEST(DistanceMatrix, EveryKeyRoundTrips) {
    const auto json = parse(R"({
        "destination_addresses": ["57.049,9.929"], "origin_addresses": ["57.0431,9.9187,0", "57.0434,9.9191,1"],
        "rows": [{"elements": [{"status": "OK", "distance": {"text": "1.2 km", "value": 1200},
                                "duration": {"text": "15 mins", "value": 900}}]},
                 {"elements": [{"status": "ZERO_RESULTS"}]}],
        "status": "OK", "venue": "harbour", "bestOrigin": "57.0434,9.9191,1", "bestDestination": "57.049,9.929"})");
    const auto matrix = CVDistanceMatrixResult::decodeValue(json);
    EXPECT_EQ(std::tuple(matrix.venue, matrix.bestOrigin), std::tuple("harbour", "57.0434,9.9191,1"));
    EXPECT_EQ(matrix.rows->at(1).elements->at(0).distance, std::nullopt);
    EXPECT_THAT(matrix.encode(), writes(json));
    EXPECT_EQ(CVDistanceMatrixResult::decodeValue(matrix.encode()), matrix);
}

TEST(DistanceMatrix, PropertyValuesReadAsWholeNumbers) {
    // The last: -2^63, written as a double, is still a 64-bit integer.
    constexpr auto kLowest = std::numeric_limits<std::int64_t>::min();
    const std::pair<const char*, std::int64_t> cases[] = {
        {"95.9", 95},  {"-95.9", -95},
        {"0.4", 0},    {"9223372036854775807", 9223372036854775807},
        {"1e3", 1000}, {"-9.223372036854775808e18", kLowest},
    };
    for (const auto& [value, integer] : cases) {
        SCOPED_TRACE(value);
        const auto property =
            CVRoutePropertyInternal::decodeValue(parse(std::string(R"({"text": "t", "value": )") + value + "}"));
        EXPECT_EQ(property.value, integer);
        EXPECT_EQ(property.encode().as_object().at("value"), integer);
    }
}

TEST(RouteCodingErrors, WrongKindsAndRangesNameTheirKeyPath) {
    // What the error says: "<key path>: <reason>".
    const struct {
        const char* json;
        std::string_view what;
        bool matrix = false;
    } cases[] = {
        {R"({"status": 200})", "status: expected a text, found a number"},
        {R"({"routes": {}})", "routes: expected a list, found an object"},
        {R"({"routes": [7]})", "routes[0]: expected an object, found a number"},
        {R"({"routes": [{"legs": "none"}]})", "routes[0].legs: expected a list, found a text"},
        {R"({"routes": [{"restrictions": ["steps", 4]}]})",
         "routes[0].restrictions[1]: expected a text, found a number"},
        {R"({"routes": [{"orderedStopIndexes": [0.5]}]})",
         "routes[0].orderedStopIndexes[0]: expected an integer, found a number"},
        {R"({"routes": [{"bounds": {"northeast": []}}]})",
         "routes[0].bounds.northeast: expected an object, found a list"},
        {R"({"routes": [{"overview_polyline": {"points": false}}]})",
         "routes[0].overview_polyline.points: expected a text, found a boolean"},
        {R"({"routes": [{"legs": [{"routeLegType": "outdoor"}]}]})",
         "routes[0].legs[0].routeLegType: expected an integer, found a text"},
        {R"({"routes": [{"legs": [{"routeLegType": 1.5}]}]})",
         "routes[0].legs[0].routeLegType: expected an integer, found a number"},
        {R"({"routes": [{"legs": [{"legEndReason": true}]}]})",
         "routes[0].legs[0].legEndReason: expected an integer, found a boolean"},
        {R"({"routes": [{"legs": [{"distance": "62 m"}]}]})",
         "routes[0].legs[0].distance: expected a number or an object with \"value\", found a text"},
        {R"({"routes": [{"legs": [{"duration": {"value": "48"}}]}]})",
         "routes[0].legs[0].duration.value: expected a number, found a text"},
        {R"({"routes": [{"legs": [{"start_location": {"lat": "57.0"}}]}]})",
         "routes[0].legs[0].start_location.lat: expected a number, found a text"},
        {R"({"routes": [{"legs": [{"steps": [{}, {"geometry": [{"zLevel": []}]}]}]}]})",
         "routes[0].legs[0].steps[1].geometry[0].zLevel: expected a number, found a list"},
        {R"({"routes": [{"legs": [{"steps": [{"steps": [{"maneuver": 3}]}]}]}]})",
         "routes[0].legs[0].steps[0].steps[0].maneuver: expected a text, found a number"},
        {R"({"routes": [{"legs": [{"steps": [{"highway": {}}]}]}]})",
         "routes[0].legs[0].steps[0].highway: expected a way type text or number, found an object"},
        {R"({"routes": [{"legs": [{"steps": [{"highway": 4.5}]}]}]})",
         "routes[0].legs[0].steps[0].highway: expected an integer, found a number"},
        {R"({"routes": [{"legs": [{"steps": [{"transit_details": {"num_stops": "3"}}]}]}]})",
         "routes[0].legs[0].steps[0].transit_details.num_stops: expected an integer, found a text"},
        {R"({"routes": [{"legs": [{"steps": [{"transit_details": {"line": {"agencies": [{"phone": 45}]}}}]}]}]})",
         "routes[0].legs[0].steps[0].transit_details.line.agencies[0].phone: expected a text, found a number"},
        {R"({"routes": [{"legs": [{"steps": [{"transit_details": {"arrival_time": {"value": "10:12"}}}]}]}]})",
         "routes[0].legs[0].steps[0].transit_details.arrival_time.value: expected a number, found a text"},
        // Numbers out of range.
        {R"({"routes": [{"distance": 1e400}]})", "routes[0].distance: number out of range"},
        {R"({"routes": [{"legs": [{"routeLegType": 2147483648}]}]})",
         "routes[0].legs[0].routeLegType: integer out of range"},
        {R"({"routes": [{"legs": [{"legStartReason": -2147483649}]}]})",
         "routes[0].legs[0].legStartReason: integer out of range"},
        {R"({"routes": [{"orderedStopIndexes": [18446744073709551615]}]})",
         "routes[0].orderedStopIndexes[0]: integer out of range"},
        {R"({"routes": [{"orderedStopIndexes": [1e19]}]})", "routes[0].orderedStopIndexes[0]: integer out of range"},
        // The distance matrix reads the same way.
        {R"({"rows": [{"elements": [{"duration": {"value": 1e30}}]}]})",
         "rows[0].elements[0].duration.value: integer out of range", true},
        {R"({"rows": [{"elements": [{"duration": {"value": 9223372036854775808}}]}]})",
         "rows[0].elements[0].duration.value: integer out of range", true},
        {R"({"rows": [{"elements": [{"duration": {"value": 9.223372036854775808e18}}]}]})",
         "rows[0].elements[0].duration.value: integer out of range", true},
        {R"({"rows": [{"elements": [{"distance": 120}]}]})",
         "rows[0].elements[0].distance: expected an object, found a number", true},
        {R"({"rows": [{"elements": {}}]})", "rows[0].elements: expected a list, found an object", true},
        {R"({"origin_addresses": "57,9"})", "origin_addresses: expected a list, found a text", true},
        {R"({"bestOrigin": 3})", "bestOrigin: expected a text, found a number", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const auto error = c.matrix ? codingError([&] { return CVDistanceMatrixResult::decode(c.json); }, c.json)
                                    : decodeError(c.json);
        EXPECT_EQ(error.what(), c.what);
        EXPECT_EQ(error.keyPath(), c.what.substr(0, c.what.find(": ")));
        EXPECT_EQ(error.reason(), c.what.substr(c.what.find(": ") + 2));
    }
    // Within range, however written.
    const auto route = CVRouteInternal::decode(R"({"distance": 18446744073709551615, "orderedStopIndexes": [2e0]})");
    EXPECT_EQ(route->distance(), 18446744073709551615.0);
    EXPECT_EQ(route->orderedStopIndexes(), std::vector<int>{2});
}

TEST(RouteCodingErrors, DocumentsThatAreNotRouteObjects) {
    EXPECT_EQ(decodeError("").keyPath(), "");
    EXPECT_EQ(decodeError(R"({"routes": [)").keyPath(), "");
    EXPECT_EQ(std::string(decodeError("{} trailing").what()).rfind("document: not valid JSON", 0), 0U);
    EXPECT_EQ(decodeError("[]").reason(), "expected an object, found a list");
    EXPECT_EQ(decodeError("null").reason(), "expected an object, found null");
    EXPECT_EQ(decodeError("\"OK\"").what(), std::string("document: expected an object, found a text"));
    EXPECT_THROW((void)CVRouteInternal::decode("[1]"), CVRouteCodingError);
    EXPECT_THROW((void)CVDistanceMatrixResult::decode("<html>"), CVRouteCodingError);
}

TEST(RouteCodingErrors, DeepNestingIsRefusedAsTextAndAsValue) {
    // Sub-steps a thousand levels deep: beyond what any route holds.
    std::string deep = R"({"routes": [{"legs": [{"steps": [)";
    for (int level = 0; level < 1000; ++level) deep += R"({"steps": [)";
    for (int level = 0; level < 1000; ++level) deep += "]}";
    const auto textError = decodeError(deep + "]}]}]}");
    EXPECT_EQ(textError.keyPath(), "");
    EXPECT_NE(textError.reason().find("not valid JSON"), std::string::npos);

    // A value built without the parser's limit is refused while reading.
    boost::json::value step = boost::json::object();
    for (int level = 0; level < 200; ++level) step = boost::json::object{{"steps", boost::json::array{step}}};
    const auto valueError = codingError([&] { return CVRouteStepInternal::decodeValue(step); }, "200 levels");
    EXPECT_EQ(valueError.reason(), "nested deeper than 64 levels");
    EXPECT_EQ(valueError.keyPath().rfind("steps[0].steps[0].", 0), 0U);

    // Nesting within the limit reads: 25 levels of sub-steps.
    std::string shallow = "{}";
    for (int level = 0; level < 25; ++level) shallow = R"({"steps": [)" + shallow + "]}";
    const auto route = CVRouteInternal::decode(R"({"legs": [{"steps": [)" + shallow + "]}]}");
    EXPECT_TRUE(route->legsInternal().at(0)->stepsInternal().at(0)->stepsInternal().has_value());
}

TEST(RouteCodingErrors, EncodingRefusesWhatJSONCannotHold) {
    auto result = std::make_shared<CVRouteResultInternal>();
    auto route = std::make_shared<CVRouteInternal>();
    auto leg = std::make_shared<CVRouteLegInternal>();
    route->setLegs({leg});
    result->setRoutes({route});
    const auto encodeError = [&] { return codingError([&] { return result->encode(); }, "encode"); };

    leg->setDuration(std::numeric_limits<double>::infinity());
    EXPECT_STREQ(encodeError().what(), "routes[0].legs[0].duration: not a finite number");
    leg->setDuration(std::nan(""));
    EXPECT_STREQ(encodeError().what(), "routes[0].legs[0].duration: not a finite number");
    leg->setDuration(48);

    leg->setSteps({std::make_shared<CVRouteStepInternal>(), nullptr});
    EXPECT_STREQ(encodeError().what(), "routes[0].legs[0].steps[1]: no object to write");

    // A step made to contain itself would nest without end.
    auto step = std::make_shared<CVRouteStepInternal>();
    step->setSteps(std::vector{step});
    leg->setSteps({step});
    EXPECT_EQ(encodeError().reason(), "nested deeper than 64 levels");
    step->setSteps(std::nullopt);  // breaks the cycle so the step can be freed
    EXPECT_NO_THROW((void)result->encode());
}

}  // namespace
}  // namespace ambrell

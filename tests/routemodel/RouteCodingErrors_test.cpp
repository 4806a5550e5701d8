#include <cmath>
#include <limits>
#include <string>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "routemodel/CVRouteCodingError.h"
#include "routemodel/CVRouteResultInternal.h"

namespace ambrell {
namespace {

// The error a decode of the text throws; fails the test when none is thrown.
CVRouteCodingError decodeError(std::string_view json) {
    try {
        (void)CVRouteResultInternal::decode(json);
    } catch (const CVRouteCodingError& error) {
        return error;
    }
    ADD_FAILURE() << "decoded without error: " << json;
    return {"", ""};
}

CVRouteCodingError encodeError(const CVRouteResultInternal& result) {
    try {
        (void)result.encode();
    } catch (const CVRouteCodingError& error) {
        return error;
    }
    ADD_FAILURE() << "encoded without error";
    return {"", ""};
}

TEST(RouteCodingErrors, WrongKindsNameTheirKeyPath) {
    struct Case {
        const char* json;
        const char* keyPath;
        const char* reason;
    };
    const Case cases[] = {
        {R"({"status": 200})", "status", "expected a text, found a number"},
        {R"({"routes": {}})", "routes", "expected a list, found an object"},
        {R"({"routes": [7]})", "routes[0]", "expected an object, found a number"},
        {R"({"routes": [{"legs": "none"}]})", "routes[0].legs", "expected a list, found a text"},
        {R"({"routes": [{"restrictions": ["steps", 4]}]})", "routes[0].restrictions[1]",
         "expected a text, found a number"},
        {R"({"routes": [{"orderedStopIndexes": [0.5]}]})", "routes[0].orderedStopIndexes[0]",
         "expected an integer, found a number"},
        {R"({"routes": [{"bounds": {"northeast": []}}]})", "routes[0].bounds.northeast",
         "expected an object, found a list"},
        {R"({"routes": [{"overview_polyline": {"points": false}}]})", "routes[0].overview_polyline.points",
         "expected a text, found a boolean"},
        {R"({"routes": [{"legs": [{"routeLegType": "outdoor"}]}]})", "routes[0].legs[0].routeLegType",
         "expected an integer, found a text"},
        {R"({"routes": [{"legs": [{"routeLegType": 1.5}]}]})", "routes[0].legs[0].routeLegType",
         "expected an integer, found a number"},
        {R"({"routes": [{"legs": [{"legEndReason": true}]}]})", "routes[0].legs[0].legEndReason",
         "expected an integer, found a boolean"},
        {R"({"routes": [{"legs": [{"distance": "62 m"}]}]})", "routes[0].legs[0].distance",
         "expected a number or an object with \"value\", found a text"},
        {R"({"routes": [{"legs": [{"duration": {"value": "48"}}]}]})", "routes[0].legs[0].duration.value",
         "expected a number, found a text"},
        {R"({"routes": [{"legs": [{"start_location": {"lat": "57.0"}}]}]})", "routes[0].legs[0].start_location.lat",
         "expected a number, found a text"},
        {R"({"routes": [{"legs": [{"steps": [{}, {"geometry": [{"zLevel": []}]}]}]}]})",
         "routes[0].legs[0].steps[1].geometry[0].zLevel", "expected a number, found a list"},
        {R"({"routes": [{"legs": [{"steps": [{"steps": [{"maneuver": 3}]}]}]}]})",
         "routes[0].legs[0].steps[0].steps[0].maneuver", "expected a text, found a number"},
        {R"({"routes": [{"legs": [{"steps": [{"highway": {}}]}]}]})", "routes[0].legs[0].steps[0].highway",
         "expected a way type text or number, found an object"},
        {R"({"routes": [{"legs": [{"steps": [{"highway": 4.5}]}]}]})", "routes[0].legs[0].steps[0].highway",
         "expected an integer, found a number"},
        {R"({"routes": [{"legs": [{"steps": [{"transit_details": {"num_stops": "3"}}]}]}]})",
         "routes[0].legs[0].steps[0].transit_details.num_stops", "expected an integer, found a text"},
        {R"({"routes": [{"legs": [{"steps": [{"transit_details": {"line": {"agencies": [{"phone": 45}]}}}]}]}]})",
         "routes[0].legs[0].steps[0].transit_details.line.agencies[0].phone", "expected a text, found a number"},
        {R"({"routes": [{"legs": [{"steps": [{"transit_details": {"arrival_time": {"value": "10:12"}}}]}]}]})",
         "routes[0].legs[0].steps[0].transit_details.arrival_time.value", "expected a number, found a text"},
    };
    for (const auto& [json, keyPath, reason] : cases) {
        SCOPED_TRACE(json);
        const auto error = decodeError(json);
        EXPECT_EQ(error.keyPath(), keyPath);
        EXPECT_EQ(error.reason(), reason);
        EXPECT_EQ(std::string(error.what()), std::string(keyPath) + ": " + reason);
    }
}

TEST(RouteCodingErrors, NumbersOutOfRange) {
    struct Case {
        const char* json;
        const char* keyPath;
        const char* reason;
    };
    const Case cases[] = {
        {R"({"routes": [{"distance": 1e400}]})", "routes[0].distance", "number out of range"},
        {R"({"routes": [{"legs": [{"routeLegType": 2147483648}]}]})", "routes[0].legs[0].routeLegType",
         "integer out of range"},
        {R"({"routes": [{"legs": [{"legStartReason": -2147483649}]}]})", "routes[0].legs[0].legStartReason",
         "integer out of range"},
        {R"({"routes": [{"orderedStopIndexes": [18446744073709551615]}]})", "routes[0].orderedStopIndexes[0]",
         "integer out of range"},
        {R"({"routes": [{"orderedStopIndexes": [1e19]}]})", "routes[0].orderedStopIndexes[0]", "integer out of range"},
    };
    for (const auto& [json, keyPath, reason] : cases) {
        SCOPED_TRACE(json);
        const auto error = decodeError(json);
        EXPECT_EQ(error.keyPath(), keyPath);
        EXPECT_EQ(error.reason(), reason);
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
}

TEST(RouteCodingErrors, DeepNestingIsRefusedAsTextAndAsValue) {
    // Sub-steps a thousand levels deep: beyond what any route holds.
    std::string deep = R"({"routes": [{"legs": [{"steps": [)";
    for (int level = 0; level < 1000; ++level) deep += R"({"steps": [)";
    for (int level = 0; level < 1000; ++level) deep += "]}";
    deep += "]}]}]}";
    const auto textError = decodeError(deep);
    EXPECT_EQ(textError.keyPath(), "");
    EXPECT_NE(textError.reason().find("not valid JSON"), std::string::npos);

    // A value built without the parser's limit is refused while reading.
    boost::json::value step = boost::json::object();
    for (int level = 0; level < 200; ++level) {
        boost::json::object outer;
        outer["steps"] = boost::json::array{std::move(step)};
        step = std::move(outer);
    }
    try {
        (void)CVRouteStepInternal::decodeValue(step);
        FAIL() << "decoded a step nested 200 levels deep";
    } catch (const CVRouteCodingError& error) {
        EXPECT_EQ(error.reason(), "nested deeper than 64 levels");
        EXPECT_EQ(error.keyPath().rfind("steps[0].steps[0].", 0), 0U);
    }

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

    leg->setDuration(std::numeric_limits<double>::infinity());
    auto error = encodeError(*result);
    EXPECT_EQ(error.keyPath(), "routes[0].legs[0].duration");
    EXPECT_EQ(error.reason(), "not a finite number");
    leg->setDuration(std::nan(""));
    EXPECT_EQ(encodeError(*result).reason(), "not a finite number");
    leg->setDuration(48);

    leg->setSteps({std::make_shared<CVRouteStepInternal>(), nullptr});
    error = encodeError(*result);
    EXPECT_EQ(error.keyPath(), "routes[0].legs[0].steps[1]");
    EXPECT_EQ(error.reason(), "no object to write");

    // A step made to contain itself would nest without end.
    auto step = std::make_shared<CVRouteStepInternal>();
    step->setSteps(std::vector{step});
    leg->setSteps({step});
    EXPECT_EQ(encodeError(*result).reason(), "nested deeper than 64 levels");
    step->setSteps(std::nullopt);  // breaks the cycle so the step can be freed
    EXPECT_NO_THROW((void)result->encode());
}

}  // namespace
}  // namespace ambrell

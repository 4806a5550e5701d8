#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "routemodel/CVDistanceMatrixResult.h"
#include "routemodel/CVRouteCodingError.h"

namespace ambrell {
namespace {

TEST(DistanceMatrix, SampleDocumentDecodes) {
    const auto matrix = CVDistanceMatrixResult::decode(
        R"({"status":"OK","rows":[{"elements":[{"status":"OK","duration":{"text":"a","value":95},)"
        R"("distance":{"text":"b","value":120}}]}]})");
    EXPECT_EQ(matrix.status, "OK");
    ASSERT_TRUE(matrix.rows);
    ASSERT_EQ(matrix.rows->size(), 1U);
    ASSERT_EQ(matrix.rows->at(0).elements->size(), 1U);
    const auto& element = matrix.rows->at(0).elements->at(0);
    EXPECT_EQ(element.status, "OK");
    EXPECT_EQ(element.duration, (CVRoutePropertyInternal{"a", 95}));
    EXPECT_EQ(element.distance, (CVRoutePropertyInternal{"b", 120}));
    EXPECT_EQ(matrix.origin_addresses, std::nullopt);
}

TEST(DistanceMatrix, EveryKeyRoundTrips) {
    const auto json = boost::json::parse(R"({
        "destination_addresses": ["57.049,9.929"], "origin_addresses": ["57.0431,9.9187,0", "57.0434,9.9191,1"],
        "rows": [{"elements": [{"status": "OK", "distance": {"text": "1.2 km", "value": 1200},
                                "duration": {"text": "15 mins", "value": 900}}]},
                 {"elements": [{"status": "ZERO_RESULTS"}]}],
        "status": "OK", "venue": "harbour", "bestOrigin": "57.0434,9.9191,1", "bestDestination": "57.049,9.929"})");
    const auto matrix = CVDistanceMatrixResult::decodeValue(json);
    EXPECT_EQ(matrix.venue, "harbour");
    EXPECT_EQ(matrix.bestOrigin, "57.0434,9.9191,1");
    EXPECT_EQ(matrix.rows->at(1).elements->at(0).distance, std::nullopt);
    EXPECT_EQ(matrix.encode(), json);
    EXPECT_EQ(CVDistanceMatrixResult::decodeValue(matrix.encode()), matrix);
}

TEST(DistanceMatrix, MissingRowsAreNotAnError) {
    const auto matrix = CVDistanceMatrixResult::decode(R"({"status": "REQUEST_DENIED", "rows": null})");
    EXPECT_EQ(matrix.status, "REQUEST_DENIED");
    EXPECT_EQ(matrix.rows, std::nullopt);
    EXPECT_EQ(CVDistanceMatrixResult::decode(R"({"rows": [{}]})").rows->at(0).elements, std::nullopt);
}

TEST(DistanceMatrix, EmptyResultEncodesToAnEmptyObject) {
    EXPECT_EQ(boost::json::serialize(CVDistanceMatrixResult().encode()), "{}");
    EXPECT_EQ(CVDistanceMatrixResult::decode("{}"), CVDistanceMatrixResult());
}

TEST(DistanceMatrix, PropertyValuesReadAsWholeNumbers) {
    struct Case {
        const char* value;
        std::int64_t integer;
    };
    const Case cases[] = {
        {"95.9", 95}, {"-95.9", -95}, {"0.4", 0}, {"9223372036854775807", 9223372036854775807}, {"1e3", 1000},
    };
    for (const auto& [value, integer] : cases) {
        SCOPED_TRACE(value);
        const auto property = CVRoutePropertyInternal::decodeValue(
            boost::json::parse(std::string(R"({"text": "t", "value": )") + value + "}"));
        EXPECT_EQ(property.value, integer);
        EXPECT_EQ(property.encode().as_object().at("value"), integer);
    }
}

TEST(DistanceMatrix, BadMembersNameTheirKeyPath) {
    struct Case {
        const char* json;
        const char* keyPath;
        const char* reason;
    };
    const Case cases[] = {
        {R"({"rows": [{"elements": [{"duration": {"value": 1e30}}]}]})", "rows[0].elements[0].duration.value",
         "integer out of range"},
        {R"({"rows": [{"elements": [{"duration": {"value": 9223372036854775808}}]}]})",
         "rows[0].elements[0].duration.value", "integer out of range"},
        {R"({"rows": [{"elements": [{"distance": 120}]}]})", "rows[0].elements[0].distance",
         "expected an object, found a number"},
        {R"({"rows": [{"elements": {}}]})", "rows[0].elements", "expected a list, found an object"},
        {R"({"origin_addresses": "57,9"})", "origin_addresses", "expected a list, found a text"},
        {R"({"bestOrigin": 3})", "bestOrigin", "expected a text, found a number"},
    };
    for (const auto& [json, keyPath, reason] : cases) {
        SCOPED_TRACE(json);
        try {
            (void)CVDistanceMatrixResult::decode(json);
            ADD_FAILURE() << "decoded without error";
        } catch (const CVRouteCodingError& error) {
            EXPECT_EQ(error.keyPath(), keyPath);
            EXPECT_EQ(error.reason(), reason);
        }
    }
    EXPECT_THROW((void)CVDistanceMatrixResult::decode("<html>"), CVRouteCodingError);
}

}  // namespace
}  // namespace ambrell

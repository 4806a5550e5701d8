#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>

#include <boost/json/parse.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVError.h"
#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVLocationBaseType.h"
#include "Ambrell/CVLocationSettings.h"
#include "Ambrell/ErrorObjects.h"
#include "platform/NSErrorException.h"

namespace ambrell {
namespace {

using boost::json::parse;

// Hosts match on the raw values and the names, so they are fixed.
TEST(CVError, RawValuesNamesAndDescriptionsAreFixed) {
#define CASE(raw, errorCase) std::tuple(raw, CVErrorCase::errorCase, #errorCase)
    for (const auto& [rawValue, errorCase, caseName] :
         {CASE(0, invalidApiKey), CASE(1, missingUrl), CASE(2, routeNotFound), CASE(3, invalidRouteQuery),
          CASE(4, imageNotFound), CASE(5, subscriptionUnavailable), CASE(6, requestFailed), CASE(7, downloadFailed),
          CASE(8, categoriesUnavailable), CASE(10, dataUnavailable)}) {
#undef CASE
        SCOPED_TRACE(caseName);
        const auto error = CVError::fromRawValue(rawValue);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(*error, errorCase);
        EXPECT_EQ(error->rawValue(), rawValue);
        EXPECT_EQ(name(errorCase), caseName);
        EXPECT_EQ(error->what(), "CVError." + std::string(caseName) + " (" + std::to_string(rawValue) + ")");
    }
    EXPECT_NE(CVError(CVErrorCase::routeNotFound), CVErrorCase::invalidRouteQuery);
    for (const int raw : {-1, 9, 11, 1000}) EXPECT_FALSE(CVError::fromRawValue(raw).has_value()) << raw;

    // A case cast from an unknown value still describes itself.
    const CVError unknown(static_cast<CVErrorCase>(9));
    EXPECT_STREQ(unknown.what(), "CVError.unknown");
    EXPECT_EQ(name(unknown.errorCase()), "unknown");
    EXPECT_EQ(unknown.rawValue(), 9);
}

TEST(ErrorObjects, EachKindOfErrorGetsItsDomainCodeAndDescription) {
    const auto given = errorWithDescription("NSURLErrorDomain", -1001, "The request timed out.");
    EXPECT_EQ(given,
              (platform::NSError{"NSURLErrorDomain", -1001, {{"NSLocalizedDescription", "The request timed out."}}}));
    EXPECT_EQ(errorObjectFor(std::make_exception_ptr(platform::NSErrorException(given))), given);

    const auto cvError = errorObjectFor(std::make_exception_ptr(CVError(CVErrorCase::requestFailed)));
    EXPECT_EQ(std::tie(cvError.domain, cvError.code), std::tuple("Ambrell.CVError", 6));
    EXPECT_EQ(cvError.localizedDescription(), CVError(CVErrorCase::requestFailed).what());
    const auto cancelled = errorObjectFor(std::make_exception_ptr(platform::CancellationError()));
    EXPECT_EQ(std::tie(cancelled.domain, cancelled.code), std::tuple("Swift.CancellationError", 1));

    const std::string ambrell(kAmbrellErrorDomain);
    EXPECT_EQ(errorObjectFor(std::make_exception_ptr(std::runtime_error("b"))), errorWithDescription(ambrell, -1, "b"));
    EXPECT_EQ(errorObjectFor(std::make_exception_ptr(42)), errorWithDescription(ambrell, -1, "Unknown error"));
    EXPECT_EQ(errorObjectFor(nullptr), errorWithDescription(ambrell, -1, "No error"));

    const auto posix = fileSystemError(std::make_error_code(std::errc::no_such_file_or_directory));
    EXPECT_EQ(std::tie(posix.domain, posix.code), std::tuple("NSPOSIXErrorDomain", ENOENT));
    EXPECT_EQ(errorDescription(posix),
              "Error Domain=NSPOSIXErrorDomain Code=" + std::to_string(ENOENT) + " \"No such file or directory\"");
}

// A square of roughly 111 m x 111 m at the equator, straddling longitude 0,
// with a hole in its south-west quarter.
constexpr const char* kSquareWithHole = R"({"type": "Polygon", "coordinates": [
    [[-0.0005, -0.0005], [0.0005, -0.0005], [0.0005, 0.0005], [-0.0005, 0.0005], [-0.0005, -0.0005]],
    [[-0.0004, -0.0004], [-0.0001, -0.0004], [-0.0001, -0.0001], [-0.0004, -0.0001], [-0.0004, -0.0004]]]})";

TEST(CVGeometry, PolygonsReadRingsBoxAreaAndContainment) {
    platform::NSError error;
    const auto polygon = CVPolygonGeometry::initWithDictionary(parse(kSquareWithHole), &error);
    ASSERT_NE(polygon, nullptr);
    EXPECT_EQ(polygon->coordinates().size(), 2u);
    EXPECT_EQ(polygon->boundingBox(), (std::vector<double>{-0.0005, -0.0005, 0.0005, 0.0005}));
    EXPECT_NEAR(polygon->area(), 111.32 * 111.32 * (1.0 - 0.09), 60.0);
    EXPECT_TRUE(polygon->containsPoint({0.0003, 0.0003}));
    EXPECT_FALSE(polygon->containsPoint({-0.0002, -0.0002}));  // in the hole
    EXPECT_FALSE(polygon->containsPoint({0.001, 0}));
    EXPECT_FALSE(polygon->containsPoint({std::nan(""), 0}));

    // A multi-polygon joins its parts.
    const auto multi = CVMultiPolygonGeometry::initWithDictionary(parse(R"({"type": "MultiPolygon",
        "coordinates": [[[[10, 50], [11, 50], [11, 51], [10, 50]]], [[[20, 40], [21, 40], [21, 41], [20, 40]]]]})"));
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->polygons().size(), 2u);
    EXPECT_EQ(multi->boundingBox(), (std::vector<double>{10, 40, 21, 51}));
    EXPECT_TRUE(multi->containsPoint({40.2, 20.8}));
    EXPECT_GT(multi->area(), multi->polygons()[0].area());
}

// The containment test beside its answer: how far outside a point lies, in
// metres (1e-5 degree is about 1.11 m at the equator).
TEST(CVGeometry, ContainmentMetadataMeasuresTheDistanceOutside) {
    const auto polygon = CVPolygonGeometry::initWithDictionary(parse(kSquareWithHole));
    ASSERT_NE(polygon, nullptr);
    const auto check = [&](CLLocationCoordinate2D at, bool ignoreHoles, bool inside, double metres) {
        CVGeometryContainmentMetadata metadata;
        EXPECT_EQ(metadata.distance, 0.0);
        EXPECT_EQ(polygon->containsCoordinate(at, ignoreHoles, &metadata), inside)
            << at.latitude << ", " << at.longitude;
        EXPECT_NEAR(metadata.distance, metres, 0.01) << at.latitude << ", " << at.longitude;
    };
    check({0.0003, 0.0003}, false, true, 0);
    check({0, 0.0005 + 5e-5}, false, false, 5.566);    // east of the outline
    check({0.0006, 0.0006}, false, false, 15.74);      // beyond the north-east corner
    check({-0.00015, -0.00025}, false, false, 5.566);  // in the hole, 5e-5 degree from its edge
    check({-0.00015, -0.00025}, true, true, 0);        // the hole ignored
    EXPECT_TRUE(polygon->containsCoordinate({0.0003, 0.0003}, false));
    CVGeometryContainmentMetadata untouched{7};
    EXPECT_FALSE(polygon->containsCoordinate({std::nan(""), 0}, false, &untouched));
    EXPECT_EQ(untouched.distance, 7);

    const auto multi = CVMultiPolygonGeometry::initWithDictionary(parse(R"({"type": "MultiPolygon",
        "coordinates": [[[[0, 0], [0.0001, 0], [0.0001, 0.0001], [0, 0.0001], [0, 0]]],
                        [[[0.001, 0], [0.0011, 0], [0.0011, 0.0001], [0.001, 0.0001], [0.001, 0]]]]})"));
    ASSERT_NE(multi, nullptr);
    CVGeometryContainmentMetadata metadata;
    EXPECT_TRUE(multi->containsCoordinate({0.00005, 0.00105}, false, &metadata));
    EXPECT_EQ(metadata.distance, 0);
    EXPECT_FALSE(multi->containsCoordinate({0.00005, 0.0002}, false, &metadata));
    EXPECT_NEAR(metadata.distance, 11.13, 0.01) << "to the nearer part";
}

TEST(CVGeometry, MalformedDocumentsAreRefusedWithAReason) {
    for (const char* text :
         {R"([])", R"({"type": "MultiPolygon", "coordinates": []})", R"({"type": "Polygon"})",
          R"({"type": "Polygon", "coordinates": 5})", R"({"type": "Polygon", "coordinates": [[]]})",
          R"({"type": "Polygon", "coordinates": [[[1]]]})", R"({"type": "Polygon", "coordinates": [[["a", 1]]]})"}) {
        platform::NSError error;
        EXPECT_EQ(CVPolygonGeometry::initWithDictionary(parse(text), &error), nullptr) << text;
        EXPECT_EQ(error.domain, CVGeometryErrorDomain) << text;
        EXPECT_FALSE(error.localizedDescription().empty());
    }
    EXPECT_EQ(CVMultiPolygonGeometry::initWithDictionary(parse(R"({"type": "MultiPolygon", "coordinates": []})")),
              nullptr);
    EXPECT_EQ(CVMultiPolygonGeometry::initWithDictionary(parse(kSquareWithHole)), nullptr);
}

TEST(CVGeometry, GeoBoundsFromPointsIntersectAndContain) {
    const CVGeoBounds bounds(std::vector<CLLocationCoordinate2D>{{55.7, 12.6}, {55.6, 12.5}, {55.65, 12.7}});
    EXPECT_EQ(bounds, CVGeoBounds({55.6, 12.5}, {55.7, 12.7}));
    EXPECT_TRUE(bounds.containsCoordinate({55.6, 12.5}));
    EXPECT_TRUE(bounds.intersectsWithOther(CVGeoBounds({55.7, 12.7}, {56, 13})));
    EXPECT_FALSE(bounds.intersectsWithOther(CVGeoBounds({55.8, 12.0}, {56, 13})));
    EXPECT_EQ(CVGeoBounds(std::span<const CLLocationCoordinate2D>{}), CVGeoBounds());
}

TEST(CVDisplayRule, ReadsKnownKeysAndRefusesWrongKinds) {
    const auto rule = CVDisplayRule::initWithDictionary(parse(R"({"visible": false, "icon": "https://x/i.png",
        "iconSize": {"width": 24, "height": 20}, "zoomFrom": 17, "polygonFillColor": "#AABBCC", "other": 1,
        "label": null})"));
    ASSERT_NE(rule, nullptr);
    EXPECT_FALSE(rule->isVisible());
    EXPECT_EQ(rule->iconUrl(), "https://x/i.png");
    EXPECT_EQ(rule->iconSize(), (CGSize{24, 20}));
    EXPECT_EQ(rule->zoomFrom(), 17);
    EXPECT_FALSE(rule->data().label);
    // What it writes reads back to the same rule.
    EXPECT_EQ(*CVDisplayRule::initWithDictionary(rule->JSONObject()), *rule);

    for (const char* text : {R"([])", R"({"visible": 1})", R"({"zoomFrom": "17"})", R"({"icon": 3})",
                             R"({"iconSize": 24})", R"({"iconSize": {"width": "24"}})"}) {
        platform::NSError error;
        EXPECT_EQ(CVDisplayRule::initWithDictionary(parse(text), &error), nullptr) << text;
        EXPECT_FALSE(error.localizedDescription().empty());
    }
}

TEST(CVLocationSettings, ReadsSelectable) {
    EXPECT_EQ(CVLocationSettings::initWithDictionary(parse(R"({"selectable": false})"))->selectable, false);
    EXPECT_FALSE(CVLocationSettings::initWithDictionary(parse(R"({})"))->selectable);
    EXPECT_FALSE(CVLocationSettings::initWithDictionary(parse(R"({"selectable": "no"})")));
    EXPECT_FALSE(CVLocationSettings::initWithDictionary(parse(R"(true)")));
}

TEST(CVLocationBaseType, NamesReadInAnyCaseAndUnknownIsPointOfInterest) {
    const std::pair<const char*, int> table[] = {{"POI", 0},      {"area", 1},  {"Room", 2}, {"FLOOR", 3},
                                                 {"building", 4}, {"VENUE", 5}, {"hall", 0}, {"", 0}};
    for (const auto& [text, raw] : table) EXPECT_EQ(static_cast<int>(as_CVLocationBaseType(text)), raw) << text;
    EXPECT_EQ(as_CVLocationBaseType(std::nullopt), CVLocationBaseType::pointOfInterest);
    EXPECT_EQ(CVLocationBaseTypeName(CVLocationBaseType::building), "BUILDING");
}

}  // namespace
}  // namespace ambrell

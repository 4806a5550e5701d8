#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "tests/support/CapturingLogSink.h"
#include "viewmodels/CVModelError.h"
#include "viewmodels/CVViewModelFeature.h"

namespace ambrell::feature_geojson_test {
namespace {

using Type = GeoJsonGeometryType;
using Key = CVModelPropertyKey;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

const Type kAllTypes[] = {Type::Point,           Type::MultiPoint, Type::LineString,
                          Type::MultiLineString, Type::Polygon,    Type::MultiPolygon};

// Points are made latitude first; positions are written longitude first.
CVPolygonGeometry triangle() { return CVPolygonGeometry({{{1, 2}, {3, 4}, {5, 6}, {1, 2}}}); }

struct CoordinatesForm {
    const char* name;
    std::function<CVFeatureCoordinates()> make;
    std::set<Type> allowed;
    // The "coordinates" member as the feature writes it.
    const char* written;
};

const std::vector<CoordinatesForm>& knownForms() {
    static const std::vector<CoordinatesForm> forms = {
        {"point", [] { return CVFeatureCoordinates(CVPoint(1, 2)); }, {Type::Point}, "[2,1]"},
        {"numbers",
         [] {
             return CVFeatureCoordinates(std::vector<double>{2, 1});
         },
         {Type::Point},
         "[2,1]"},
        {"arrays of numbers",
         [] {
             return CVFeatureCoordinates(std::vector<std::vector<double>>{{2, 1}, {4, 3}});
         },
         {Type::MultiPoint, Type::LineString},
         "[[2,1],[4,3]]"},
        {"points",
         [] {
             return CVFeatureCoordinates(std::vector<CVPoint>{{1, 2}, {3, 4}});
         },
         {Type::MultiPoint, Type::LineString},
         "[[2,1],[4,3]]"},
        {"arrays of points",
         [] {
             return CVFeatureCoordinates(std::vector<std::vector<CVPoint>>{{{1, 2}, {3, 4}}, {{5, 6}}});
         },
         {Type::MultiLineString, Type::Polygon},
         "[[[2,1],[4,3]],[[6,5]]]"},
        {"polygon",
         [] { return CVFeatureCoordinates(triangle()); },
         {Type::MultiLineString, Type::Polygon},
         "[[[2,1],[4,3],[6,5],[2,1]]]"},
        {"arrays of arrays of points",
         [] {
             return CVFeatureCoordinates(std::vector<std::vector<std::vector<CVPoint>>>{{{{1, 2}, {3, 4}}}, {}});
         },
         {Type::MultiPolygon},
         "[[[[2,1],[4,3]]],[]]"},
        {"polygons",
         [] {
             return CVFeatureCoordinates(std::vector<CVPolygonGeometry>{triangle(), triangle()});
         },
         {Type::MultiPolygon},
         "[[[[2,1],[4,3],[6,5],[2,1]]],[[[2,1],[4,3],[6,5],[2,1]]]]"},
        {"multi-polygon",
         [] { return CVFeatureCoordinates(CVMultiPolygonGeometry({triangle()})); },
         {Type::MultiPolygon},
         "[[[[2,1],[4,3],[6,5],[2,1]]]]"},
    };
    return forms;
}

TEST(FeatureGeometry, EachCoordinatesFormAllowsItsTypesOnly) {
    ASSERT_EQ(knownForms().size(), 9u);
    for (std::size_t index = 0; index < knownForms().size(); ++index) {
        const auto& form = knownForms()[index];
        for (const auto type : kAllTypes) {
            SCOPED_TRACE(std::string(form.name) + " as " + std::string(rawValue(type)));
            if (form.allowed.contains(type)) {
                const CVViewModelFeatureGeometry geometry(type, form.make());
                EXPECT_EQ(geometry.type(), type);
                // Kept in the form given, not converted.
                EXPECT_EQ(geometry.coordinates().index(), index);
            } else {
                try {
                    (void)CVViewModelFeatureGeometry(type, form.make());
                    ADD_FAILURE() << "made";
                } catch (const CVModelError& error) {
                    EXPECT_EQ(error, CVModelErrorCase::IllegalGeoJsonGeometryType);
                }
            }
        }
    }
}

TEST(FeatureGeometry, CoordinatesOfNoKnownFormFitNoType) {
    for (const auto& other : {boost::json::parse("[[[1,2],[3,4]]]"), boost::json::parse("[1,2]"),
                              boost::json::value("Point"), boost::json::value(nullptr)}) {
        for (const auto type : kAllTypes) {
            SCOPED_TRACE(boost::json::serialize(other) + " as " + std::string(rawValue(type)));
            try {
                (void)CVViewModelFeatureGeometry(type, other);
                ADD_FAILURE() << "made";
            } catch (const CVModelError& error) {
                EXPECT_EQ(error, CVModelErrorCase::IllegalStateException);
            }
        }
    }
}

TEST(FeatureGeometry, EachFormWritesPositionsLongitudeFirst) {
    for (const auto& form : knownForms()) {
        SCOPED_TRACE(form.name);
        const auto type = *form.allowed.begin();
        const CVViewModelFeature feature("Feature", "f", {}, CVViewModelFeatureGeometry(type, form.make()));
        EXPECT_EQ(feature.toGeoJson(), R"({"id":"f","type":"Feature","geometry":{"type":")" +
                                           std::string(rawValue(type)) + R"(","coordinates":)" + form.written + "}}");
    }
}

CVViewModelFeature roomMarker() {
    // Set out of key order on purpose.
    CVFeatureProperties properties;
    properties[Key::axType] = "Meeting room";
    properties[Key::type] = CVRenderedFeatureType::marker;
    properties[Key::labelMaxWidth] = std::uint64_t{120};
    properties[Key::labelOffset] = std::vector<double>{0, -1.5};
    properties[Key::labelSize] = std::int64_t{12};
    properties[Key::hasImage] = true;
    properties[Key::markerLabel] = "Room 1";
    properties[Key::polygonArea] = 12.25;
    return {"Feature", "room-1", properties, CVViewModelFeatureGeometry(Type::Point, CVPoint(55.6761, 12.5683))};
}

constexpr const char* kRoomMarkerCompact =
    R"({"id":"room-1","type":"Feature","geometry":{"type":"Point","coordinates":[12.5683,55.6761]},)"
    R"("properties":{"polygonArea":12.25,"markerLabel":"Room 1","hasImage":true,"labelSize":12,)"
    R"("labelOffset":[0,-1.5],"labelMaxWidth":120,"type":"marker","axType":"Meeting room"}})";

constexpr const char* kRoomMarkerPretty = R"({
  "id" : "room-1",
  "type" : "Feature",
  "geometry" : {
    "type" : "Point",
    "coordinates" : [
      12.5683,
      55.6761
    ]
  },
  "properties" : {
    "polygonArea" : 12.25,
    "markerLabel" : "Room 1",
    "hasImage" : true,
    "labelSize" : 12,
    "labelOffset" : [
      0,
      -1.5
    ],
    "labelMaxWidth" : 120,
    "type" : "marker",
    "axType" : "Meeting room"
  }
})";

TEST(FeatureGeoJson, GoldenTextsCompactAndPretty) {
    const auto feature = roomMarker();
    EXPECT_EQ(feature.toGeoJson(), kRoomMarkerCompact);
    EXPECT_EQ(feature.toGeoJson(false), kRoomMarkerCompact);
    EXPECT_EQ(feature.toGeoJson(true), kRoomMarkerPretty);
    // Both are JSON with the same content.
    EXPECT_EQ(boost::json::parse(kRoomMarkerCompact), boost::json::parse(kRoomMarkerPretty));
}

TEST(FeatureGeoJson, NoPropertiesMemberWhenThereAreNone) {
    const CVViewModelFeature feature("Feature", "area", {}, CVViewModelFeatureGeometry(Type::Polygon, triangle()));
    EXPECT_EQ(
        feature.toGeoJson(),
        R"({"id":"area","type":"Feature","geometry":{"type":"Polygon","coordinates":[[[2,1],[4,3],[6,5],[2,1]]]}})");
    EXPECT_EQ(feature.toGeoJson(true).find("properties"), std::string::npos);
}

TEST(FeatureGeoJson, TextsAreEscapedAndNumbersShortest) {
    CVFeatureProperties properties;
    properties[Key::markerLabel] = "Caf\xC3\xA9 \"Nord\"\n\\ \x01";
    properties[Key::labelBearing] = 0.1 + 0.2;
    properties[Key::labelOpacity] = -0.0;
    properties[Key::model2DScale] = 1e-7;
    properties[Key::labelHaloWidth] = std::int64_t{-3};
    properties[Key::labelMaxWidth] = std::numeric_limits<std::uint64_t>::max();
    properties[Key::model3DRotation] = std::vector<double>{};
    const CVViewModelFeature feature("Feature", "a\"b", properties,
                                     CVViewModelFeatureGeometry(Type::Point, std::vector<double>{1e21, -90}));
    const auto text = feature.toGeoJson();
    EXPECT_EQ(text,
              R"({"id":"a\"b","type":"Feature","geometry":{"type":"Point","coordinates":[1e+21,-90]},)"
              R"("properties":{"markerLabel":"Caf)"
              "\xC3\xA9"
              R"( \"Nord\"\n\\ \u0001","labelMaxWidth":18446744073709551615,"labelOpacity":-0,)"
              R"("labelHaloWidth":-3,"labelBearing":0.30000000000000004,"model2DScale":1e-07,"model3DRotation":[]}})");
    // Both forms are JSON that reads back to the same values.
    for (const bool pretty : {false, true}) {
        const auto json = boost::json::parse(feature.toGeoJson(pretty));
        EXPECT_EQ(json.at("id"), "a\"b");
        EXPECT_EQ(json.at("properties").at("markerLabel"), "Caf\xC3\xA9 \"Nord\"\n\\ \x01");
        EXPECT_EQ(json.at("properties").at("labelBearing").as_double(), 0.1 + 0.2);
        EXPECT_EQ(json.at("properties").at("labelMaxWidth").as_uint64(), std::numeric_limits<std::uint64_t>::max());
    }
}

TEST(FeatureEquality, ByTextSoInsertionOrderDoesNotMatter) {
    CVFeatureProperties forward;
    CVFeatureProperties backward;
    const std::pair<Key, CVFeaturePropertyValue> entries[] = {
        {Key::polygonFillcolor, "#ff0000"}, {Key::polygonFillOpacity, 0.5}, {Key::locationName, "Hall"},
        {Key::isClusterable, false},        {Key::clickable, true},
    };
    for (const auto& [key, value] : entries) forward.emplace(key, value);
    for (auto entry = std::rbegin(entries); entry != std::rend(entries); ++entry) backward.emplace(*entry);
    const CVViewModelFeature first("Feature", "hall", forward, CVViewModelFeatureGeometry(Type::Polygon, triangle()));
    const CVViewModelFeature second("Feature", "hall", backward, CVViewModelFeatureGeometry(Type::Polygon, triangle()));
    EXPECT_EQ(first.toGeoJson(), second.toGeoJson());
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::hash<CVViewModelFeature>()(first), std::hash<CVViewModelFeature>()(second));

    // The same coordinates in another form write the same text, so the
    // features are equal.
    const CVViewModelFeature asRings(
        "Feature", "hall", backward,
        CVViewModelFeatureGeometry(Type::Polygon, std::vector<std::vector<CVPoint>>{{{1, 2}, {3, 4}, {5, 6}, {1, 2}}}));
    EXPECT_EQ(first, asRings);
}

TEST(FeatureEquality, SameIdDifferentContentIsUnequalButHashesAlike) {
    const auto original = roomMarker();
    auto relabelled = roomMarker();
    relabelled.properties()[Key::markerLabel] = "Room 2";
    EXPECT_FALSE(original == relabelled);
    EXPECT_EQ(std::hash<CVViewModelFeature>()(original), std::hash<CVViewModelFeature>()(relabelled));

    auto moved = roomMarker();
    moved.setGeometry(CVViewModelFeatureGeometry(Type::Point, CVPoint(55.6762, 12.5683)));
    EXPECT_FALSE(original == moved);

    auto renamed = roomMarker();
    renamed.setId("room-2");
    EXPECT_FALSE(original == renamed);
    EXPECT_EQ(renamed.id(), "room-2");

    auto emptied = roomMarker();
    emptied.properties().clear();
    EXPECT_FALSE(original == emptied);

    const CVViewModelFeature otherType("Other", "room-1", original.properties(), original.geometry());
    EXPECT_EQ(otherType.type(), "Other");
    EXPECT_FALSE(original == otherType);
    EXPECT_EQ(original, roomMarker());
}

TEST(FeatureGeoJson, PrettyDiffersOnlyInWhitespace) {
    for (const auto& feature :
         {roomMarker(),
          CVViewModelFeature("Feature", "x", {},
                             CVViewModelFeatureGeometry(Type::MultiPolygon, CVMultiPolygonGeometry({triangle()})))}) {
        auto pretty = feature.toGeoJson(true);
        std::string squeezed;
        bool inText = false;
        for (std::size_t index = 0; index < pretty.size(); ++index) {
            const char character = pretty[index];
            if (character == '"' && (index == 0 || pretty[index - 1] != '\\')) inText = !inText;
            if (!inText && (character == ' ' || character == '\n')) continue;
            squeezed += character;
        }
        EXPECT_EQ(squeezed, feature.toGeoJson(false));
    }
}

TEST(FeatureGeoJson, NonFiniteNumbersFailNamingIdAndKey) {
    struct Case {
        const char* name;
        std::function<CVViewModelFeature()> make;
        const char* key;
    };
    const Case cases[] = {
        {"property",
         [] {
             auto feature = roomMarker();
             feature.properties()[Key::polygonArea] = kNaN;
             return feature;
         },
         "polygonArea"},
        {"array property",
         [] {
             auto feature = roomMarker();
             feature.properties()[Key::model3DScale] = std::vector<double>{1, kInfinity, 1};
             return feature;
         },
         "model3DScale"},
        {"point",
         [] {
             return CVViewModelFeature("Feature", "room-1", {},
                                       CVViewModelFeatureGeometry(Type::Point, CVPoint(kNaN, 12)));
         },
         "coordinates"},
        {"deep polygon",
         [] {
             return CVViewModelFeature(
                 "Feature", "room-1", {},
                 CVViewModelFeatureGeometry(
                     Type::MultiPolygon,
                     CVMultiPolygonGeometry({triangle(), CVPolygonGeometry({{{1, 2}, {3, -kInfinity}}})})));
         },
         "coordinates"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto expected = std::string(R"(Unable to write the feature "room-1" as GeoJSON: the value of ")") +
                              testCase.key + R"(" is not a finite number.)";
        const auto feature = testCase.make();
        for (const bool pretty : {false, true}) {
            const test::ScopedLogCapture capture;
            EXPECT_EQ(feature.toGeoJson(pretty), expected);
            const auto messages = capture.sink().messages();
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].level, platform::LogLevel::error);
            EXPECT_EQ(messages[0].message, expected);
        }
        // Equality stands on the same text, without logging.
        const test::ScopedLogCapture capture;
        EXPECT_EQ(feature, testCase.make());
        EXPECT_TRUE(capture.sink().messages().empty());
    }
}

}  // namespace
}  // namespace ambrell::feature_geojson_test

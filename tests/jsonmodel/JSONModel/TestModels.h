#pragma once

// Small models shaped like the content models, shared by the mapping tests,
// and the import helpers every mapping test uses.

#include <chrono>
#include <cmath>
#include <functional>
#include <set>

#include <boost/json/value.hpp>
#include <gtest/gtest.h>

#include "jsonmodel/JSONModel/JSONModel.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"
#include "jsonmodel/JSONModel/JSONURL.h"

namespace ambrell::test {

struct Field : JSONModelOf<Field> {
    std::string value;
};
BOOST_DESCRIBE_STRUCT(Field, (JSONModel), (value))

// Rejects a latitude past a pole.
struct Point : JSONModelOf<Point> {
    double lat = 0, lng = 0;

    bool validate(JSONModelErrorOut error) override {
        if (std::abs(lat) > 90) setJSONModelError(error, JSONModelError::errorModelIsInvalid());
        return std::abs(lat) <= 90;
    }
};
BOOST_DESCRIBE_STRUCT(Point, (JSONModel), (lat, lng))

// Keys mapped into nested objects, custom setters and getters, ignored,
// read-only and function members.
struct Venue : JSONModelOf<Venue> {
    std::string venueId, name;
    std::map<std::string, std::shared_ptr<Field>> properties;
    std::vector<double> bbox;
    std::vector<std::shared_ptr<Venue>> neighbours;
    std::optional<std::int64_t> defaultFloor;
    std::optional<JSONURL> tilesUrl;
    std::shared_ptr<Point> anchor;
    std::vector<Point> entryPoints;
    int hits = 0;
    const std::string kind = "venue";
    std::function<void()> onChange;

    static void declareJSON(JSONModelDeclaration<Venue>& d) {
        d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({{"venueId", "id"},
                                                                  {"name", "venueInfo.name"},
                                                                  {"properties", "venueInfo.fields"},
                                                                  {"bbox", "geometry.bbox"}}))
            .optional({"properties", "bbox", "neighbours", "anchor", "entryPoints"})
            .ignore({"hits"})
            .setter("name", &Venue::setNameWithNSString);
    }
    // The service writes line breaks as a backslash and an "n".
    void setNameWithNSString(std::string_view text) {
        // Built up rather than replaced in place: in the inlined
        // std::string::replace, g++ 12 at -O2 reports an overflow that cannot happen.
        name.clear();
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (text.compare(at, 2, "\\n") == 0) {
                name += '\n';
                ++at;
            } else {
                name += text[at];
            }
        }
    }
};
BOOST_DESCRIBE_STRUCT(Venue, (JSONModel),
                      (venueId, name, properties, bbox, neighbours, defaultFloor, tilesUrl, anchor, entryPoints, hits,
                       kind, onChange))

// Every primitive width, optional primitives, texts, dates and raw JSON.
struct Everything : JSONModelOf<Everything> {
    bool flag = false;
    std::int8_t tiny = 0;
    std::uint8_t byte = 0;
    std::int16_t shortNumber = 0;
    std::uint16_t unsignedShort = 0;
    std::int32_t number = 0;
    std::uint32_t unsignedNumber = 0;
    std::int64_t longNumber = 0;
    std::uint64_t unsignedLong = 0;
    float ratio = 0;
    double precise = 0;
    std::string text;
    std::optional<std::string> note;
    std::optional<bool> maybe;
    std::optional<double> maybeNumber;
    std::optional<std::chrono::system_clock::time_point> date;
    std::optional<JSONURL> link;
    std::vector<std::string> words;
    std::set<std::string> tags;
    std::map<std::string, int> counts;
    boost::json::value raw;
    std::optional<boost::json::value> extra;
    boost::json::object settings;

    static void declareJSON(JSONModelDeclaration<Everything>& d) {
        d.optional({"flag", "tiny", "byte", "shortNumber", "unsignedShort", "number", "unsignedNumber", "longNumber",
                    "unsignedLong", "ratio", "precise", "text", "words", "tags", "counts", "raw", "settings"});
    }
};
BOOST_DESCRIBE_STRUCT(Everything, (JSONModel),
                      (flag, tiny, byte, shortNumber, unsignedShort, number, unsignedNumber, longNumber, unsignedLong,
                       ratio, precise, text, note, maybe, maybeNumber, date, link, words, tags, counts, raw, extra,
                       settings))

// A model equal, hashed and ordered by its index.
struct Location : JSONModelOf<Location> {
    std::string locationId, name;
    std::optional<double> floor;

    static void declareJSON(JSONModelDeclaration<Location>& d) {
        d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({{"locationId", "id"}, {"name", "properties.name"}}))
            .index("locationId");
    }
};
BOOST_DESCRIBE_STRUCT(Location, (JSONModel), (locationId, name, floor))

// A subclass: inherits Location's members and declarations, re-declares
// `name` (as a number) and adds one of its own.
struct Room : JSONModelOf<Room, Location> {
    int name = 0;
    std::optional<std::string> roomNumber;

    static void declareJSON(JSONModelDeclaration<Room>& d) { d.optional({"name"}); }
};
BOOST_DESCRIBE_STRUCT(Room, (Location), (name, roomNumber))

// Collections of models by value and by pointer, in arrays and dictionaries.
struct Building : JSONModelOf<Building> {
    std::string buildingId;
    std::map<std::string, Field> floors;
    std::vector<std::shared_ptr<Location>> rooms;
    std::optional<std::vector<Field>> notes;

    static void declareJSON(JSONModelDeclaration<Building>& d) { d.optional({"rooms", "floors"}); }
};
BOOST_DESCRIBE_STRUCT(Building, (JSONModel), (buildingId, floors, rooms, notes))

// Exports its label through a custom getter.
struct Badge : JSONModelOf<Badge> {
    std::string label;

    static void declareJSON(JSONModelDeclaration<Badge>& d) { d.getter("label", &Badge::JSONObjectForLabel); }
    [[nodiscard]] boost::json::value JSONObjectForLabel() const { return boost::json::value("label:" + label); }
};
BOOST_DESCRIBE_STRUCT(Badge, (JSONModel), (label))

// Plain names for the key-mapper tests; `userId` has a class mapping, the
// others are left to the global mapper.
struct Profile : JSONModelOf<Profile> {
    std::string userId, firstName;
    int version2Name = 0;

    static void declareJSON(JSONModelDeclaration<Profile>& d) {
        d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({{"userId", "uid"}}));
    }
};
BOOST_DESCRIBE_STRUCT(Profile, (JSONModel), (userId, firstName, version2Name))

// The model the text imports into; a failure is reported with its error.
template <typename M>
std::shared_ptr<M> imported(std::string_view text) {
    std::optional<JSONModelError> error;
    auto model = M::fromString(text, &error);
    EXPECT_TRUE(model) << text << ": " << (error ? error->localizedDescription() : "");
    return model;
}

// The error of an import that must fail.
template <typename M>
std::optional<JSONModelError> importFailure(std::string_view text) {
    std::optional<JSONModelError> error;
    EXPECT_FALSE(M::fromString(text, &error)) << text;
    EXPECT_TRUE(error.has_value()) << text;
    return error;
}

}  // namespace ambrell::test

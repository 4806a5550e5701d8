#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include <boost/json/parse.hpp>

#include "jsonmodel/JSONModel/JSONModelCollections.h"
#include "tests/jsonmodel/JSONModel/TestModels.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/JsonEq.h"

namespace ambrell::test {
namespace {

namespace json = boost::json;

// A property's type decides whether its export is an integer or a double, and
// the two are written differently ("2" and "2E0"), so they never match here.
JsonEqMatcher exports(const json::value& expected) { return JsonEq(expected, JsonNumbers::exactKind); }
JsonEqMatcher exports(const char* expected) { return JsonEq(expected, JsonNumbers::exactKind); }

constexpr std::string_view kVenue =
    R"({"id": "v1", "venueInfo": {"name": "Main", "fields": {"lobby": {"value": "yes"}}},
    "geometry": {"bbox": [1.5, 2, 3, 4]}, "neighbours": [{"id": "v2", "venueInfo": {"name": "Side"}}], "defaultFloor": 2,
    "tilesUrl": "https://tiles.example.com/{z}/{x}/{y}.png", "anchor": {"lat": 55.5, "lng": 12.25},
    "entryPoints": [{"lat": 1, "lng": 2}]})";

// ---- export and round trips

TEST(ExportTest, MappedKeyPathsBuildNestedObjectsAndAKeyListLimitsTheExport) {
    auto venue = imported<Venue>(kVenue);
    const json::object exported = venue->toDictionary();
    EXPECT_EQ(exported.at("id"), "v1");
    EXPECT_THAT(exported.at("venueInfo"), exports(R"({"name": "Main", "fields": {"lobby": {"value": "yes"}}})"));
    EXPECT_THAT(exported.at("geometry"), exports(R"({"bbox": [1.5, 2.0, 3.0, 4.0]})"));
    for (const char* member : {"hits", "kind", "onChange"}) EXPECT_FALSE(exported.contains(member)) << member;
    // Importing the export gives the same export again.
    auto again = Venue::fromDictionary(json::value(exported));
    ASSERT_TRUE(again);
    EXPECT_THAT(again->toDictionary(), exports(exported));

    const std::vector<std::string> keys{"venueId", "defaultFloor"};
    EXPECT_THAT(venue->toDictionaryWithKeys(keys), exports(R"({"id": "v1", "defaultFloor": 2})"));
    EXPECT_EQ(venue->toJSONStringWithKeys(keys), R"({"id":"v1","defaultFloor":2})");

    // A given list that names nothing exports nothing; no list exports everything.
    const std::vector<std::string> none;
    EXPECT_EQ(std::tuple(venue->toDictionaryWithKeys(none), venue->toJSONStringWithKeys(none),
                         venue->toJSONDataWithKeys(none)),
              std::tuple(json::object(), "{}", std::vector<std::uint8_t>{'{', '}'}));
    EXPECT_EQ(venue->toDictionaryWithKeys(std::nullopt), venue->toDictionary());
    const std::vector<std::shared_ptr<Venue>> venues{venue};
    EXPECT_THAT(*arrayOfDictionariesFromModels(venues, none), exports("[{}]"));
    EXPECT_THAT(*arrayOfDictionariesFromModels(venues, keys), exports(R"([{"id": "v1", "defaultFloor": 2}])"));
}

TEST(ExportTest, AbsentValuesAreLeftOutNullsWrittenAsNullAndValuesInTheirJSONForms) {
    using namespace std::chrono;
    Everything model;
    model.extra = json::value(nullptr);
    const json::object exported = model.toDictionary();
    EXPECT_FALSE(exported.contains("note") || exported.contains("date"));
    EXPECT_EQ(std::tie(exported.at("extra"), exported.at("raw"), exported.at("text")),
              std::tuple(nullptr, nullptr, ""));
    // A missing nested model is left out as well.
    EXPECT_FALSE(Venue().toDictionary().contains("anchor"));

    model.link = JSONURL{"https://example.com/x"};
    model.date = sys_days{year{2024} / 5 / 1} + hours{10} + minutes{30} + milliseconds{999};
    model.tags = {"b", "a"};
    model.flag = true;
    model.unsignedLong = 18446744073709551615ULL;
    model.tiny = -5;
    const std::vector<std::string> keys{"link", "date", "tags", "flag", "unsignedLong", "tiny"};
    EXPECT_THAT(model.toDictionaryWithKeys(keys),
                exports(R"({"link": "https://example.com/x", "date": "2024-05-01T10:30:00+0000", "tags": ["a", "b"],
                            "flag": true, "unsignedLong": 18446744073709551615, "tiny": -5})"));
    // A custom getter decides the exported value.
    EXPECT_EQ(imported<Badge>(R"({"label": "gold"})")->toJSONString(), R"({"label":"label:gold"})");
}

TEST(ExportTest, EveryKindSurvivesARoundTrip) {
    auto model = imported<Everything>(R"({
        "flag": true, "tiny": -8, "byte": 255, "shortNumber": -300, "unsignedShort": 65535,
        "number": -70000, "unsignedNumber": 4000000000, "longNumber": -9007199254740993,
        "unsignedLong": 18446744073709551615, "ratio": 0.5, "precise": 0.1, "text": "t\u00e9\"x",
        "note": "n", "maybe": false, "maybeNumber": 1e-300, "date": "2024-05-01T10:30:00+0000",
        "link": "https://example.com/", "words": ["a", ""], "tags": ["x"], "counts": {"a": 1},
        "raw": {"nested": [1, null]}, "extra": [], "settings": {"k": "v"}})");
    ASSERT_TRUE(model);
    auto text = model->toJSONString();
    ASSERT_TRUE(text);
    auto again = Everything::fromString(*text);
    ASSERT_TRUE(again);
    EXPECT_THAT(again->toDictionary(), exports(model->toDictionary()));
    EXPECT_EQ(std::tie(again->precise, again->longNumber), std::tuple(0.1, -9007199254740993LL));
}

TEST(ExportTest, NumbersJSONCannotWriteMakeNoText) {
    ScopedLogCapture log;
    Everything model;
    model.precise = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(model.toJSONString());
    EXPECT_FALSE(model.toJSONData());
    EXPECT_TRUE(log.sink().contains("EXCEPTION: "));
    model.precise = 0;
    model.ratio = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(model.toJSONString());
}

// ---- collections

TEST(CollectionTest, ArraysOfModelsSkipScalarsAndFlattenNestedArrays) {
    auto models = Field::arrayOfModelsFromString(R"([{"value": "a"}, 5, {"value": "b"}])");
    ASSERT_TRUE(models);
    ASSERT_EQ(models->size(), 2u);
    EXPECT_EQ((*models)[1]->value, "b");
    EXPECT_EQ(Field::arrayOfModelsFromString(R"([[{"value": "a"}], [{"value": "b"}]])")->size(), 2u);

    std::optional<JSONModelError> error;
    EXPECT_FALSE(Field::arrayOfModelsFromString(R"([{"value": "a"}, {"other": 1}])", &error));
    EXPECT_EQ(error->keyPath(), "[1]");
    // A failure inside a nested array is reported, and the other models are kept.
    error.reset();
    models = Field::arrayOfModelsFromString(R"([[{"value": 1}, {}], {"value": "c"}])", &error);
    ASSERT_TRUE(models);
    EXPECT_EQ(models->size(), 2u);
    EXPECT_EQ(error->keyPath(), "[0][1]");

    error.reset();
    EXPECT_FALSE(Field::arrayOfModelsFromString(R"({"value": "a"})", &error));
    EXPECT_FALSE(Field::arrayOfModelsFromDictionaries(nullptr, &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(Field::arrayOfModelsFromString("[", &error));
    EXPECT_EQ(error->code, 3);
}

TEST(CollectionTest, DictionariesOfModelsTakeObjectsAndArrays) {
    auto models = Field::dictionaryOfModelsFromString(R"({"one": {"value": "1"}, "many": [{"value": "2"}]})");
    ASSERT_TRUE(models);
    ASSERT_EQ(models->size(), 2u);
    EXPECT_EQ(std::get<std::shared_ptr<Field>>(models->at("one"))->value, "1");
    EXPECT_EQ(std::get<std::vector<std::shared_ptr<Field>>>(models->at("many")).size(), 1u);

    std::optional<JSONModelError> error;
    EXPECT_FALSE(Field::dictionaryOfModelsFromString(R"({"one": {"value": "1"}, "bad": 3})", &error));
    EXPECT_EQ(error->typeMismatch(), "Only dictionaries and arrays are supported");
    EXPECT_EQ(error->keyPath(), "bad");
    EXPECT_FALSE(Field::dictionaryOfModelsFromString("[]"));
}

TEST(CollectionTest, ModelsExportBackToArraysAndDictionaries) {
    auto models = Field::arrayOfModelsFromString(R"([{"value": "a"}, {"value": "b"}])");
    ASSERT_TRUE(models);
    EXPECT_THAT(*arrayOfDictionariesFromModels(*models), exports(R"([{"value": "a"}, {"value": "b"}])"));
    std::map<std::string, std::shared_ptr<Field>> byKey{{"k", (*models)[0]}};
    EXPECT_THAT(*dictionaryOfDictionariesFromModels(byKey), exports(R"({"k": {"value": "a"}})"));
    models->push_back(nullptr);
    EXPECT_FALSE(arrayOfDictionariesFromModels(*models));
}

// ---- copies, equality and hashing

TEST(CopyTest, ACopyEqualsTheOriginalInEveryExportedProperty) {
    auto venue = imported<Venue>(kVenue);
    venue->hits = 9;
    auto copy = venue->copy();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), venue.get());
    EXPECT_THAT(copy->toDictionary(), exports(venue->toDictionary()));
    EXPECT_EQ(std::tuple(copy->entryPoints.size(), copy->hits),
              std::tuple(1u, 0));  // hits is ignored: not carried over

    auto room = imported<Room>(R"({"id": "r", "properties": {"name": 3}})");
    auto roomCopy = std::static_pointer_cast<Location>(room)->copy();
    ASSERT_TRUE(std::dynamic_pointer_cast<Room>(roomCopy));
    EXPECT_TRUE(roomCopy->isEqual(*room));
}

TEST(EqualityTest, ModelsWithAnIndexCompareByItAlone) {
    auto a = imported<Location>(R"({"id": "same", "properties": {"name": "A"}, "floor": 1})");
    auto b = imported<Location>(R"({"id": "same", "properties": {"name": "B"}})");
    auto c = imported<Location>(R"({"id": "other", "properties": {"name": "A"}, "floor": 1})");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*c));
    EXPECT_EQ(std::tuple(a->compare(*c), c->compare(*a), a->compare(*b)), std::tuple(1, -1, 0));

    // A subclass instance is never equal to its base class's.
    auto room = imported<Room>(R"({"id": "same"})");
    EXPECT_FALSE(a->isEqual(*room) || room->isEqual(*a));

    // Without an index: identity.
    auto f1 = imported<Field>(R"({"value": "x"})");
    auto f2 = imported<Field>(R"({"value": "x"})");
    EXPECT_TRUE(f1->isEqual(*f1));
    EXPECT_FALSE(f1->isEqual(*f2));
    EXPECT_EQ(f1->compare(*f2), 0);
}

TEST(DescriptionTest, ListsEveryPropertyAndShortensLongTexts) {
    EXPECT_EQ(imported<Badge>(R"({"label": "gold"})")->description(), "<Badge> \n   [label]: gold\n</Badge>");
    auto location = imported<Location>(
        R"({"id": "0123456789012345678901234567890123456789012345678901234567890", "properties": {"name": "x\ny"}})");
    EXPECT_EQ(location->description(),
              "<Location> \n"
              "   [locationId]: 01234567890123456789012345678901234567890123456789012345678...\n"
              "   [name]: x\n   y\n"
              "   [floor]: <nil>\n"
              "</Location>");
}

}  // namespace
}  // namespace ambrell::test

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "tests/jsonmodel/JSONModel/TestModels.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::test {
namespace {

namespace json = boost::json;

template <typename M>
std::optional<JSONModelError> importFailure(std::string_view text) {
    std::optional<JSONModelError> error;
    EXPECT_FALSE(M::fromString(text, &error)) << text;
    EXPECT_TRUE(error.has_value()) << text;
    return error;
}

template <typename M>
std::shared_ptr<M> imported(std::string_view text) {
    std::optional<JSONModelError> error;
    auto model = M::fromString(text, &error);
    EXPECT_TRUE(model) << text << ": " << (error ? error->localizedDescription() : "");
    return model;
}

// ---- required keys

TEST(RequiredKeysTest, EveryMissingNameIsListedAndLogged) {
    ScopedLogCapture log;
    auto error = importFailure<Location>(R"({"floor": 2})");
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->localizedDescription(),
              "Invalid JSON data. Required JSON keys are missing from the input. Check the error user information.");
    EXPECT_EQ(error->missingKeys(), (std::vector<std::string>{"locationId", "name"}));
    EXPECT_FALSE(error->keyPath());
    EXPECT_TRUE(log.sink().contains("Incoming data was invalid [Location initWithDictionary:]. Keys missing: "
                                    "locationId, name"));
}

TEST(RequiredKeysTest, MappedKeyPathsAreLookedUpInsideNestedObjects) {
    // "name" lives at properties.name; a top-level "name" does not count.
    auto error = importFailure<Location>(R"({"id": "a", "name": "x", "properties": {}})");
    EXPECT_EQ(error->missingKeys(), std::vector<std::string>{"name"});
    EXPECT_TRUE(imported<Location>(R"({"id": "a", "properties": {"name": "x"}})"));
}

TEST(RequiredKeysTest, NullCountsAsPresentButFailsAtImport) {
    auto error = importFailure<Location>(R"({"id": "a", "properties": {"name": null}})");
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->localizedDescription(), "Invalid JSON data: Value of required model key name is null");
    EXPECT_EQ(error->keyPath(), "name");
    EXPECT_TRUE(error->missingKeys().empty());
}

// ---- null handling and optional properties

TEST(NullHandlingTest, OptionalMissingOrNullKeepsThePreviousValue) {
    auto model = imported<Everything>(R"({"note": "first", "maybeNumber": 2.5, "precise": 1.5})");
    EXPECT_EQ(model->note, "first");
    ASSERT_TRUE(model->mergeFromDictionary(json::parse(R"({"note": null, "text": "t"})"), true));
    EXPECT_EQ(model->note, "first");
    EXPECT_EQ(model->maybeNumber, 2.5);
    EXPECT_EQ(model->precise, 1.5);
    EXPECT_EQ(model->text, "t");

    auto fresh = imported<Everything>(R"({"note": null, "number": null})");
    EXPECT_FALSE(fresh->note);
    EXPECT_EQ(fresh->number, 0);
    EXPECT_TRUE(fresh->raw.is_null());
}

TEST(NullHandlingTest, IgnoredReadOnlyAndFunctionMembersAreNeverImported) {
    auto venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "hits": 7, "kind": "other"})");
    EXPECT_EQ(venue->hits, 0);
    EXPECT_EQ(venue->kind, "venue");
}

// ---- nested failures and their key paths

TEST(NestedFailureTest, RequiredNestedModelFailsTheParentWithItsPath) {
    auto error = importFailure<Building>(R"({"buildingId": "b", "notes": [{"value": "a"}, {"value": []}]})");
    EXPECT_EQ(error->keyPath(), "notes[1].value");
    EXPECT_EQ(error->typeMismatch(), "NSString type not supported for Field.value");
}

TEST(NestedFailureTest, OptionalNestedModelThatFailsIsSkipped) {
    auto venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "anchor": {"lat": 1}})");
    EXPECT_FALSE(venue->anchor);
    venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "anchor": {"lat": 1, "lng": 2}})");
    ASSERT_TRUE(venue->anchor);
    EXPECT_EQ(venue->anchor->lng, 2);
}

TEST(NestedFailureTest, CollectionOfModelsWithANonArrayFailsEvenWhenOptional) {
    auto error = importFailure<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "neighbours": {"a": 1}})");
    EXPECT_EQ(error->typeMismatch(),
              "Property 'neighbours' is declared as NSArray<Venue>* but the corresponding JSON value is not a JSON "
              "Array.");
    EXPECT_EQ(error->keyPath(), "neighbours");

    error = importFailure<Building>(R"({"buildingId": "b", "floors": [1]})");
    EXPECT_EQ(error->typeMismatch(),
              "Property 'floors' is declared as NSDictionary<Field>* but the corresponding JSON value is not a JSON "
              "Object.");
}

struct PathCase {
    std::string_view json;
    std::string_view keyPath;
};

class NestedKeyPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(NestedKeyPathTest, LocatesTheFailingValueFromTheOutermostModel) {
    auto error = importFailure<Building>(GetParam().json);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->keyPath(), GetParam().keyPath);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NestedKeyPathTest,
    ::testing::Values(
        // The element's index in the input, skipped elements included.
        PathCase{R"({"buildingId": "b", "rooms": [{"id": "1", "properties": {"name": "a"}}, 5,
                    {"id": "3", "properties": {"name": null}}]})",
                 "rooms[2].name"},
        PathCase{R"({"buildingId": "b", "rooms": [{"id": "1", "properties": {"name": "a"}}, {"id": 2}]})",
                 "rooms[1]"},
        PathCase{R"({"buildingId": "b", "floors": {"ground": {"value": "g"}, "first": {"value": {}}}})",
                 "floors.first.value"},
        PathCase{R"({"buildingId": "b", "floors": {"roof": 7}})", "floors.roof"},
        // An element of a nested array reports both positions.
        PathCase{R"({"buildingId": "b", "rooms": [[{"id": "1", "properties": {"name": "a"}}], [{"id": []}]]})",
                 "rooms[1][0]"},
        PathCase{R"({"buildingId": ["b"]})", "buildingId"}));

TEST(NestedFailureTest, DeepPathsThroughModelsArraysAndDictionaries) {
    auto error = importFailure<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "neighbours": [
        {"id": "w", "venueInfo": {"name": "m", "fields": {"lobby": {"value": [1]}}}}]})");
    EXPECT_EQ(error->keyPath(), "neighbours[0].properties.lobby.value");
}

// ---- conversions

TEST(ConversionTest, NumbersAndTextsConvertBothWays) {
    auto model = imported<Everything>(R"({"text": 12, "note": 3.5, "number": "42", "precise": " -7.25e1x",
                                           "longNumber": "9007199254740993", "ratio": "abc", "words": [1, true, "w"]})");
    EXPECT_EQ(model->text, "12");
    EXPECT_EQ(model->note, "3.5");
    EXPECT_EQ(model->number, 42);
    EXPECT_EQ(model->precise, -72.5);
    EXPECT_EQ(model->longNumber, 9007199254740993LL);
    EXPECT_EQ(model->ratio, 0.0f);
    EXPECT_EQ(model->words, (std::vector<std::string>{"1", "1", "w"}));
}

TEST(ConversionTest, IntegersTruncateFractionsAndRefuseWhatTheyCannotHold) {
    auto model = imported<Everything>(R"({"number": 3.99, "tiny": -128, "unsignedLong": 18446744073709551615})");
    EXPECT_EQ(model->number, 3);
    EXPECT_EQ(model->tiny, -128);
    EXPECT_EQ(model->unsignedLong, 18446744073709551615ULL);

    struct Case {
        std::string_view json;
        std::string_view mismatch;
        std::string_view keyPath;
    };
    for (const Case& c : {
             Case{R"({"byte": 256})", "Number 256 is out of range of unsigned char for Everything.byte", "byte"},
             Case{R"({"unsignedNumber": -1})", "Number -1 is out of range of unsigned int for Everything.unsignedNumber",
                  "unsignedNumber"},
             Case{R"({"longNumber": 1e30})", "Number 1E30 is out of range of long long for Everything.longNumber",
                  "longNumber"},
             Case{R"({"shortNumber": "40000"})", "Number 40000 is out of range of short for Everything.shortNumber",
                  "shortNumber"},
             Case{R"({"ratio": 1e300})", "Number 1E300 is out of range of float for Everything.ratio", "ratio"},
             Case{R"({"number": [1]})", "int type not supported for Everything.number", "number"},
             Case{R"({"flag": {}})", "BOOL type not supported for Everything.flag", "flag"},
             Case{R"({"text": {"a": 1}})", "NSString type not supported for Everything.text", "text"},
             Case{R"({"words": ["a", null]})", "NSString type not supported for Everything.words", "words[1]"},
             Case{R"({"counts": {"a": 1, "b": "x", "c": []}})", "int type not supported for Everything.counts",
                  "counts.c"},
             Case{R"({"counts": [1]})", "NSDictionary type not supported for Everything.counts", "counts"},
             Case{R"({"link": 5})", "NSURL type not supported for Everything.link", "link"},
             Case{R"({"date": true})", "NSDate type not supported for Everything.date", "date"},
             Case{R"({"date": 1e20})", "Number 1E20 is out of range of NSDate for Everything.date", "date"},
         }) {
        auto error = importFailure<Everything>(c.json);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 1) << c.json;
        EXPECT_EQ(error->typeMismatch(), c.mismatch) << c.json;
        EXPECT_EQ(error->keyPath(), c.keyPath) << c.json;
    }
}

struct BoolCase {
    std::string_view json;
    bool expected;
};

class BoolConversionTest : public ::testing::TestWithParam<BoolCase> {};

TEST_P(BoolConversionTest, TextsAndNumbersGiveYesOrNo) {
    auto model = imported<Everything>("{\"flag\": " + std::string(GetParam().json) + "}");
    ASSERT_TRUE(model);
    EXPECT_EQ(model->flag, GetParam().expected) << GetParam().json;
}

INSTANTIATE_TEST_SUITE_P(Values, BoolConversionTest,
                         ::testing::Values(BoolCase{R"("true")", true}, BoolCase{R"("TRUE")", true},
                                           BoolCase{R"("Yes")", true}, BoolCase{R"("2")", true},
                                           BoolCase{R"("0")", false}, BoolCase{R"("no")", false},
                                           BoolCase{R"("")", false}, BoolCase{"2", true}, BoolCase{"0.5", false},
                                           BoolCase{"true", true}, BoolCase{"false", false}));

TEST(ConversionTest, DatesReadWithAndWithoutColonsOrNotAtAll) {
    using namespace std::chrono;
    const auto expected = sys_days{year{2024} / 5 / 1} + hours{10} + minutes{30};
    for (std::string_view text : {"2024-05-01T12:30:00+02:00", "2024-05-01T123000+0200", "2024-05-01T10:30:00Z"}) {
        auto model = imported<Everything>("{\"date\": \"" + std::string(text) + "\"}");
        ASSERT_TRUE(model && model->date) << text;
        EXPECT_EQ(*model->date, expected) << text;
    }
    for (std::string_view text : {"2024-05-01T12:30:00", "01/05/2024", "2024-02-30T10:00:00Z", "2024-05-01T25:00:00Z",
                                  "9999-12-31T23:59:59Z", ""}) {
        auto model = imported<Everything>("{\"date\": \"" + std::string(text) + "\"}");
        ASSERT_TRUE(model) << text;
        EXPECT_FALSE(model->date) << text;
    }
    auto model = imported<Everything>(R"({"date": 1714559400})");
    EXPECT_EQ(model->date, expected);
}

TEST(ConversionTest, URLsAreValidatedAndDictionariesAcceptAnEmptyArray) {
    auto model = imported<Everything>(R"({"link": "https://example.com/a?b=1", "settings": [], "counts": []})");
    EXPECT_EQ(model->link, JSONURL{"https://example.com/a?b=1"});
    EXPECT_TRUE(model->settings.empty());
    model = imported<Everything>(R"({"link": "not a url"})");
    EXPECT_FALSE(model->link);
    auto error = importFailure<Everything>(R"({"settings": [1]})");
    EXPECT_EQ(error->typeMismatch(), "NSDictionary type not supported for Everything.settings");
}

TEST(ConversionTest, RawValuesAndSetsKeepWhatTheyAreGiven) {
    auto model = imported<Everything>(R"({"raw": [1, {"a": null}], "extra": "x", "tags": ["b", "a", "b"]})");
    EXPECT_EQ(model->raw, json::parse(R"([1, {"a": null}])"));
    EXPECT_EQ(model->extra, json::value("x"));
    EXPECT_EQ(model->tags, (std::set<std::string>{"a", "b"}));
}

// ---- custom setters, validation, subclasses

TEST(CustomSetterTest, TheSetterForTheValuesClassIsUsed) {
    auto venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "Main\\nHall"}})");
    EXPECT_EQ(venue->name, "Main\nHall");
    // A number has no setter of its own, and none is generic: the mapping converts it.
    venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": 12}})");
    EXPECT_EQ(venue->name, "12");
}

TEST(ValidationTest, AFailingValidationFailsTheImport) {
    EXPECT_TRUE(imported<Range>(R"({"start": 1, "end": 2})"));
    auto error = importFailure<Range>(R"({"start": 3, "end": 2})");
    EXPECT_EQ(error->code, 4);
    EXPECT_EQ(error->localizedDescription(), "Model does not validate. The custom validation for the input data failed.");
}

TEST(SubclassTest, RedeclaredMembersAndDeclarationsWin) {
    // Room inherits locationId, its key mapping and the index; its own `name` is a number and optional.
    auto room = imported<Room>(R"({"id": "r1", "properties": {"name": "7"}, "roomNumber": "A7"})");
    EXPECT_EQ(room->locationId, "r1");
    EXPECT_EQ(room->name, 7);
    EXPECT_EQ(room->roomNumber, "A7");
    EXPECT_TRUE(imported<Room>(R"({"id": "r2"})"));
    EXPECT_EQ(room->indexPropertyName(), "locationId");
    const auto* name = room->modelClass().property("name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->primitiveName, "int");
    EXPECT_TRUE(name->isOptional);
}

// ---- merging

TEST(MergeTest, MergeSkipsTheRequiredCheckAndChangesOnlyWhatIsGiven) {
    auto location = imported<Location>(R"({"id": "a", "properties": {"name": "Old"}, "floor": 1})");
    ASSERT_TRUE(location->mergeFromDictionary(json::parse(R"({"floor": 3})"), true));
    EXPECT_EQ(location->name, "Old");
    EXPECT_EQ(location->floor, 3);
    // Without the class key mapper the property names are the keys.
    ASSERT_TRUE(location->mergeFromDictionary(json::parse(R"({"name": "New", "id": "ignored"})"), false));
    EXPECT_EQ(location->name, "New");
    EXPECT_EQ(location->locationId, "a");
    // A failure part way keeps what was merged before it.
    std::optional<JSONModelError> error;
    EXPECT_FALSE(location->mergeFromDictionary(json::parse(R"({"locationId": "b", "floor": [1]})"), false, &error));
    EXPECT_EQ(location->locationId, "b");
    EXPECT_EQ(error->keyPath(), "floor");
}

// ---- inputs that are not a dictionary

TEST(InputTest, AbsentMalformedAndNonDictionaryInputsGiveTheirCodes) {
    std::optional<JSONModelError> error;
    EXPECT_FALSE(Field::fromDictionary(static_cast<const json::value*>(nullptr), &error));
    EXPECT_EQ(error->code, 5);
    EXPECT_EQ(error->localizedDescription(), "Initializing model with nil input object.");

    Field field;
    error.reset();
    EXPECT_FALSE(field.initWithData(static_cast<const std::vector<std::uint8_t>*>(nullptr), &error));
    EXPECT_EQ(error->code, 5);
    error.reset();
    EXPECT_FALSE(field.initWithString(static_cast<const std::string*>(nullptr), &error));
    EXPECT_EQ(error->code, 5);

    EXPECT_EQ(importFailure<Field>(R"({"value": )")->code, 3);
    EXPECT_EQ(importFailure<Field>("")->localizedDescription(), "Malformed JSON. Check the JSONModel data input.");
    for (std::string_view scalar : {"5", "\"text\"", "null", "[{\"value\": \"a\"}]"}) {
        auto failure = importFailure<Field>(scalar);
        EXPECT_EQ(failure->code, 1) << scalar;
        EXPECT_EQ(failure->localizedDescription(),
                  "Invalid JSON data: Attempt to initialize JSONModel object using initWithDictionary:error: but the "
                  "dictionary parameter was not an 'NSDictionary'.")
            << scalar;
    }
    // Without an error out-parameter the failure is still a plain false.
    EXPECT_FALSE(Field::fromString("[1]"));
}

}  // namespace
}  // namespace ambrell::test

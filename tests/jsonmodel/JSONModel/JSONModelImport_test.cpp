#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "tests/jsonmodel/JSONModel/TestModels.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::test {
namespace {

namespace json = boost::json;

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

TEST(RequiredKeysTest, MappedKeyPathsAreLookedUpInsideNestedObjectsAndNullFailsAtImport) {
    // "name" lives at properties.name; a top-level "name" does not count.
    EXPECT_EQ(importFailure<Location>(R"({"id": "a", "name": "x", "properties": {}})")->missingKeys(),
              std::vector<std::string>{"name"});
    EXPECT_TRUE(imported<Location>(R"({"id": "a", "properties": {"name": "x"}})"));
    // Null counts as present, so it is not missing, but it fails the import.
    auto error = importFailure<Location>(R"({"id": "a", "properties": {"name": null}})");
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->localizedDescription(), "Invalid JSON data: Value of required model key name is null");
    EXPECT_EQ(error->keyPath(), "name");
    EXPECT_TRUE(error->missingKeys().empty());
}

// ---- null handling, optional and ignored properties

TEST(NullHandlingTest, OptionalMissingOrNullKeepsThePreviousValue) {
    auto model = imported<Everything>(R"({"note": "first", "maybeNumber": 2.5, "precise": 1.5})");
    ASSERT_TRUE(model->mergeFromDictionary(json::parse(R"({"note": null, "text": "t"})"), true));
    EXPECT_EQ(std::tie(model->note, model->maybeNumber, model->precise, model->text), std::tuple("first", 2.5, 1.5, "t"));
    auto fresh = imported<Everything>(R"({"note": null, "number": null})");
    EXPECT_EQ(std::tie(fresh->note, fresh->number, fresh->raw), std::tuple(std::nullopt, 0, nullptr));
}

TEST(NullHandlingTest, IgnoredReadOnlyAndFunctionMembersAreNeverImported) {
    auto venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "hits": 7, "kind": "other"})");
    EXPECT_EQ(std::tie(venue->hits, venue->kind), std::tuple(0, "venue"));
}

// ---- nested failures and their key paths

TEST(NestedFailureTest, OptionalNestedModelThatFailsIsSkipped) {
    EXPECT_FALSE(imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "anchor": {"lat": 1}})")->anchor);
    auto venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "anchor": {"lat": 1, "lng": 2}})");
    ASSERT_TRUE(venue->anchor);
    EXPECT_EQ(venue->anchor->lng, 2);
}

TEST(NestedFailureTest, FailuresGiveTheirKeyPathFromTheOutermostModel) {
    using Case = std::tuple<std::string_view, std::string_view, std::string_view>;  // JSON, key path, mismatch
    for (const auto& [json, keyPath, mismatch] : {
             // A required nested model fails its parent.
             Case{R"({"buildingId": "b", "notes": [{"value": "a"}, {"value": []}]})", "notes[1].value",
                  "NSString type not supported for Field.value"},
             // The element's index in the input, skipped elements included.
             Case{R"({"buildingId": "b", "rooms": [{"id": "1", "properties": {"name": "a"}}, 5,
                     {"id": "3", "properties": {"name": null}}]})",
                  "rooms[2].name", ""},
             Case{R"({"buildingId": "b", "rooms": [{"id": "1", "properties": {"name": "a"}}, {"id": 2}]})", "rooms[1]", ""},
             Case{R"({"buildingId": "b", "floors": {"ground": {"value": "g"}, "first": {"value": {}}}})",
                  "floors.first.value", ""},
             Case{R"({"buildingId": "b", "floors": {"roof": 7}})", "floors.roof", ""},
             // An element of a nested array reports both positions.
             Case{R"({"buildingId": "b", "rooms": [[{"id": "1", "properties": {"name": "a"}}], [{"id": []}]]})",
                  "rooms[1][0]", ""},
             Case{R"({"buildingId": ["b"]})", "buildingId", ""},
             // A collection of models given a non-collection fails even when optional.
             Case{R"({"buildingId": "b", "floors": [1]})", "floors",
                  "Property 'floors' is declared as NSDictionary<Field>* but the corresponding JSON value is not a "
                  "JSON Object."},
         }) {
        SCOPED_TRACE(json);
        auto error = importFailure<Building>(json);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->keyPath(), keyPath);
        if (!mismatch.empty()) {
            EXPECT_EQ(error->typeMismatch(), mismatch);
        }
    }
    auto error = importFailure<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "neighbours": {"a": 1}})");
    EXPECT_EQ(error->typeMismatch(),
              "Property 'neighbours' is declared as NSArray<Venue>* but the corresponding JSON value is not a JSON "
              "Array.");
    EXPECT_EQ(error->keyPath(), "neighbours");
    // Deep paths through models, arrays and dictionaries.
    EXPECT_EQ(importFailure<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "neighbours": [
        {"id": "w", "venueInfo": {"name": "m", "fields": {"lobby": {"value": [1]}}}}]})")
                  ->keyPath(),
              "neighbours[0].properties.lobby.value");
}

// ---- conversions

TEST(ConversionTest, NumbersAndTextsConvertBothWays) {
    auto model = imported<Everything>(R"({"text": 12, "note": 3.5, "number": "42", "precise": " -7.25e1x",
                                           "longNumber": "9007199254740993", "ratio": "abc", "words": [1, true, "w"]})");
    EXPECT_EQ(std::tie(model->text, model->note, model->number, model->precise, model->longNumber, model->ratio),
              std::tuple("12", "3.5", 42, -72.5, 9007199254740993LL, 0.0f));
    EXPECT_EQ(model->words, (std::vector<std::string>{"1", "1", "w"}));
}

TEST(ConversionTest, IntegersTruncateFractionsAndRefuseWhatTheyCannotHold) {
    auto model = imported<Everything>(R"({"number": 3.99, "tiny": -128, "unsignedLong": 18446744073709551615})");
    EXPECT_EQ(std::tie(model->number, model->tiny, model->unsignedLong), std::tuple(3, -128, 18446744073709551615ULL));

    // The mismatch text ends in " for Everything.<property>".
    for (const auto& [json, mismatch, keyPath] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {R"({"byte": 256})", "Number 256 is out of range of unsigned char", "byte"},
             {R"({"unsignedNumber": -1})", "Number -1 is out of range of unsigned int", "unsignedNumber"},
             {R"({"longNumber": 1e30})", "Number 1E30 is out of range of long long", "longNumber"},
             {R"({"shortNumber": "40000"})", "Number 40000 is out of range of short", "shortNumber"},
             {R"({"ratio": 1e300})", "Number 1E300 is out of range of float", "ratio"},
             {R"({"number": [1]})", "int type not supported", "number"},
             {R"({"flag": {}})", "BOOL type not supported", "flag"},
             {R"({"text": {"a": 1}})", "NSString type not supported", "text"},
             {R"({"words": ["a", null]})", "NSString type not supported", "words[1]"},
             {R"({"counts": {"a": 1, "b": "x", "c": []}})", "int type not supported", "counts.c"},
             {R"({"counts": [1]})", "NSDictionary type not supported", "counts"},
             {R"({"settings": [1]})", "NSDictionary type not supported", "settings"},
             {R"({"link": 5})", "NSURL type not supported", "link"},
             {R"({"date": true})", "NSDate type not supported", "date"},
             {R"({"date": 1e20})", "Number 1E20 is out of range of NSDate", "date"},
         }) {
        SCOPED_TRACE(json);
        auto error = importFailure<Everything>(json);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 1);
        EXPECT_EQ(error->typeMismatch(), mismatch + " for Everything." + keyPath.substr(0, keyPath.find_first_of("[.")));
        EXPECT_EQ(error->keyPath(), keyPath);
    }
}

TEST(ConversionTest, TextsAndNumbersGiveYesOrNo) {
    for (const auto& [text, expected] : std::vector<std::pair<std::string, bool>>{
             {R"("true")", true}, {R"("TRUE")", true}, {R"("Yes")", true}, {R"("2")", true}, {R"("0")", false},
             {R"("no")", false}, {R"("")", false}, {"2", true}, {"0.5", false}, {"true", true}, {"false", false}}) {
        auto model = imported<Everything>("{\"flag\": " + text + "}");
        ASSERT_TRUE(model);
        EXPECT_EQ(model->flag, expected) << text;
    }
}

TEST(ConversionTest, DatesReadWithAndWithoutColonsOrNotAtAll) {
    using namespace std::chrono;
    const std::optional<system_clock::time_point> at = sys_days{year{2024} / 5 / 1} + hours{10} + minutes{30}, none;
    for (const auto& [json, date] : std::vector<std::pair<std::string, std::optional<system_clock::time_point>>>{
             {R"("2024-05-01T12:30:00+02:00")", at}, {R"("2024-05-01T123000+0200")", at}, {R"("2024-05-01T10:30:00Z")", at},
             {"1714559400", at}, {R"("2024-05-01T12:30:00")", none}, {R"("01/05/2024")", none},
             {R"("2024-02-30T10:00:00Z")", none}, {R"("2024-05-01T25:00:00Z")", none}, {R"("9999-12-31T23:59:59Z")", none},
             {R"("")", none}}) {
        auto model = imported<Everything>(R"({"date": )" + json + "}");
        ASSERT_TRUE(model) << json;
        EXPECT_EQ(model->date, date) << json;
    }
}

TEST(ConversionTest, URLsRawValuesSetsAndEmptyArraysForDictionaries) {
    auto model = imported<Everything>(R"({"link": "https://example.com/a?b=1", "settings": [], "counts": [],
                                          "raw": [1, {"a": null}], "extra": "x", "tags": ["b", "a", "b"]})");
    EXPECT_EQ(std::tie(model->link, model->raw, model->extra),
              std::tuple(JSONURL{"https://example.com/a?b=1"}, json::parse(R"([1, {"a": null}])"), json::value("x")));
    EXPECT_TRUE(model->settings.empty());
    EXPECT_EQ(model->tags, (std::set<std::string>{"a", "b"}));
    EXPECT_FALSE(imported<Everything>(R"({"link": "not a url"})")->link);
}

// ---- custom setters, validation, subclasses

TEST(CustomSetterTest, TheSetterForTheValuesClassIsUsed) {
    EXPECT_EQ(imported<Venue>(R"({"id": "v", "venueInfo": {"name": "Main\\nHall"}})")->name, "Main\nHall");
    // A number has no setter of its own, and none is generic: the mapping converts it.
    EXPECT_EQ(imported<Venue>(R"({"id": "v", "venueInfo": {"name": 12}})")->name, "12");
}

TEST(ValidationTest, AFailingValidationFailsTheImport) {
    EXPECT_TRUE(imported<Point>(R"({"lat": 90, "lng": 2})"));
    auto error = importFailure<Point>(R"({"lat": -90.5, "lng": 2})");
    EXPECT_EQ(error->code, 4);
    EXPECT_EQ(error->localizedDescription(), "Model does not validate. The custom validation for the input data failed.");
}

std::vector<std::string> namesOf(const JSONModel& model) {
    std::vector<std::string> names;
    for (const auto& property : model.properties()) names.push_back(property.name);
    return names;
}

TEST(ModelClassTest, IgnoredReadOnlyAndFunctionMembersHaveNoRecord) {
    Venue venue;
    EXPECT_EQ(namesOf(venue), (std::vector<std::string>{"venueId", "name", "properties", "bbox", "neighbours",
                                                        "defaultFloor", "tilesUrl", "anchor", "entryPoints"}));
    EXPECT_EQ(venue.requiredPropertyNames(), (std::vector<std::string>{"venueId", "name"}));
    EXPECT_TRUE(venue.keyMapper());
    JSONModel base;
    EXPECT_TRUE(base.properties().empty());
    EXPECT_FALSE(base.indexPropertyName() || base.keyMapper());
}

TEST(SubclassTest, RedeclaredMembersAndDeclarationsWin) {
    // Room inherits locationId, its key mapping and the index; its own `name` is a number and optional.
    auto room = imported<Room>(R"({"id": "r1", "properties": {"name": "7"}, "roomNumber": "A7"})");
    EXPECT_EQ(std::tie(room->locationId, room->name, room->roomNumber), std::tuple("r1", 7, "A7"));
    EXPECT_TRUE(imported<Room>(R"({"id": "r2"})"));
    EXPECT_EQ(room->indexPropertyName(), "locationId");
    EXPECT_EQ(namesOf(*room), (std::vector<std::string>{"locationId", "floor", "name", "roomNumber"}));
    EXPECT_EQ(room->requiredPropertyNames(), std::vector<std::string>{"locationId"});
    EXPECT_EQ(&room->modelClass(), &Room::jsonClass());
    EXPECT_NE(&room->modelClass(), &Location::jsonClass());
    const auto* name = room->modelClass().property("name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->primitiveName, "int");
    EXPECT_TRUE(name->isOptional);
}

// ---- key mappers

// Every test that sets the global key mapper clears it again, pass or fail.
class GlobalKeyMapperTest : public ::testing::Test {
protected:
    ~GlobalKeyMapperTest() override { JSONModel::setGlobalKeyMapper(nullptr); }
};

TEST_F(GlobalKeyMapperTest, TheGlobalMapperMapsWhatTheClassMapperLeavesUnchanged) {
    JSONModel::setGlobalKeyMapper(JSONKeyMapper::mapperForSnakeCase());
    auto profile = imported<Profile>(R"({"uid": "u1", "first_name": "Ada", "version_2_name": 2})");
    ASSERT_TRUE(profile);
    EXPECT_EQ(std::tie(profile->userId, profile->firstName, profile->version2Name), std::tuple("u1", "Ada", 2));
    EXPECT_EQ(profile->toJSONString(), R"({"uid":"u1","first_name":"Ada","version_2_name":2})");

    // Without a class mapper (a merge without key mapping) only the global one applies.
    ASSERT_TRUE(profile->mergeFromDictionary(json::parse(R"({"user_id": "u2", "uid": "u3"})"), false));
    EXPECT_EQ(profile->userId, "u2");

    // Clearing it brings the plain names back.
    JSONModel::setGlobalKeyMapper(nullptr);
    EXPECT_FALSE(Profile::fromString(R"({"uid": "u1", "first_name": "Ada", "version_2_name": 2})"));
    EXPECT_TRUE(Profile::fromString(R"({"uid": "u1", "firstName": "Ada", "version2Name": 2})"));
}

TEST(KeyPathTest, AKeyPathThroughANonObjectFallsBackToThePlainKey) {
    // "venueInfo" is a text, so "venueInfo.name" is read as one key.
    EXPECT_EQ(imported<Venue>(R"({"id": "v", "venueInfo": "flat", "venueInfo.name": "Flat"})")->name, "Flat");
    // A missing step is simply missing.
    EXPECT_EQ(importFailure<Venue>(R"({"id": "v", "venueInfo.name": "Flat"})")->missingKeys(),
              std::vector<std::string>{"name"});
}

// ---- merging

TEST(MergeTest, MergeSkipsTheRequiredCheckAndChangesOnlyWhatIsGiven) {
    auto location = imported<Location>(R"({"id": "a", "properties": {"name": "Old"}, "floor": 1})");
    ASSERT_TRUE(location->mergeFromDictionary(json::parse(R"({"floor": 3})"), true));
    EXPECT_EQ(std::tie(location->name, location->floor), std::tuple("Old", 3));
    // Without the class key mapper the property names are the keys.
    ASSERT_TRUE(location->mergeFromDictionary(json::parse(R"({"name": "New", "id": "ignored"})"), false));
    EXPECT_EQ(std::tie(location->name, location->locationId), std::tuple("New", "a"));
    // A failure midway keeps what was merged before it.
    std::optional<JSONModelError> error;
    EXPECT_FALSE(location->mergeFromDictionary(json::parse(R"({"locationId": "b", "floor": [1]})"), false, &error));
    EXPECT_EQ(location->locationId, "b");
    EXPECT_EQ(error->keyPath(), "floor");
}

// ---- inputs that are not a dictionary

TEST(InputTest, AbsentMalformedAndNonDictionaryInputsGiveTheirCodes) {
    std::optional<JSONModelError> absent, data, text;
    EXPECT_FALSE(Field::fromDictionary(static_cast<const json::value*>(nullptr), &absent));
    EXPECT_EQ(absent->localizedDescription(), "Initializing model with nil input object.");
    Field field;
    EXPECT_FALSE(field.initWithData(static_cast<const std::vector<std::uint8_t>*>(nullptr), &data));
    EXPECT_FALSE(field.initWithString(static_cast<const std::string*>(nullptr), &text));
    for (const auto* error : {&absent, &data, &text}) EXPECT_EQ((*error)->code, 5);

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

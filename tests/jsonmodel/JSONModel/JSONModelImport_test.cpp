#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "jsonmodel/JSONModel/JSONKeyMapper.h"
#include "jsonmodel/JSONModel/JSONValueTransformer.h"
#include "tests/jsonmodel/JSONModel/TestModels.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::test {
namespace {

namespace json = boost::json;

// Expects the import to fail as invalid data (code 1) at the key path, with the type mismatch when one is given.
template <typename M>
void expectFailureAt(std::string_view text, std::string_view keyPath, const std::string& mismatch = "") {
    SCOPED_TRACE(text);
    auto error = importFailure<M>(text);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->keyPath(), keyPath);
    if (mismatch.empty()) return;
    EXPECT_EQ(error->typeMismatch(), mismatch);
    EXPECT_EQ(error->localizedDescription(),
              "Invalid JSON data. The JSON type mismatches the expected type. Check the error user information.");
}

// ---- required keys, key paths and null handling

TEST(RequiredKeysTest, EveryMissingNameIsListedAndLogged) {
    ScopedLogCapture log;
    auto error = importFailure<Location>(R"({"floor": 2})");
    EXPECT_EQ(std::tuple(error->domain, error->code), std::tuple("JSONModelErrorDomain", 1));
    EXPECT_EQ(error->localizedDescription(),
              "Invalid JSON data. Required JSON keys are missing from the input. Check the error user information.");
    EXPECT_EQ(error->missingKeys(), (std::vector<std::string>{"locationId", "name"}));
    EXPECT_EQ(error->stringsForKey("kJSONModelMissingKeys"), (std::vector<std::string>{"locationId", "name"}));
    EXPECT_FALSE(error->keyPath());
    EXPECT_TRUE(
        log.sink().contains("Incoming data was invalid [Location initWithDictionary:]. Keys missing: "
                            "locationId, name"));
}

TEST(RequiredKeysTest, MappedKeyPathsAreLookedUpInsideNestedObjectsAndNullFailsAtImport) {
    // "name" lives at properties.name; a top-level "name" does not count.
    EXPECT_EQ(importFailure<Location>(R"({"id": "a", "name": "x", "properties": {}})")->missingKeys(),
              std::vector<std::string>{"name"});
    EXPECT_TRUE(imported<Location>(R"({"id": "a", "properties": {"name": "x"}})"));
    // Through a step that is no object, "venueInfo.name" is read as one key; a missing step is simply missing.
    EXPECT_EQ(imported<Venue>(R"({"id": "v", "venueInfo": "flat", "venueInfo.name": "Flat"})")->name, "Flat");
    EXPECT_EQ(importFailure<Venue>(R"({"id": "v", "venueInfo.name": "Flat"})")->missingKeys(),
              std::vector<std::string>{"name"});
    // Null counts as present, so it is not missing, but it fails the import.
    auto error = importFailure<Location>(R"({"id": "a", "properties": {"name": null}})");
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->localizedDescription(), "Invalid JSON data: Value of required model key name is null");
    EXPECT_EQ(error->keyPath(), "name");
    EXPECT_TRUE(error->missingKeys().empty());
}

TEST(NullHandlingTest, OptionalMissingOrNullKeepsThePreviousValueAndIgnoredMembersAreNeverRead) {
    auto model = imported<Everything>(R"({"note": "first", "maybeNumber": 2.5, "precise": 1.5})");
    ASSERT_TRUE(model->mergeFromDictionary(json::parse(R"({"note": null, "text": "t"})"), true));
    EXPECT_EQ(std::tie(model->note, model->maybeNumber, model->precise, model->text),
              std::tuple("first", 2.5, 1.5, "t"));
    auto fresh = imported<Everything>(R"({"note": null, "number": null})");
    EXPECT_EQ(std::tie(fresh->note, fresh->number, fresh->raw), std::tuple(std::nullopt, 0, nullptr));
    // Ignored, read-only and function members.
    auto venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "hits": 7, "kind": "other"})");
    EXPECT_EQ(std::tie(venue->hits, venue->kind), std::tuple(0, "venue"));
}

// Each class remembers where its keys were last found; elements whose keys
// come in another order, or that lack some, and a subclass reading the same
// names, must read exactly what a fresh search finds.
TEST(KeyLookupTest, ElementsInAnyKeyOrderAndClassesSharingNamesReadTheirOwnValues) {
    auto building = imported<Building>(R"({"buildingId": "b", "rooms": [
        {"id": "1", "properties": {"name": "a"}, "floor": 1},
        {"floor": 2, "properties": {"x": 0, "name": "b"}, "id": "2"},
        {"properties": {"name": "c"}, "id": "3"},
        {"id": "4", "properties": 5, "properties.name": "d", "floor": 4},
        {"id": "5", "properties": {"name": "e"}, "floor": 5}]})");
    ASSERT_TRUE(building);
    ASSERT_EQ(building->rooms.size(), 5U);
    const std::vector<std::tuple<std::string, std::string, std::optional<double>>> expected = {
        {"1", "a", 1}, {"2", "b", 2}, {"3", "c", std::nullopt}, {"4", "d", 4}, {"5", "e", 5}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& room = *building->rooms[i];
        EXPECT_EQ(std::tie(room.locationId, room.name, room.floor), expected[i]) << "room " << i;
    }

    // Room shares Location's names and key mapper but reads its name as a number.
    auto room = imported<Room>(R"({"floor": 3, "properties": {"name": 12}, "id": "r", "roomNumber": "12a"})");
    ASSERT_TRUE(room);
    EXPECT_EQ(std::tie(room->locationId, room->name, room->floor, room->roomNumber),
              std::tuple("r", 12, std::optional<double>(3), std::optional<std::string>("12a")));
    auto location = imported<Location>(R"({"id": "l", "properties": {"name": "12"}})");
    ASSERT_TRUE(location);
    EXPECT_EQ(std::tie(location->locationId, location->name, location->floor),
              std::tuple("l", "12", std::optional<double>()));
    expectFailureAt<Location>(R"({"properties": {"name": "n"}, "id": "l", "floor": [1], "extra": 1})", "floor");
}

// ---- nested failures and their key paths

TEST(NestedFailureTest, OptionalNestedModelThatFailsIsSkipped) {
    EXPECT_FALSE(imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "anchor": {"lat": 1}})")->anchor);
    auto venue = imported<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "anchor": {"lat": 1, "lng": 2}})");
    ASSERT_TRUE(venue->anchor);
    EXPECT_EQ(venue->anchor->lng, 2);
}

TEST(NestedFailureTest, FailuresGiveTheirKeyPathFromTheOutermostModel) {
    // A required nested model fails its parent.
    expectFailureAt<Building>(R"({"buildingId": "b", "notes": [{"value": "a"}, {"value": []}]})", "notes[1].value",
                              "NSString type not supported for Field.value");
    // The element's index in the input, skipped elements included.
    expectFailureAt<Building>(R"({"buildingId": "b", "rooms": [{"id": "1", "properties": {"name": "a"}}, 5,
                                  {"id": "3", "properties": {"name": null}}]})",
                              "rooms[2].name");
    expectFailureAt<Building>(R"({"buildingId": "b", "rooms": [{"id": "1", "properties": {"name": "a"}}, {"id": 2}]})",
                              "rooms[1]");
    expectFailureAt<Building>(R"({"buildingId": "b", "floors": {"ground": {"value": "g"}, "first": {"value": {}}}})",
                              "floors.first.value");
    expectFailureAt<Building>(R"({"buildingId": "b", "floors": {"roof": 7}})", "floors.roof");
    // An element of a nested array reports both positions.
    expectFailureAt<Building>(
        R"({"buildingId": "b", "rooms": [[{"id": "1", "properties": {"name": "a"}}], [{"id": []}]]})", "rooms[1][0]");
    expectFailureAt<Building>(R"({"buildingId": ["b"]})", "buildingId");
    // A collection of models given a non-collection fails even when optional.
    expectFailureAt<Building>(R"({"buildingId": "b", "floors": [1]})", "floors",
                              "Property 'floors' is declared as NSDictionary<Field>* but the corresponding JSON value "
                              "is not a JSON Object.");
    expectFailureAt<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "neighbours": {"a": 1}})", "neighbours",
                           "Property 'neighbours' is declared as NSArray<Venue>* but the corresponding JSON value is "
                           "not a JSON Array.");
    // Deep paths through models, arrays and dictionaries.
    expectFailureAt<Venue>(R"({"id": "v", "venueInfo": {"name": "n"}, "neighbours": [
        {"id": "w", "venueInfo": {"name": "m", "fields": {"lobby": {"value": [1]}}}}]})",
                           "neighbours[0].properties.lobby.value");
}

// ---- conversions

TEST(ConversionTest, NumbersAndTextsConvertBothWaysAndIntegersTruncateFractions) {
    auto model = imported<Everything>(R"({"text": 12, "note": 3.5, "number": "42", "precise": " -7.25e1x",
                                           "longNumber": "9007199254740993", "ratio": "abc", "words": [1, true, "w"],
                                           "shortNumber": 3.99, "tiny": -128, "unsignedLong": 18446744073709551615})");
    EXPECT_EQ(std::tie(model->text, model->note, model->number, model->precise, model->longNumber, model->ratio),
              std::tuple("12", "3.5", 42, -72.5, 9007199254740993LL, 0.0f));
    EXPECT_EQ(model->words, (std::vector<std::string>{"1", "1", "w"}));
    EXPECT_EQ(std::tie(model->shortNumber, model->tiny, model->unsignedLong),
              std::tuple(3, -128, 18446744073709551615ULL));
}

TEST(ConversionTest, WrongKindsAndNumbersOutOfRangeAreTypeMismatches) {
    // The mismatch text ends in " for Everything.<property>".
    for (const auto& [text, mismatch, keyPath] : std::vector<std::tuple<std::string, std::string, std::string>>{
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
        expectFailureAt<Everything>(text, keyPath,
                                    mismatch + " for Everything." + keyPath.substr(0, keyPath.find_first_of("[.")));
    }
}

TEST(ConversionTest, TextsAndNumbersGiveYesOrNo) {
    for (const auto& [text, expected] : std::vector<std::pair<std::string, bool>>{{R"("true")", true},
                                                                                  {R"("TRUE")", true},
                                                                                  {R"("Yes")", true},
                                                                                  {R"("2")", true},
                                                                                  {R"("0")", false},
                                                                                  {R"("no")", false},
                                                                                  {R"("")", false},
                                                                                  {"2", true},
                                                                                  {"0.5", false},
                                                                                  {"true", true},
                                                                                  {"false", false}}) {
        auto model = imported<Everything>("{\"flag\": " + text + "}");
        ASSERT_TRUE(model);
        EXPECT_EQ(model->flag, expected) << text;
    }
}

TEST(ConversionTest, DatesReadWithAndWithoutColonsOrNotAtAll) {
    using namespace std::chrono;
    const std::optional<system_clock::time_point> at = sys_days{year{2024} / 5 / 1} + hours{10} + minutes{30}, none;
    for (const auto& [text, date] : std::vector<std::pair<std::string, std::optional<system_clock::time_point>>>{
             {R"("2024-05-01T12:30:00+02:00")", at},
             {R"("2024-05-01T123000+0200")", at},
             {R"("2024-05-01T10:30:00Z")", at},
             {R"("2024-05-01T07:30:00-0300")", at},
             {"1714559400", at},
             {"0", system_clock::time_point{}},
             {R"("2024-05-01T12:30:00")", none},
             {R"("01/05/2024")", none},
             {R"("2024-02-30T10:00:00Z")", none},
             {R"("2024-05-01T25:00:00Z")", none},
             {R"("9999-12-31T23:59:59Z")", none},
             {R"("")", none},
             {R"("2024-05-01T10:30:00.5Z")", none},
             {R"("2024-05-01 10:30:00Z")", none},
             {R"("2024-05-01T10:30:00+2400")", none}}) {
        auto model = imported<Everything>(R"({"date": )" + text + "}");
        ASSERT_TRUE(model) << text;
        EXPECT_EQ(model->date, date) << text;
    }
}

TEST(ConversionTest, URLsRawValuesSetsAndEmptyArraysForDictionaries) {
    auto model = imported<Everything>(R"({"link": "https://example.com/a?b=1", "settings": [], "counts": [],
                                          "raw": [1, {"a": null}], "extra": "x", "tags": ["b", "a", "b"]})");
    EXPECT_EQ(std::tie(model->link, model->raw, model->extra),
              std::tuple(JSONURL{"https://example.com/a?b=1"}, json::parse(R"([1, {"a": null}])"), json::value("x")));
    EXPECT_TRUE(model->settings.empty());
    EXPECT_EQ(model->tags, (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(imported<Everything>(R"({"link": "/relative/path?x=1"})")->link, JSONURL{"/relative/path?x=1"});
    for (std::string_view link : {"not a url", "http://a b", ""}) {
        EXPECT_FALSE(imported<Everything>(R"({"link": ")" + std::string(link) + "\"}")->link) << link;
    }
}

TEST(ConversionTest, NumbersFromAndToTexts) {
    const auto& t = JSONValueTransformer::shared();
    for (const auto& [text, number] : std::vector<std::pair<std::string, json::value>>{
             {"42", std::int64_t{42}},
             {"  -7", std::int64_t{-7}},
             {"+3.5kg", 3.5},
             {".5", 0.5},
             {"1e3", 1000.0},
             {"1e", std::int64_t{1}},
             {"abc", std::int64_t{0}},
             {"", std::int64_t{0}},
             {"-", std::int64_t{0}},
             {"18446744073709551615", std::uint64_t{18446744073709551615ULL}},
             {"-99999999999999999999", -1e20}}) {
        EXPECT_EQ(t.NSNumberFromNSString(text), number) << text;
    }
    for (const auto& [number, text] : std::vector<std::pair<json::value, std::string>>{
             {12, "12"},
             {0.1, "0.1"},
             {2.0, "2"},
             {true, "1"},
             {std::uint64_t{18446744073709551615ULL}, "18446744073709551615"}}) {
        EXPECT_EQ(t.NSStringFromNSNumber(number), text);
    }
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
    EXPECT_EQ(error->localizedDescription(),
              "Model does not validate. The custom validation for the input data failed.");
}

TEST(SubclassTest, RedeclaredMembersAndDeclarationsWin) {
    // Room inherits locationId, its key mapping and the index; its own `name` is a number and optional.
    auto room = imported<Room>(R"({"id": "r1", "properties": {"name": "7"}, "roomNumber": "A7"})");
    EXPECT_EQ(std::tie(room->locationId, room->name, room->roomNumber), std::tuple("r1", 7, "A7"));
    EXPECT_EQ(room->indexPropertyName(), "locationId");
    EXPECT_EQ(room->requiredPropertyNames(), std::vector<std::string>{"locationId"});
    EXPECT_TRUE(imported<Room>(R"({"id": "r2"})"));
}

TEST(PropertyTextTest, ShowsTypeNameAndFlagsInOrder) {
    const auto& everything = Everything::jsonClass();
    const auto& venue = Venue::jsonClass();
    for (const auto& [modelClass, name, text] :
         std::vector<std::tuple<const JSONModelClass*, std::string, std::string>>{
             {&everything, "note", "NSString* note (Optional, Standard JSON type, Setters = [])"},
             {&venue, "venueId", "NSString* venueId (Standard JSON type, Setters = [])"},
             {&venue, "name", "NSString* name (Standard JSON type, Setters = [setNameWithNSString:])"},
             {&venue, "neighbours", "NSArray*<Venue> neighbours (Optional, Standard JSON type, Setters = [])"},
             {&venue, "properties", "NSDictionary*<Field> properties (Optional, Standard JSON type, Setters = [])"},
             {&venue, "anchor", "Point* anchor (Optional, Setters = [])"},
             {&everything, "number", "primitive number (Optional, Setters = [])"},
             {&everything, "date", "NSDate* date (Optional, Setters = [])"},
             {&Location::jsonClass(), "locationId", "NSString* locationId (Index, Standard JSON type, Setters = [])"},
             {&Badge::jsonClass(), "label",
              "NSString* label (Standard JSON type, Getter = JSONObjectForLabel, Setters = [])"},
         }) {
        const auto* property = modelClass->property(name);
        ASSERT_NE(property, nullptr) << name;
        EXPECT_EQ(property->description(), "@property " + text);
    }
}

// ---- key mappers

TEST(KeyMapperTest, MapsAPropertyNameToItsKey) {
    using M = JSONKeyMapper;
    using Case = std::tuple<std::shared_ptr<const JSONKeyMapper>, std::string_view, std::string_view>;
    for (const auto& [mapper, name, key] : {
             Case{M::initWithModelToJSONDictionary({{"venueId", "id"}}), "venueId", "id"},
             Case{M::initWithModelToJSONDictionary({{"venueId", "id"}}), "name", "name"},
             Case{M::initWithDictionary({{"venueInfo.name", "name"}}), "name", "venueInfo.name"},
             Case{M::mapperForSnakeCase(), "version2Name", "version_2_name"},
             Case{M::mapperForSnakeCase(), "venueId", "venue_id"},
             Case{M::mapperForSnakeCase(), "URLString", "_u_r_l_string"},
             Case{M::mapperForSnakeCase(), "a12b3", "a_12b_3"},
             Case{M::mapperFromUnderscoreCaseToCamelCase(), "firstName", "first_name"},
             Case{M::mapperForTitleCase(), "name", "Name"},
             Case{M::mapperFromUpperCaseToLowerCase(), "floorName", "FLOORNAME"},
             Case{M::mapper(M::mapperForSnakeCase(), {{"ID", "userId"}}), "userId", "ID"},
             Case{M::mapper(M::mapperForSnakeCase(), {{"ID", "userId"}}), "firstName", "first_name"},
             Case{M::baseMapper(M::mapperForTitleCase(), {{"userId", "uid"}}), "userId", "uid"},
             Case{M::initWithJSONToModelBlock([](std::string_view) { return std::string("dropped"); },
                                              [](std::string_view n) { return "x_" + std::string(n); }),
                  "a", "x_a"},
         }) {
        EXPECT_EQ(mapper->convertValue(name), key);
        EXPECT_EQ(mapper->convertValue(name, true), key);
    }
}

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

// ---- merging and inputs that are not a dictionary

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

// Refuses a negative count without saying why.
struct Count : JSONModelOf<Count> {
    int n = 0;
    bool validate(JSONModelErrorOut) override { return n >= 0; }
};
BOOST_DESCRIBE_STRUCT(Count, (JSONModel), (n))

struct Counts : JSONModelOf<Counts> {
    std::vector<std::shared_ptr<Count>> counts;
};
BOOST_DESCRIBE_STRUCT(Counts, (JSONModel), (counts))

// A custom setter is the model's own code, and may throw.
struct Strict : JSONModelOf<Strict> {
    std::string code;
    void setCodeWithNSString(std::string_view text) {
        if (text.size() != 3) throw std::invalid_argument("a code has three letters");
        code = text;
    }
    static void declareJSON(JSONModelDeclaration<Strict>& d) { d.setter("code", &Strict::setCodeWithNSString); }
};
BOOST_DESCRIBE_STRUCT(Strict, (JSONModel), (code))

TEST(NestedFailureTest, AThrowingSetterFailsTheImportWithItsKeyPath) {
    EXPECT_EQ(imported<Strict>(R"({"code": "CPH"})")->code, "CPH");
    expectFailureAt<Strict>(R"({"code": "Copenhagen"})", "code");
    EXPECT_EQ(importFailure<Strict>(R"({"code": "x"})")->localizedDescription(),
              "Invalid JSON data: a code has three letters");
}

TEST(NestedFailureTest, AnElementRefusedWithoutAnErrorStillFailsItsParentWithOne) {
    expectFailureAt<Counts>(R"({"counts": [{"n": 1}, {"n": -1}]})", "counts");
    // The message names the property, however large the refused input.
    std::string many = R"({"counts": [)";
    for (int i = 0; i < 2000; ++i) many += R"({"n": 1}, )";
    many += R"({"n": -1}]})";
    for (const std::string& text : {std::string(R"({"counts": [{"n": -1}]})"), many}) {
        EXPECT_EQ(importFailure<Counts>(text)->localizedDescription(),
                  "Invalid JSON data: Failed to transform value, but no error was set during transformation. "
                  "(@property NSArray*<Count> counts (Standard JSON type, Setters = []))");
    }
}

// A type the mapping cannot read: members of it must be opted out at compile
// time (the build stops otherwise; see DeclarationMistake.h).
struct Tag {
    std::string text;
};

struct Tagged : JSONModelOf<Tagged> {
    std::shared_ptr<Tag> tag;
    std::vector<Tag> seen;
    static constexpr std::string_view kJSONCustomMembers[] = {"tag"};
    static constexpr std::string_view kJSONIgnoredMembers[] = {"seen"};

    static void declareJSON(JSONModelDeclaration<Tagged>& d) { d.setter("tag", &Tagged::setTagWithNSString); }
    void setTagWithNSString(std::string_view text) { tag = std::make_shared<Tag>(Tag{std::string(text)}); }
};
BOOST_DESCRIBE_STRUCT(Tagged, (JSONModel), (tag, seen))

// Lists a custom member but declares no setter for it.
struct Untagged : JSONModelOf<Untagged> {
    std::shared_ptr<Tag> tag;
    static constexpr std::string_view kJSONCustomMembers[] = {"tag"};
};
BOOST_DESCRIBE_STRUCT(Untagged, (JSONModel), (tag))

TEST(DeclarationTest, MembersOfUnknownTypesAreReadByTheirSettersOrIgnored) {
    auto tagged = imported<Tagged>(R"({"tag": "blue", "seen": [{"text": "red"}]})");
    ASSERT_TRUE(tagged && tagged->tag);
    EXPECT_EQ(tagged->tag->text, "blue");
    EXPECT_TRUE(tagged->seen.empty());
    EXPECT_FALSE(Tagged::jsonClass().property("seen"));
    // A value the setter does not take is the mapping's type mismatch.
    expectFailureAt<Tagged>(R"({"tag": 5})", "tag");
    EXPECT_THROW(Untagged::jsonClass(), JSONModelProgrammingError);
}

}  // namespace
}  // namespace ambrell::test

AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Tagged)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Untagged)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Strict)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Count)
AMBRELL_JSON_MODEL_DEFINE(ambrell::test::Counts)

#include "data/CVLocationInternal.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "data/CVAXGeometry.h"
#include "data/CVEntrySeams.h"
#include "data/CVLanguageSupport.h"
#include "data/CVLocationSourceIndex.h"
#include "foundation/CVInternalStringUtils.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

using test::locationFrom;
using Texts = std::vector<std::string>;

std::int32_t hashOf(const std::string& text) { return CVInternalStringUtils::hashOf(text); }

// The locations document of tests/data/documents, read with its log lines captured.
class LocationDocument : public test::ContainerFixture {
protected:
    void SetUp() override {
        dataset_ = CVLocationDataset::fromString(test::documentText("locations.json"));
        ASSERT_NE(dataset_, nullptr);
    }
    std::shared_ptr<CVLocationInternal> find(std::string_view id) const {
        for (const auto& location : dataset_->list.value()) {
            if (location->locationId == id) return location;
        }
        ADD_FAILURE() << "no location " << id;
        return std::make_shared<CVLocationInternal>();
    }

    test::ScopedLogCapture log_;
    std::shared_ptr<CVLocationDataset> dataset_;
};

TEST_F(LocationDocument, KeepsPointAndPolygonFeaturesAndSkipsTheRestWithTheErrorLine) {
    Texts ids;
    for (const auto& location : *dataset_->list) ids.push_back(location->locationId);
    EXPECT_EQ(ids, (Texts{"poi-1", "room-1", "outdoor"}));

    Texts refused;
    for (const auto& entry : log_.sink().messages()) {
        constexpr std::string_view kLine =
            "-[CVLocationInternal initWithDictionary:error:] [E] Failed to construct CVLocation from dict: ";
        if (entry.level == platform::LogLevel::error && entry.message.starts_with(kLine)) {
            refused.push_back(entry.message.substr(kLine.size()));
        }
    }
    // Named by position and id, not by the feature's whole text.
    EXPECT_EQ(refused,
              (Texts{R"(feature at index 2 with id "floor-piece")", R"(feature at index 3 with id "no-geometry")",
                     R"(feature at index 4 with id "line")", R"(feature at index 5 with id "broken-polygon")",
                     R"(feature at index 6 with id "bad-import")"}));
}

// The error lines of the refused-feature kind.
std::vector<std::string> refusalLines(const test::CapturingLogSink& sink) {
    std::vector<std::string> lines;
    for (const auto& entry : sink.messages()) {
        if (entry.level == platform::LogLevel::error &&
            (entry.message.find("[E] Failed to construct CVLocation from dict: ") != std::string::npos ||
             entry.message.find("[E] Skipped ") != std::string::npos)) {
            lines.push_back(entry.message);
        }
    }
    return lines;
}

TEST(LocationRefusalLog, ManyRefusedFeaturesWriteAHundredLinesAndOneCount) {
    std::string document = R"({"list": [)";
    constexpr std::size_t kRefused = 100000;
    for (std::size_t i = 0; i < kRefused; ++i) document += i == 0 ? "{}" : ",{}";
    // A good feature after them all is still kept.
    document += R"(,{"id": "last", "geometry": {"type": "Point", "coordinates": [12, 55]}}]})";

    test::ScopedLogCapture log;
    const auto dataset = CVLocationDataset::fromString(document);
    ASSERT_NE(dataset, nullptr);
    ASSERT_EQ(dataset->list.value().size(), 1u);
    EXPECT_EQ(dataset->list->at(0)->locationId, "last");

    const auto lines = refusalLines(log.sink());
    EXPECT_LE(log.sink().messages().size(), 101u);
    ASSERT_EQ(lines.size(), 101u);
    EXPECT_EQ(lines.front(),
              "-[CVLocationInternal initWithDictionary:error:] [E] Failed to construct CVLocation from dict: "
              "feature at index 0");
    EXPECT_TRUE(lines[99].ends_with("feature at index 99")) << lines[99];
    EXPECT_TRUE(lines.back().ends_with(" [E] Skipped 99900 more feature entries of this list")) << lines.back();
}

TEST(LocationRefusalLog, EachDocumentHasItsOwnAllowanceAndOneFeatureIsNamedByItsId) {
    test::ScopedLogCapture log;
    const std::string document = R"([{"id": 7}, {"id": "x"}])";
    for (int round = 0; round < 2; ++round) ASSERT_NE(CVLocationDataset::fromString(document), nullptr);
    EXPECT_EQ(refusalLines(log.sink()).size(), 4u);
    EXPECT_TRUE(log.sink().contains("from dict: feature at index 0 with id 7"));

    // An id too long for a log line is cut, and the line carries no more of the feature.
    const std::string longId(10000, 'a');
    EXPECT_EQ(locationFrom(("{\"id\": \"" + longId + "\", \"geometry\": 5}").c_str()), nullptr);
    EXPECT_EQ(locationFrom(R"({"name": "anonymous"})"), nullptr);
    const auto lines = refusalLines(log.sink());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(lines[4].ends_with("from dict: feature with id \"" + longId.substr(0, 128) + "\"...")) << lines[4];
    EXPECT_TRUE(lines[5].ends_with("from dict: feature without an id")) << lines[5];
}

TEST_F(LocationDocument, PointFeatureReadsEveryMappedKey) {
    const auto poi = find("poi-1");
    EXPECT_EQ(std::tie(poi->name, poi->type, poi->venue, poi->building, poi->floorName, poi->externalId),
              std::tuple("Cafe\nNorth", "Cafe", "CAMPUS", "B1", "Top", "X-1"));
    EXPECT_EQ(std::tie(poi->locationDescription, poi->imageURL, poi->activeFrom, poi->isBookable, poi->state),
              std::tuple("Coffee", "https://img/cafe.png", 100, true, 0));
    EXPECT_EQ(poi->baseType(), CVLocationBaseType::pointOfInterest);
    EXPECT_EQ(poi->getFloorIndex(), 20);
    EXPECT_EQ(poi->aliases, (Texts{"Foo", "Bar,Baz"}));
    EXPECT_EQ(poi->categories, (Texts{"FOOD", "DRINK"}));
    EXPECT_EQ(poi->restrictions, Texts{"staff"});
    ASSERT_EQ(poi->fields.size(), 2u);
    EXPECT_EQ(poi->fields.at("email")->value, "cafe@example.com");
    ASSERT_NE(poi->displayRule, nullptr);
    EXPECT_EQ(poi->displayRule->iconUrl(), "https://icons/cafe.png");
    EXPECT_EQ(poi->locationSettings->selectable, false);
    EXPECT_EQ(poi->cv_geoDataStatus(), 1u);

    const CVPoint position = poi->getPosition();
    EXPECT_EQ(std::tuple(position.latitude(), position.longitude(), position.z()), std::tuple(55.7, 12.5, 20));
    EXPECT_TRUE(std::holds_alternative<CVPoint>(poi->geometry()));
    EXPECT_TRUE(poi->isIndoors());
    EXPECT_EQ(poi->area(), 0);

    // Neither unmapped keys nor the position travel in the exported document.
    const auto exported = poi->toDictionary();
    EXPECT_FALSE(exported.at("properties").as_object().contains("somethingElse"));
    EXPECT_FALSE(exported.contains("position"));
    EXPECT_EQ(exported.at("properties").at("displayRule").at("icon"), "https://icons/cafe.png");
}

TEST_F(LocationDocument, PolygonFeatureTakesItsPositionFromTheAnchor) {
    const auto room = find("room-1");
    const CVPoint position = room->getPosition();
    EXPECT_EQ(std::tuple(position.latitude(), position.longitude(), position.z()), std::tuple(55.0005, 12.001, 2));
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const CVPolygonGeometry>>(room->geometry()));
    EXPECT_GT(room->area(), 0);
    EXPECT_EQ(room->baseType(), CVLocationBaseType::room);
    EXPECT_EQ(room->categories, Texts{"MEETING"});
    EXPECT_EQ(room->displayRule, nullptr);    // a rule that does not read is left unset
    EXPECT_EQ(room->cv_geoDataStatus(), 2u);  // top-level status when properties have none
    // At double precision, exactly the polygon's extremes.
    EXPECT_EQ(room->coordinateBounds(), CVGeoBounds({55.0, 12.0}, {55.001, 12.002}));

    const auto outdoor = find("outdoor");
    EXPECT_FALSE(outdoor->isIndoors());
    EXPECT_EQ(outdoor->cv_geoDataStatus(), 3u);
    EXPECT_EQ(outdoor->coordinateBounds(), CVGeoBounds({55.1, 12.1}, {55.1, 12.1}));

    // Without an anchor a polygon sits at zero.
    const auto unanchored = locationFrom(R"({"id": "a", "geometry": {"type": "Polygon",
        "coordinates": [[[1, 1], [2, 1], [2, 2], [1, 1]]]}, "properties": {"floor": 1}})");
    ASSERT_NE(unanchored, nullptr);
    EXPECT_EQ(unanchored->getPosition().coordinate(), (CLLocationCoordinate2D{0, 0}));
}

TEST_F(LocationDocument, SearchRecordCarriesIdsTextsAliasesGroupsAndFloor) {
    const AXLocation record = find("poi-1")->axLocation();
    EXPECT_EQ(record.locationId, hashOf("poi-1"));
    EXPECT_EQ(record.parentId, hashOf(""));  // nothing registered yet
    EXPECT_EQ(record.aliases, (Texts{"foo", "bar", "baz"}));
    EXPECT_EQ(record.groups, (std::vector<std::int32_t>{hashOf("FOOD"), hashOf("DRINK")}));
    EXPECT_EQ(std::tuple(record.typeId, record.altitude, record.sourceId, record.isIndoor),
              std::tuple(hashOf("cafe"), 20.0f, 0, true));
    EXPECT_EQ(record.properties,
              (std::vector<AXTextProperty>{
                  {"en", "name", "Cafe\nNorth"}, {"en", "externalid", "X-1"}, {"en", "email", "cafe@example.com"}}));
    EXPECT_EQ(record.geometry, axGeometry(CVPoint(55.7, 12.5)));

    // A polygon's record spans its bounding box around the anchor.
    const AXLocation room = find("room-1")->axLocation();
    EXPECT_EQ(room.geometry.position, AXCoordinate::CoordinateWithLat(55.0005, 12.001));
    EXPECT_EQ(room.geometry.bounds, AXCoordinateBounds::CoordinateBoundsWithNortheast({55.001, 12.002}, {55.0, 12.0}));
    EXPECT_EQ(room.properties.size(), 2u);
    EXPECT_EQ(room.properties[1], (AXTextProperty{"en", "externalid", ""}));

    // The texts are in the content language.
    ASSERT_TRUE(CVLanguageSupport::ax_setLanguage("da"));
    EXPECT_EQ(CVLocationInternal().axLocation().properties.front().language, "da");
}

TEST(CVLocationSearchRecord, StatusFollowsGeodataBitsAndActivityAndBaseTypesTheSearchTable) {
    const std::tuple<std::optional<std::uint32_t>, bool, std::uint32_t> table[] = {
        {std::nullopt, true, 3},
        {std::nullopt, false, 7},
        {1, true, 1},
        {1, false, 5},
        {3, true, 3},
        {2, true, 0},
        {0, true, 0},
    };
    for (const auto& [geodata, withinWindow, status] : table) {
        CVLocationInternal location;
        if (geodata) location.cv_setGeoDataStatus(*geodata);
        if (!withinWindow) location.activeFrom = 4102444800.0;  // 2100
        EXPECT_EQ(location.axLocation().status, status) << geodata.value_or(99) << " within window " << withinWindow;
    }
    const std::pair<const char*, std::int64_t> baseTypes[] = {
        {"POI", 0}, {"AREA", 0}, {"ROOM", 1}, {"FLOOR", 3}, {"BUILDING", 4}, {"VENUE", 5}, {"SOMETHING", 0}};
    for (const auto& [text, expected] : baseTypes) {
        CVLocationInternal location;
        location.locationBaseTypeString = text;
        EXPECT_EQ(location.axLocation().baseType, expected) << text;
    }
}

TEST(CVLocationSearchRecord, MultiPolygonBoundsAndZeroGeometry) {
    CVLocationInternal floor;
    floor.cv_setMultiPolygon(std::make_shared<CVMultiPolygonGeometry>(std::vector<CVPolygonGeometry>{
        CVPolygonGeometry({{{10, 20}, {11, 21}, {10, 21}}}), CVPolygonGeometry({{{-1, 30}, {0, 30}, {0, 31}}})}));
    floor.setPosition(CVPoint(5, 6, 1));
    const AXLocation record = floor.axLocation();
    EXPECT_EQ(record.geometry.position, AXCoordinate::CoordinateWithLat(5, 6));
    EXPECT_EQ(record.geometry.bounds, AXCoordinateBounds::CoordinateBoundsWithNortheast({11, 31}, {-1, 20}));
    EXPECT_EQ(floor.coordinateBounds(), CVGeoBounds({-1, 20}, {11, 31}));
    // With both outlines the polygon bounds the location, though the multipolygon is its geometry.
    floor.cv_setPolygon(
        std::make_shared<CVPolygonGeometry>(std::vector<CVPolygonGeometry::Ring>{{{2, 3}, {4, 5}, {2, 5}}}));
    EXPECT_EQ(floor.coordinateBounds(), CVGeoBounds({2, 3}, {4, 5}));
    EXPECT_EQ(floor.axLocation().geometry.bounds, AXCoordinateBounds::CoordinateBoundsWithNortheast({4, 5}, {2, 3}));
    EXPECT_EQ(AXGeometryZero(), AXGeometry::GeometryWithPosition({0, 0}, {{0, 0}, {0, 0}}));
}

TEST(CVLocationInternal, FloorAndPositionStayInStep) {
    const CVLocationInternal named(CVPoint(55.6, 12.5, 3), "Here");
    EXPECT_EQ(std::tuple(named.name, named.getFloorIndex(), named.getPosition().latitude()),
              std::tuple("Here", 3, 55.6));

    auto location = locationFrom(R"({"id": "p", "geometry": {"type": "Point", "coordinates": [12.5, 55.7]},
        "properties": {"name": "P", "type": "Desk", "floor": 20}})");
    ASSERT_NE(location, nullptr);
    location->setFloorIndex(3);
    EXPECT_EQ(location->getPosition().z(), 3);
    location->setPosition(CVPoint(1, 2, 5.7));
    EXPECT_EQ(location->getFloorIndex(), 5);
    location->setFloorIndex(std::nullopt);
    EXPECT_EQ(location->getPosition().z(), 5.7);

    // A floor written by a merge drifts from the position until the next geometry read.
    test::ScopedLogCapture log;
    location->setFloorIndex(20);
    ASSERT_TRUE(location->mergeFromDictionary(boost::json::parse(R"({"properties": {"floor": 4}})"), true));
    EXPECT_EQ(location->getPosition().z(), 20);
    (void)location->geometry();
    EXPECT_EQ(location->getPosition().z(), 4);
    EXPECT_TRUE(log.sink().contains(
        "-[CVLocationInternal geometry] [W] Point zIndex:20 differed from floorIndex: 4 on location:P, type:Desk"));
}

TEST(CVLocationInternal, PropertyLookUpCaseRules) {
    CVLocationInternal location;
    location.fields["email"] = std::make_shared<CVLocationFieldInternal>("text", "Email", "a@b.c");
    location.fields["Room"] = std::make_shared<CVLocationFieldInternal>("text", "Room", "12");
    location.fields["room"] = std::make_shared<CVLocationFieldInternal>("text", "room", "13");
    const std::pair<std::optional<std::string>, std::optional<std::string>> table[] = {
        {"email", "a@b.c"},      {"EMAIL", "a@b.c"},           {"room", "13"}, {"Room", "12"},
        {"ROOM", "12"},  // the first key in order that matches ignoring case
        {"phone", std::nullopt}, {std::nullopt, std::nullopt},
    };
    for (const auto& [key, value] : table) {
        const auto field = location.getPropertyForKey(key);
        EXPECT_EQ(field ? field->getValue() : std::nullopt, value) << key.value_or("(none)");
    }
    EXPECT_EQ(location.getProperty("EMAIL"), nullptr);
    const auto property = location.getProperty("email");
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(property->propertyType(), "email");
    EXPECT_EQ(property->propertyValue(), location.fields["email"]);
}

TEST(CVLocationInternal, ParentIsFoundThroughTheReadableIdIndex) {
    auto index = CVLocationSourceIndex::current();
    index->setParentId("floor-b1-2", "b1-2");
    index->setParentId("building-b1", "ax_b_b1");
    index->setParentId("venue-campus", "ax_v_campus");

    CVLocationInternal room;
    room.locationId = "room";
    room.building = "B1";
    room.venue = "Campus";
    room.setFloorIndex(2);
    EXPECT_EQ(room.readableLocationIdForBuildingFloor(), "b1-2");
    EXPECT_EQ(room.parentId(), "floor-b1-2");
    EXPECT_EQ(room.axParentId(), hashOf("floor-b1-2"));

    room.locationBaseTypeString = "FLOOR";
    EXPECT_EQ(room.parentId(), "building-b1");
    room.building.clear();
    EXPECT_EQ(room.readableLocationIdForBuildingFloor(), std::nullopt);
    EXPECT_EQ(room.parentId(), "venue-campus");
    room.venue.clear();
    EXPECT_EQ(room.parentId(), "room");
    room.venue = "elsewhere";  // a key the index does not hold
    EXPECT_EQ(room.parentId(), std::nullopt);
    EXPECT_EQ(room.axParentId(), hashOf(""));
}

class FixedRules : public CVEntryObjectSeam {
public:
    std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override {
        if (location.getType() != "Cafe") return nullptr;
        CVDisplayRuleData data;
        data.iconUrl = "https://icons/cup.png";
        return std::make_shared<CVDisplayRule>(data);
    }
};

TEST(CVLocationInternal, ActivityBoundsAreExclusiveAndTheIconComesFromTheEntryObjectsRule) {
    CVLocationInternal location;
    location.activeFrom = 100;
    location.activeTo = 200;
    for (const auto& [date, active] : {std::pair(100.0, false), {150.0, true}, {200.0, false}}) {
        EXPECT_EQ(location.isActiveForDate(date), active) << date;
    }
    location.activeFrom.reset();
    EXPECT_TRUE(location.isActiveForDate(-1e9));

    location.type = "Cafe";
    EXPECT_EQ(location.iconUrl(), std::nullopt);
    CVEntryObjectSeam::install(std::make_shared<FixedRules>());
    EXPECT_EQ(location.iconUrl(), "https://icons/cup.png");
    location.type = "Desk";
    EXPECT_EQ(location.iconUrl(), std::nullopt);
    CVEntryObjectSeam::install(nullptr);
}

// Live updates move a location while the map and the search read it.
TEST(CVLocationInternal, PositionFloorAndIndexAreSafeAcrossThreads) {
    auto location = std::make_shared<CVLocationInternal>();
    location->building = "B1";
    std::vector<std::jthread> threads;
    threads.emplace_back([location] {
        for (int i = 0; i < 500; ++i) {
            location->setPosition(CVPoint(55.0 + i * 1e-6, 12.0, i % 5));
            location->setFloorIndex(i % 3);
            const std::string floor = std::to_string(i % 3);
            CVLocationSourceIndex::current()->setParentId("floor-" + floor, "b1-" + floor);
        }
    });
    for (int reader = 0; reader < 3; ++reader) {
        threads.emplace_back([location] {
            for (int i = 0; i < 500; ++i) {
                (void)location->geometry();
                (void)location->coordinateBounds();
                (void)location->parentId();
                (void)location->axLocation();
            }
        });
    }
    threads.clear();  // joins
    EXPECT_EQ(location->getPosition().z(), location->getFloorIndex());
}

TEST(CVLocationDataset, AcceptsAnArrayAndReportsAMissingList) {
    const auto fromArray = CVLocationDataset::fromString(
        R"([{"id": "a", "geometry": {"type": "Point", "coordinates": [1, 2]}, "properties": {}}])");
    ASSERT_NE(fromArray, nullptr);
    EXPECT_EQ(fromArray->list->size(), 1u);

    std::optional<JSONModelError> error;
    CVLocationDataset withoutList;
    EXPECT_TRUE(withoutList.initWithDictionary(boost::json::parse(R"({"items": []})"), &error));
    EXPECT_FALSE(withoutList.list);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kJSONModelErrorBadJSON);
    EXPECT_EQ(CVLocationDataset::fromString("42"), nullptr);
    EXPECT_EQ(CVLocationDataset::fromString("{not json"), nullptr);
}

}  // namespace
}  // namespace ambrell

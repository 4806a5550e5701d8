#include "data/CVLocationInternal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "data/CVEntrySeams.h"
#include "data/CVLocationSourceIndex.h"
#include "foundation/CVInternalStringUtils.h"
#include "tests/data/LocationDocuments.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell {
namespace {

using test::document;
using test::locationFrom;

std::shared_ptr<CVLocationInternal> findLocation(const CVLocationDataset& dataset, std::string_view id) {
    for (const auto& location : dataset.list.value()) {
        if (location->locationId == id) return location;
    }
    return nullptr;
}

class CVLocationDocument : public ::testing::Test {
protected:
    void SetUp() override {
        dataset_ = CVLocationDataset::fromString(test::documentText("locations.json"));
        ASSERT_NE(dataset_, nullptr);
    }
    test::ScopedLogCapture log_;
    std::shared_ptr<CVLocationDataset> dataset_;
};

TEST_F(CVLocationDocument, KeepsPointAndPolygonFeaturesAndSkipsTheRestWithTheErrorLine) {
    std::vector<std::string> ids;
    for (const auto& location : *dataset_->list) ids.push_back(location->locationId);
    EXPECT_EQ(ids, (std::vector<std::string>{"poi-1", "room-1", "outdoor"}));

    std::vector<std::string> refused;
    for (const auto& entry : log_.sink().messages()) {
        constexpr std::string_view line =
            "-[CVLocationInternal initWithDictionary:error:] [E] Failed to construct CVLocation from dict: {";
        if (entry.level == platform::LogLevel::error && entry.message.starts_with(line)) {
            refused.push_back(boost::json::parse(entry.message.substr(line.size() - 1)).at("id").as_string().c_str());
        }
    }
    EXPECT_EQ(refused,
              (std::vector<std::string>{"floor-piece", "no-geometry", "line", "broken-polygon", "bad-import"}));
}

TEST_F(CVLocationDocument, PointFeatureReadsEveryMappedKey) {
    auto poi = findLocation(*dataset_, "poi-1");
    ASSERT_NE(poi, nullptr);
    EXPECT_EQ(poi->name, "Cafe\nNorth");
    EXPECT_EQ(poi->type, "Cafe");
    EXPECT_EQ(poi->baseType(), CVLocationBaseType::pointOfInterest);
    EXPECT_EQ(poi->venue, "CAMPUS");
    EXPECT_EQ(poi->building, "B1");
    EXPECT_EQ(poi->getFloorIndex(), 20);
    EXPECT_EQ(poi->floorName, "Top");
    EXPECT_EQ(poi->externalId, "X-1");
    EXPECT_EQ(poi->locationDescription, "Coffee");
    EXPECT_EQ(poi->aliases, (std::vector<std::string>{"Foo", "Bar,Baz"}));
    EXPECT_EQ(poi->categories, (std::vector<std::string>{"FOOD", "DRINK"}));
    ASSERT_EQ(poi->fields.size(), 2u);
    EXPECT_EQ(poi->fields.at("email")->value, "cafe@example.com");
    EXPECT_EQ(poi->imageURL, "https://img/cafe.png");
    EXPECT_EQ(poi->activeFrom, 100);
    EXPECT_EQ(poi->isBookable, true);
    EXPECT_EQ(poi->restrictions, (std::vector<std::string>{"staff"}));
    ASSERT_NE(poi->displayRule, nullptr);
    EXPECT_EQ(poi->displayRule->iconUrl(), "https://icons/cafe.png");
    EXPECT_EQ(poi->locationSettings->selectable, false);
    EXPECT_EQ(poi->cv_geoDataStatus(), 1u);
    EXPECT_EQ(poi->state, 0);

    const CVPoint position = poi->getPosition();
    EXPECT_EQ(position.latitude(), 55.7);
    EXPECT_EQ(position.longitude(), 12.5);
    EXPECT_EQ(position.z(), 20);
    EXPECT_TRUE(std::holds_alternative<CVPoint>(poi->geometry()));
    EXPECT_TRUE(poi->isIndoors());
    EXPECT_EQ(poi->area(), 0);

    // Neither unmapped keys nor the position travel in the exported document.
    const auto exported = poi->toDictionary();
    EXPECT_FALSE(exported.at("properties").as_object().contains("somethingElse"));
    EXPECT_FALSE(exported.contains("position"));
    EXPECT_EQ(exported.at("properties").at("displayRule").at("icon"), "https://icons/cafe.png");
}

TEST_F(CVLocationDocument, PolygonFeatureTakesItsPositionFromTheAnchor) {
    auto room = findLocation(*dataset_, "room-1");
    ASSERT_NE(room, nullptr);
    const CVPoint position = room->getPosition();
    EXPECT_EQ(position.latitude(), 55.0005);
    EXPECT_EQ(position.longitude(), 12.001);
    EXPECT_EQ(position.z(), 2);
    ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const CVPolygonGeometry>>(room->geometry()));
    EXPECT_GT(room->area(), 0);
    EXPECT_EQ(room->baseType(), CVLocationBaseType::room);
    EXPECT_EQ(room->categories, (std::vector<std::string>{"MEETING"}));
    EXPECT_EQ(room->displayRule, nullptr);  // a rule that does not read is left unset
    EXPECT_EQ(room->cv_geoDataStatus(), 2u);  // top-level status when properties have none

    // At double precision, exactly the polygon's extremes.
    const CVGeoBounds bounds = room->coordinateBounds();
    EXPECT_EQ(bounds.southWest(), (CLLocationCoordinate2D{55.0, 12.0}));
    EXPECT_EQ(bounds.northEast(), (CLLocationCoordinate2D{55.001, 12.002}));

    auto outdoor = findLocation(*dataset_, "outdoor");
    EXPECT_FALSE(outdoor->isIndoors());
    EXPECT_EQ(outdoor->cv_geoDataStatus(), 3u);
    EXPECT_EQ(outdoor->coordinateBounds(), CVGeoBounds({55.1, 12.1}, {55.1, 12.1}));
}

TEST(CVLocationInternal, PolygonWithoutAnchorSitsAtZero) {
    auto location = locationFrom(R"({"id": "a", "geometry": {"type": "Polygon",
        "coordinates": [[[1, 1], [2, 1], [2, 2], [1, 1]]]}, "properties": {"floor": 1}})");
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->getPosition().coordinate(), (CLLocationCoordinate2D{0, 0}));
}

TEST(CVLocationInternal, DefaultsAndPointConstructor) {
    const CVLocationInternal plain;
    EXPECT_EQ(plain.locationId, "0");
    EXPECT_EQ(plain.name, "");
    EXPECT_EQ(plain.getFloorIndex(), 0);
    EXPECT_TRUE(plain.hasPosition());
    EXPECT_EQ(plain.cv_geoDataStatus(), 3u);
    EXPECT_TRUE(plain.fields.empty() && plain.categories.empty() && plain.aliases.empty());

    const CVLocationInternal named(CVPoint(55.6, 12.5, 3), "Here");
    EXPECT_EQ(named.name, "Here");
    EXPECT_EQ(named.getFloorIndex(), 3);
    EXPECT_EQ(named.getPosition().latitude(), 55.6);
}

TEST(CVLocationInternal, FloorAndPositionStayInStep) {
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
    auto location = std::make_shared<CVLocationInternal>();
    location->fields["email"] = std::make_shared<CVLocationFieldInternal>("text", "Email", "a@b.c");
    location->fields["Room"] = std::make_shared<CVLocationFieldInternal>("text", "Room", "12");
    location->fields["room"] = std::make_shared<CVLocationFieldInternal>("text", "room", "13");

    const std::pair<std::optional<std::string>, std::optional<std::string>> table[] = {
        {"email", "a@b.c"}, {"EMAIL", "a@b.c"}, {"room", "13"}, {"Room", "12"},
        {"ROOM", "12"},  // the first key in order that matches ignoring case
        {"phone", std::nullopt}, {std::nullopt, std::nullopt},
    };
    for (const auto& [key, value] : table) {
        auto field = location->getPropertyForKey(key);
        EXPECT_EQ(field ? field->getValue() : std::nullopt, value) << key.value_or("(none)");
    }
    EXPECT_EQ(location->getProperty("EMAIL"), nullptr);
    auto property = location->getProperty("email");
    ASSERT_NE(property, nullptr);
    EXPECT_EQ(property->propertyType(), "email");
    EXPECT_EQ(property->propertyValue(), location->fields["email"]);
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
    EXPECT_EQ(room.axParentId(), CVInternalStringUtils::hashOf("floor-b1-2"));

    room.locationBaseTypeString = "FLOOR";
    EXPECT_EQ(room.parentId(), "building-b1");
    room.building.clear();
    EXPECT_EQ(room.readableLocationIdForBuildingFloor(), std::nullopt);
    EXPECT_EQ(room.parentId(), "venue-campus");
    room.venue.clear();
    EXPECT_EQ(room.parentId(), "room");

    room.venue = "elsewhere";  // a key the index does not hold
    EXPECT_EQ(room.parentId(), std::nullopt);
    EXPECT_EQ(room.axParentId(), CVInternalStringUtils::hashOf(""));
}

TEST(CVLocationInternal, ActivityBoundsAreExclusive) {
    CVLocationInternal location;
    location.activeFrom = 100;
    location.activeTo = 200;
    EXPECT_FALSE(location.isActiveForDate(100));
    EXPECT_TRUE(location.isActiveForDate(150));
    EXPECT_FALSE(location.isActiveForDate(200));
    location.activeFrom.reset();
    EXPECT_TRUE(location.isActiveForDate(-1e9));
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

TEST(CVLocationInternal, IconUrlComesFromTheEntryObjectsRule) {
    CVLocationInternal location;
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
    std::vector<std::thread> threads;
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
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(location->getPosition().z(), location->getFloorIndex());
}

TEST(CVLocationDataset, AcceptsAnArrayAndReportsAMissingList) {
    auto fromArray = CVLocationDataset::fromString(
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
    EXPECT_EQ(CVLocationDataset(std::vector<std::shared_ptr<CVLocationInternal>>(2)).list->size(), 2u);
}

}  // namespace
}  // namespace ambrell

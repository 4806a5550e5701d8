#include "data/CVTypeInternal.h"

#include <gtest/gtest.h>

#include "data/CVDataFieldInternal.h"
#include "data/CVPointJSON.h"
#include "tests/data/LocationDocuments.h"

namespace ambrell {
namespace {

TEST(CVTypeInternal, RequiredOptionalAndIgnoredKeys) {
    std::optional<JSONModelError> error;
    auto types = CVTypeInternal::arrayOfModelsFromDictionaries(test::document("types.json"), &error);
    ASSERT_TRUE(types) << (error ? error->localizedDescription() : "");
    ASSERT_EQ(types->size(), 3u);

    const auto& meeting = *types->at(0);
    EXPECT_EQ(meeting.getName(), "MeetingRoom");
    EXPECT_EQ(meeting.getTranslatedName(), "Meeting room");
    EXPECT_EQ(meeting.getDisplayRule()->iconUrl(), "https://icons/meet.png");
    EXPECT_EQ(meeting.fields->at("capacity")->value, "8");
    EXPECT_EQ(meeting.restrictions, (std::vector<std::string>{"staff"}));
    EXPECT_EQ(meeting.getLocationSettings()->selectable, true);
    EXPECT_FALSE(meeting.toDictionary().contains("colour"));

    const auto& cafe = *types->at(1);
    EXPECT_EQ(cafe.getTranslatedName(), "Café");
    EXPECT_FALSE(cafe.fields);
    EXPECT_FALSE(cafe.restrictions);

    // Settings and rules that do not read are dropped, not the type.
    EXPECT_EQ(types->at(2)->displayRule, nullptr);
    EXPECT_FALSE(types->at(2)->locationSettings);

    for (const char* missing : {"name", "translatedName", "displayRule"}) {
        boost::json::object type{{"name", "A"}, {"translatedName", "A"}, {"displayRule", boost::json::object{}}};
        type.erase(missing);
        std::optional<JSONModelError> missingError;
        EXPECT_EQ(CVTypeInternal::fromDictionary(boost::json::value(type), &missingError), nullptr) << missing;
        ASSERT_TRUE(missingError);
        EXPECT_EQ(missingError->missingKeys(), std::vector<std::string>{missing});
    }
}

TEST(CVLocationFieldInternal, OnlyTypeIsRequiredAndCopiesAreEqual) {
    auto field = CVLocationFieldInternal::fromString(R"({"type": "text"})");
    ASSERT_NE(field, nullptr);
    EXPECT_FALSE(field->text);
    EXPECT_FALSE(field->value);
    EXPECT_EQ(CVLocationFieldInternal::fromString(R"({"text": "Email", "value": "x"})"), nullptr);

    auto full = CVLocationFieldInternal::fromString(R"({"type": "text", "text": "Email", "value": "x"})");
    auto copy = full->copyWithZone();
    EXPECT_NE(copy, full);
    EXPECT_EQ(copy->getType(), "text");
    EXPECT_EQ(copy->getText(), "Email");
    EXPECT_EQ(copy->getValue(), "x");
}

TEST(CVDataFieldInternal, KeyIsRequiredAndCopiesLeaveFieldsBehind) {
    auto category = CVDataFieldInternal::fromString(
        R"({"key": "CANTEEN", "value": "Canteen", "fields": {"hours": {"type": "text", "value": "8-16"}}})");
    ASSERT_NE(category, nullptr);
    EXPECT_EQ(category->fields->at("hours")->value, "8-16");
    auto copy = category->copyWithZone();
    EXPECT_EQ(copy->getKey(), "CANTEEN");
    EXPECT_EQ(copy->getValue(), "Canteen");
    EXPECT_FALSE(copy->fields);
    EXPECT_EQ(CVDataFieldInternal::fromString(R"({"value": "Canteen"})"), nullptr);
}

TEST(CVPointJSON, ReadsLongitudeThenLatitude) {
    auto point = CVPointFromNSDictionary(boost::json::parse(R"({"coordinates": [12.5, 55.7]})"));
    ASSERT_TRUE(point);
    EXPECT_EQ(point->latitude(), 55.7);
    EXPECT_EQ(point->longitude(), 12.5);
    EXPECT_EQ(point->z(), 0);

    for (const char* text : {R"({"coordinates": [12.5]})", R"({"coordinates": []})", R"({"coordinates": "x"})",
                             R"({"coordinates": ["a", 1]})", R"({})", R"([12.5, 55.7])"}) {
        platform::NSError error;
        EXPECT_FALSE(CVPointInitWithDictionary(boost::json::parse(text), &error)) << text;
        EXPECT_FALSE(error.localizedDescription().empty()) << text;
    }
    const auto written = CVPointJSONObject(CVPoint(55.7, 12.5));
    EXPECT_EQ(CVPointFromNSDictionary(written)->coordinate(), (CLLocationCoordinate2D{55.7, 12.5}));
}

}  // namespace
}  // namespace ambrell

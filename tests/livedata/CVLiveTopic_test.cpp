#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "Ambrell/CVLiveUpdate.h"
#include "Ambrell/CVSubscription.h"

namespace ambrell {
namespace {

TEST(CVLiveTopicTest, FormsTheFourLevelTopicWithWildcardsForWhatItDoesNotNarrow) {
    struct Case {
        CVLiveTopicCriteria criteria;
        std::string topic;
    };
    const std::vector<Case> cases = {
        {CVLiveTopicCriteria("occupancy").floorId("f1").datasetId("ds"), "ds/f1/+/occupancy"},
        {CVLiveTopicCriteria("position").locationId("desk-7").datasetId("ds"), "ds/+/desk-7/position"},
        {CVLiveTopicCriteria(std::nullopt).datasetId("ds"), "ds/+/+/+"},
        {CVLiveTopicCriteria("count"), "+/+/+/count"},
        // A value that would widen or cut the topic matches nothing.
        {CVLiveTopicCriteria("count").floorId("a/b").datasetId("ds"), "ds/!invalid/+/count"},
        {CVLiveTopicCriteria("count").locationId("#").datasetId("ds"), "ds/+/!invalid/count"},
        {CVLiveTopicCriteria("count").datasetId(""), "!invalid/+/+/count"},
    };
    for (const auto& test : cases) EXPECT_EQ(test.criteria.topicString(), test.topic);
}

TEST(CVLiveTopicTest, EqualTopicsHashAlikeAndBuildersLeaveTheOriginal) {
    const auto base = CVLiveTopicCriteria("occupancy");
    const auto narrowed = base.floorId("f1").datasetId("ds");
    EXPECT_EQ(base.topicString(), "+/+/+/occupancy");
    EXPECT_EQ(narrowed.datasetId(), "ds");
    EXPECT_EQ(narrowed.domainType(), std::optional<std::string>("occupancy"));

    const std::shared_ptr<const CVLiveTopic> first = std::make_shared<CVLiveTopicCriteria>(narrowed);
    const std::shared_ptr<const CVLiveTopic> second =
        std::make_shared<CVLiveTopicCriteria>(CVLiveTopicCriteria("occupancy").datasetId("ds").floorId("f1"));
    const std::shared_ptr<const CVLiveTopic> other =
        std::make_shared<CVLiveTopicCriteria>(CVLiveTopicCriteria("occupancy").locationId("f1").datasetId("ds"));
    EXPECT_TRUE(CVLiveTopicEqual{}(first, second));
    EXPECT_EQ(CVLiveTopicHash{}(first), CVLiveTopicHash{}(second));
    EXPECT_FALSE(CVLiveTopicEqual{}(first, other));
}

TEST(CVLiveTopicTest, EscapesAllButUnreservedCharactersForTheStateQuery) {
    const auto topic = CVLiveTopicCriteria("occupancy").floorId("f 1").datasetId("d~s_1.x-y");
    EXPECT_EQ(topic.topicStringUrlEscaped(), "d~s_1.x-y%2Ff%201%2F%2B%2Foccupancy");
    EXPECT_EQ(CVLiveTopicCriteria(std::nullopt).topicStringUrlEscaped(), "%2B%2F%2B%2F%2B%2F%2B");
    const auto nonAscii = CVLiveTopicCriteria("temperature").locationId("caf\xc3\xa9").datasetId("ds");
    EXPECT_EQ(nonAscii.topicStringUrlEscaped(), "ds%2F%2B%2Fcaf%C3%A9%2Ftemperature");
}

std::shared_ptr<CVLiveUpdate> updateOf(const std::string& json, std::optional<std::string> topic = std::nullopt) {
    return CVLiveUpdate::liveUpdateWithDictionary(boost::json::parse(json).as_object(), topic);
}

TEST(CVLiveUpdateDecodingTest, BuildsTheTypedUpdateOfEachDomain) {
    const auto occupancy = std::dynamic_pointer_cast<CVOccupancyLiveUpdate>(updateOf(
        R"({"id":"r1","domainType":"occupancy","timestamp":"2026-12-07T10:15:00.250Z","properties":{"nrOfPeople":4}})"));
    ASSERT_NE(occupancy, nullptr);
    EXPECT_EQ(occupancy->numberOfPeople, 4);
    EXPECT_EQ(occupancy->itemId, "r1");
    EXPECT_EQ(occupancy->timestampText, "2026-12-07T10:15:00.250Z");
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(occupancy->timestamp.time_since_epoch()).count(),
              1796638500250);
    EXPECT_EQ(occupancy->getLiveValueForKey("nrOfPeople"), std::optional<boost::json::value>(4));

    const auto position = std::dynamic_pointer_cast<CVPositionLiveUpdate>(updateOf(
        R"({"id":"p","timestamp":"2026-12-07T11:15:00+01:00","properties":{"latitude":57.05,"longitude":9.92,"floorIndex":2}})",
        "ds/f/p/position"));
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(position->topic.domainType, std::optional<std::string>("position"));
    EXPECT_EQ(std::tuple(position->latitude, position->longitude, position->floorIndex), std::tuple(57.05, 9.92, 2L));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(position->timestamp.time_since_epoch()).count(),
              1796638500);

    EXPECT_NE(
        std::dynamic_pointer_cast<CVAvailabilityLiveUpdate>(updateOf(
            R"({"id":"a","domainType":"availability","timestamp":"2026-01-01T00:00:00Z","properties":{"available":true}})")),
        nullptr);
    const auto temperature = std::dynamic_pointer_cast<CVTemperatureLiveUpdate>(updateOf(
        R"({"id":"t","domainType":"temperature","timestamp":"2026-01-01T00:00:00Z","properties":{"temperature":21.5}})"));
    ASSERT_NE(temperature, nullptr);
    EXPECT_EQ(temperature->temperature.value, 21.5);
    // A domain without typed values keeps its properties as they are.
    const auto other =
        updateOf(R"({"id":"o","domainType":"noise","timestamp":"2026-01-01T00:00:00Z","properties":{"db":40}})");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->getLiveValueForKey("db"), std::optional<boost::json::value>(40));
}

TEST(CVLiveUpdateDecodingTest, RefusesObjectsThatAreNotLiveUpdates) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> refused = {
        {R"({"domainType":"count","timestamp":"2026-01-01T00:00:00Z","properties":{"count":1}})", std::nullopt},
        {R"({"id":"","domainType":"count","timestamp":"2026-01-01T00:00:00Z","properties":{"count":1}})", std::nullopt},
        {R"({"id":7,"domainType":"count","timestamp":"2026-01-01T00:00:00Z","properties":{"count":1}})", std::nullopt},
        {R"({"id":"x","domainType":"count","properties":{"count":1}})", std::nullopt},
        {R"({"id":"x","domainType":"count","timestamp":"yesterday","properties":{"count":1}})", std::nullopt},
        {R"({"id":"x","domainType":"count","timestamp":"2026-02-30T00:00:00Z","properties":{"count":1}})",
         std::nullopt},
        {R"({"id":"x","domainType":"count","timestamp":"2026-01-01T00:00:00","properties":{"count":1}})", std::nullopt},
        {R"({"id":"x","domainType":"count","timestamp":"2026-01-01T00:00:00Z","properties":{"count":1.5}})",
         std::nullopt},
        {R"({"id":"x","domainType":"count","timestamp":"2026-01-01T00:00:00Z","properties":[]})", std::nullopt},
        {R"({"id":"x","domainType":"count","timestamp":"2026-01-01T00:00:00Z"})", std::nullopt},
        {R"({"id":"x","domainType":5,"timestamp":"2026-01-01T00:00:00Z","properties":{"count":1}})", std::nullopt},
        {R"({"id":"x","timestamp":"2026-01-01T00:00:00Z","properties":{"count":1}})", std::nullopt},
        {R"({"id":"x","timestamp":"2026-01-01T00:00:00Z","properties":{"count":1}})", "ds/+/+/+"},
        {R"({"id":"x","domainType":"position","timestamp":"2026-01-01T00:00:00Z","properties":{"latitude":91,"longitude":0,"floorIndex":0}})",
         std::nullopt},
        {R"({"id":"x","domainType":"availability","timestamp":"2026-01-01T00:00:00Z","properties":{"available":"yes"}})",
         std::nullopt},
    };
    for (const auto& [json, topic] : refused) EXPECT_EQ(updateOf(json, topic), nullptr) << json;
}

}  // namespace
}  // namespace ambrell

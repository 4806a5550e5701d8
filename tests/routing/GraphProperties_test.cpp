#include "routing/Graph/CVGraphObjectPropertyContainer.h"
#include "routing/Graph/CVManualGraphProperties.h"
#include "routing/Graph/CVPropertyClassification.h"
#include "routing/Graph/CVRouteNetworkValueMapper.h"

#include <boost/json/parse.hpp>

#include <gtest/gtest.h>

namespace ambrell {
namespace {

using Indexes = std::vector<std::int64_t>;

std::shared_ptr<const CVRouteNetworkValueMapper> edgeMapper(std::optional<std::vector<std::string>> flags = {
                                                                {"oneway", "indoor"}}) {
    return CVRouteNetworkValueMapper::newWithDict(
        boost::json::parse(R"({"properties": ["highway", "distance", "context", "speedFactor", "waittime", "flags"],
                               "values": [["Footway", "STAIRS"], [], ["room", "corridor"], [], [], []]})")
            .as_object(),
        std::move(flags));
}

TEST(CVRouteNetworkValueMapper, RefusesMissingOrMismatchedLists) {
    const std::pair<const char*, const char*> cases[] = {
        {"NoProperties", R"({"values": []})"},
        {"NoValues", R"({"properties": []})"},
        {"LengthsDiffer", R"({"properties": ["a"], "values": []})"},
        {"NameNotText", R"({"properties": [1], "values": [[]]})"},
        {"ValuesNotAList", R"({"properties": ["a"], "values": [3]})"},
    };
    for (const auto& [name, json] : cases) {
        EXPECT_EQ(CVRouteNetworkValueMapper::newWithDict(boost::json::parse(json).as_object(), std::nullopt), nullptr)
            << name;
    }
    EXPECT_NE(CVRouteNetworkValueMapper::newWithDict(
                  boost::json::parse(R"({"properties": [], "values": []})").as_object(), std::nullopt),
              nullptr);
}

TEST(CVRouteNetworkValueMapper, AnswersTextsNumbersAndFlags) {
    const auto mapper = edgeMapper();
    ASSERT_NE(mapper, nullptr);
    EXPECT_EQ(mapper->indexForProperty("distance"), 1);
    EXPECT_EQ(mapper->indexForProperty("nothing"), CVRouteNetworkValueMapper::kNotFound);
    EXPECT_EQ(mapper->objectForKeyedSubscript("nothing"), nullptr);
    EXPECT_EQ(mapper->stringValueForProperty("context", 1), "corridor");
    for (const std::int64_t index : std::vector<std::int64_t>{-1, 2, CVRouteNetworkValueMapper::kNotFound}) {
        EXPECT_EQ(mapper->stringValueForProperty("context", index), std::nullopt) << index;
    }
    EXPECT_EQ(mapper->numberValueForProperty("distance", 4500), 4500);
    EXPECT_EQ(mapper->numberValueForProperty("context", 0), std::nullopt);
    EXPECT_TRUE(mapper->boolValueForProperty("indoor", 2));
    EXPECT_FALSE(mapper->boolValueForProperty("oneway", 2));
    EXPECT_FALSE(mapper->boolValueForProperty("unknown", ~0ULL));
}

TEST(CVGraphObjectPropertyContainer, ReadsEdgePropertiesThroughTheMapper) {
    const auto mapper = edgeMapper();
    // Columns: highway, distance, context, speedFactor, waittime, flags.
    const auto container = CVGraphObjectPropertyContainer::newWithProperties(Indexes{1, 4500, 0, 1500, 3, 1}, mapper);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->highway(), CVHighway::stairs());
    EXPECT_EQ(container->distance(), 4500U);
    EXPECT_EQ(container->stringValueForProperty("distance"), std::nullopt);
    EXPECT_EQ(container->numberValueForProperty("highway"), std::nullopt);
    EXPECT_EQ(container->context(), "room");
    EXPECT_DOUBLE_EQ(container->speedFactor(), 1.5);
    EXPECT_DOUBLE_EQ(container->waittime(), 3);
    EXPECT_TRUE(container->directed());
    EXPECT_EQ(container->flags(), 1U);

    const std::tuple<const char*, Indexes, std::optional<std::vector<std::string>>, bool, double> flagsAndFactors[] = {
        {"SecondFlagOnly", {0, 1, 0, 0, 0, 2}, std::vector<std::string>{"oneway", "indoor"}, false, 1.0},
        {"NoFlagNames", {0, 1, 0, 0, 0, 1}, std::nullopt, false, 1.0},
        {"ShortEntry", {0, 1}, std::vector<std::string>{"oneway"}, false, 1.0},
        {"HalfSpeed", {0, 1, 0, 500, 0, 0}, std::vector<std::string>{"oneway"}, false, 0.5},
    };
    for (const auto& [name, indexes, flagNames, directed, speedFactor] : flagsAndFactors) {
        const auto entry = CVGraphObjectPropertyContainer::newWithProperties(indexes, edgeMapper(flagNames));
        EXPECT_EQ(entry->directed(), directed) << name;
        EXPECT_DOUBLE_EQ(entry->speedFactor(), speedFactor) << name;
    }
    // A position beyond the entry gives no value; an out-of-range index no text.
    const auto shortEntry = CVGraphObjectPropertyContainer::newWithProperties(Indexes{0}, mapper);
    EXPECT_EQ(shortEntry->distance(), 0U);
    EXPECT_EQ(shortEntry->context(), std::nullopt);
    EXPECT_EQ(CVGraphObjectPropertyContainer::newWithProperties(Indexes{-1, 0, 7}, mapper)->context(), std::nullopt);
    EXPECT_EQ(CVGraphObjectPropertyContainer::newWithProperties(Indexes{-1}, mapper)->highway(),
              CVHighway::unclassified());
}

TEST(CVGraphObjectPropertyContainer, ReadsNodePropertiesAndComparesLists) {
    const auto mapper = CVRouteNetworkValueMapper::newMapperWithPropertyNames(
        {"boundary", "barrier", "floorname", "waittime"}, {{}, {"gate", "gateelevator"}, {"Ground", "First"}, {}},
        std::nullopt);
    const auto node = CVGraphObjectPropertyContainer::newWithProperties(Indexes{6, 1, 0, 20}, mapper);
    EXPECT_EQ(node->boundary(), 6U);
    EXPECT_EQ(node->barrier(), "gateelevator");
    EXPECT_EQ(node->floorname(), "Ground");
    EXPECT_DOUBLE_EQ(node->waittime(), 20);

    const auto same = CVGraphObjectPropertyContainer::newWithProperties(Indexes{6, 1, 0, 20}, mapper);
    EXPECT_TRUE(node->isEqualToGraphObjectPropertyContainer(same.get()));
    EXPECT_TRUE(node->haveSameGraphNodeProperties(*same));
    EXPECT_FALSE(node->isEqualToGraphObjectPropertyContainer(nullptr));
    EXPECT_FALSE(node->isEqualToGraphObjectPropertyContainer(
        CVGraphObjectPropertyContainer::newWithProperties(Indexes{6, 0, 0, 20}, mapper).get()));

    // Exactly one of list and mapper is refused; neither is an empty container.
    EXPECT_EQ(CVGraphObjectPropertyContainer::newWithProperties(Indexes{1}, nullptr), nullptr);
    EXPECT_EQ(CVGraphObjectPropertyContainer::newWithProperties(std::nullopt, mapper), nullptr);
    const auto empty = CVGraphObjectPropertyContainer::newWithProperties(std::nullopt, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->boundary(), 0U);
    EXPECT_TRUE(empty->isEqualToGraphObjectPropertyContainer(
        CVGraphObjectPropertyContainer::newWithProperties(std::nullopt, nullptr).get()));
    // Two absent barriers are not the same properties.
    EXPECT_FALSE(
        empty->haveSameGraphNodeProperties(*CVGraphObjectPropertyContainer::newWithProperties(std::nullopt, nullptr)));
    EXPECT_TRUE(node->debugDescription().ends_with(": [6,1,0,20]>"));
}

TEST(CVGraphObjectPropertyContainerFactory, SharesContainersOfEqualListsWhenAsked) {
    EXPECT_EQ(CVGraphObjectPropertyContainerFactory::newWithValueMapper(nullptr, true), nullptr);
    const auto sharing = CVGraphObjectPropertyContainerFactory::newWithValueMapper(edgeMapper(), true);
    const auto first = sharing->propertyContainerForProperties(Indexes{3, 0, 12});
    EXPECT_EQ(sharing->propertyContainerForProperties(Indexes{3, 0, 12}), first);
    EXPECT_NE(sharing->propertyContainerForProperties(Indexes{3, 0, 1, 2}), first);
    EXPECT_EQ(sharing->cacheCount(), 2U);
    EXPECT_EQ(sharing->propertyContainerForProperties(std::nullopt), nullptr);

    const auto plain = CVGraphObjectPropertyContainerFactory::newWithValueMapper(edgeMapper(), false);
    EXPECT_NE(plain->propertyContainerForProperties(Indexes{1}), plain->propertyContainerForProperties(Indexes{1}));
    EXPECT_EQ(plain->cacheCount(), 0U);
}

TEST(CVPropertyClassification, ClassifiesBarrierAndBoundaryTexts) {
    const std::tuple<const char*, std::uint8_t, std::uint8_t> cases[] = {
        {"gate", 1, 0},    {"GateElevator", 2, 0}, {"walking", 0, 2},
        {"Walking", 0, 2}, {"transit", 0, 16},     {"BICYCLING", 0, 8},
        {"", 0, 0},        {"door", 0, 0},         {"administrative", 0, 1},
    };
    for (const auto& [text, barrier, boundary] : cases) {
        EXPECT_EQ(as_CVBarrierType(text), barrier) << text;
        EXPECT_EQ(as_CVBoundaryType(text), boundary) << text;
    }
}

TEST(CVManualGraphProperties, StoreTheirValuesAndCompareByValue) {
    const auto edge =
        CVManualGraphEdgeProperties::newGraphEdgePropertiesWithContext("room", CVHighway::stairs(), 7000, 0, 0, false);
    EXPECT_DOUBLE_EQ(edge->speedFactor(), 1.0);
    edge->setSpeedFactor(0);
    EXPECT_DOUBLE_EQ(edge->speedFactor(), 0);
    const auto directed =
        CVManualGraphEdgeProperties::newDirectedGraphEdgePropertiesWithContext("room", CVHighway::stairs(), 7000);
    EXPECT_TRUE(directed->directed());
    EXPECT_FALSE(edge->haveSameGraphEdgeProperties(*directed));
    edge->setDirected(true);
    edge->setSpeedFactor(1.0);
    EXPECT_TRUE(edge->haveSameGraphEdgeProperties(*directed));
    directed->setContext(std::nullopt);
    EXPECT_FALSE(edge->haveSameGraphEdgeProperties(*directed));

    const auto node = CVManualGraphNodeProperties::newGraphNodePropertiesWithFloorname("Ground");
    EXPECT_EQ(node->barrier(), "");
    EXPECT_TRUE(node->haveSameGraphNodeProperties(
        *CVManualGraphNodeProperties::newGraphNodePropertiesWithBoundary(0, "", "Ground", 0)));
    EXPECT_FALSE(node->haveSameGraphNodeProperties(
        *CVManualGraphNodeProperties::newGraphNodePropertiesWithBoundary(0, std::nullopt, "Ground", 0)));
}

}  // namespace
}  // namespace ambrell

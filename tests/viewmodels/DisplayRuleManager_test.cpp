#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Ambrell/CVLocation.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"
#include "data/CVTypeInternal.h"
#include "tests/support/AsyncTesting.h"
#include "viewmodels/DisplayRuleManagerSwift.h"

namespace ambrell {
namespace {

using Locations = std::vector<std::shared_ptr<CVLocation>>;

void awaitRules(platform::Awaitable<void> work) {
    auto outcome = test::startTask<void>(std::move(work)).result();
    if (!outcome) throw std::runtime_error("the rules were not stored in time");
    outcome->get();
}

std::shared_ptr<CVDisplayRule> ruleWithLabel(const std::string& label) {
    CVDisplayRuleData data;
    data.label = label;
    return std::make_shared<CVDisplayRule>(data);
}

std::shared_ptr<CVTypeInternal> typeNamed(std::string name, std::shared_ptr<CVDisplayRule> rule = nullptr) {
    auto type = std::make_shared<CVTypeInternal>();
    type->name = std::move(name);
    type->displayRule = std::move(rule);
    return type;
}

std::shared_ptr<CVLocationInternal> locationOf(std::string id, std::string type,
                                               std::shared_ptr<CVDisplayRule> rule = nullptr,
                                               std::optional<std::string> baseType = std::nullopt) {
    auto location = std::make_shared<CVLocationInternal>();
    location->locationId = std::move(id);
    location->name = "Place";
    location->type = std::move(type);
    location->displayRule = std::move(rule);
    location->locationBaseTypeString = std::move(baseType);
    return location;
}

// A solution with a main, a building and a selection rule of its own, and
// the types given.
std::shared_ptr<CVSolutionInternal> solutionWith(std::vector<std::shared_ptr<CVTypeInternal>> types) {
    auto solution = std::make_shared<CVSolutionInternal>();
    CVSolutionConfig config;
    config.mainDisplayRuleData.emplace().label = "main";
    config.buildingDisplayRuleData.emplace().label = "building";
    config.stateDisplayRules.emplace().selection.emplace().label = "selected";
    solution->config = config;
    solution->types = std::move(types);
    return solution;
}

TEST(DisplayRuleManager, FixedRulesChainToTheirParentsAsTheMapExpects) {
    const DisplayRuleManagerSwift manager(solutionWith({}));
    const auto& defaults = manager.defaultRule();
    EXPECT_EQ(defaults->parent(), nullptr);
    EXPECT_EQ(defaults->rule(), nullptr);
    EXPECT_EQ(defaults->data(), CVDisplayRuleData::defaultRuleData());

    struct Fixed {
        CVDisplayRuleType type;
        std::shared_ptr<CVDisplayRule> parent;
        std::optional<std::string> ownLabel;
    };
    for (const auto& [type, parent, ownLabel] : {
             Fixed{CVDisplayRuleType::main, defaults, "main"},
             Fixed{CVDisplayRuleType::building, manager.mainRule(), "building"},
             Fixed{CVDisplayRuleType::blueDot, manager.mainRule(), std::nullopt},
             Fixed{CVDisplayRuleType::oldSelection, nullptr, std::nullopt},
             Fixed{CVDisplayRuleType::selectionState, nullptr, "selected"},
             Fixed{CVDisplayRuleType::highlightState, nullptr, std::nullopt},
         }) {
        SCOPED_TRACE(static_cast<int>(type));
        const auto rule = manager.fixedRule(type);
        ASSERT_NE(rule, nullptr);
        EXPECT_EQ(rule->parent(), parent);
        ASSERT_NE(rule->rule(), nullptr);  // each wraps the rule of its data
        EXPECT_EQ(rule->rule()->data().label, ownLabel);
    }
    EXPECT_EQ(manager.fixedRule(CVDisplayRuleType::defaultRule), defaults);
    EXPECT_EQ(manager.fixedRule(CVDisplayRuleType::blueDot)->rule()->data(), CVDisplayRuleData::userPositionData());
    EXPECT_EQ(manager.fixedRule(CVDisplayRuleType::oldSelection)->rule()->data(),
              CVDisplayRuleData::oldSelectionData());
    EXPECT_EQ(manager.fixedRule(CVDisplayRuleType::highlightState)->rule()->data(), CVDisplayRuleData::highlightData());
    EXPECT_EQ(manager.fixedRule(static_cast<CVDisplayRuleType>(7)), nullptr);
    EXPECT_EQ(manager.typeRules().label(), "Ambrell.displayrule.types");
    EXPECT_EQ(manager.locationRules().label(), "Ambrell.displayrule.locations");
}

TEST(DisplayRuleManager, WithoutConfigurationTheFixedRulesComeFromThePresets) {
    for (const auto& solution : {std::shared_ptr<CVSolutionInternal>(), std::make_shared<CVSolutionInternal>()}) {
        DisplayRuleManagerSwift manager(solution);
        EXPECT_EQ(manager.mainRule()->rule()->data(), CVDisplayRuleData{});
        EXPECT_EQ(manager.buildingRule()->rule()->data(), CVDisplayRuleData{});
        EXPECT_EQ(manager.selectionStateRule()->rule()->data(), CVDisplayRuleData::selectionData());
        EXPECT_EQ(manager.highlightStateRule()->rule()->data(), CVDisplayRuleData::highlightData());
        awaitRules(manager.updateTypeRules());
        EXPECT_EQ(manager.typeRules().count(), 0u);
    }
}

TEST(DisplayRuleManager, AValueSetOnlyOnTheDefaultRuleReachesALocationsRule) {
    DisplayRuleManagerSwift manager(solutionWith({typeNamed("Cafe", ruleWithLabel("cafe"))}));
    awaitRules(manager.updateTypeRules());
    awaitRules(manager.updateLocationRules(
        {locationOf("typed", "Cafe", ruleWithLabel("own")), locationOf("untyped", "Unknown")}));

    const auto typed = manager.locationRule("typed");
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->parent(), manager.typeRule("cafe"));
    EXPECT_EQ(typed->label(), "own");
    EXPECT_EQ(typed->labelMaxWidth(), CVDisplayRuleData::defaultRuleData().labelMaxWidth);
    EXPECT_EQ(typed->badgeRadius(), CVDisplayRuleData::defaultRuleData().badgeRadius);
    EXPECT_EQ(typed->iconSize(), CVDisplayRuleData::defaultRuleData().iconSize);

    // A type the solution does not know: the main rule is the parent.
    const auto untyped = manager.locationRule("untyped");
    ASSERT_NE(untyped, nullptr);
    EXPECT_EQ(untyped->parent(), manager.mainRule());
    EXPECT_EQ(untyped->label(), "main");
    EXPECT_EQ(untyped->polygonStrokeWidth(), CVDisplayRuleData::defaultRuleData().polygonStrokeWidth);
    // The type's own rule comes between.
    EXPECT_EQ(manager.typeRule("cafe")->label(), "cafe");
    EXPECT_EQ(manager.typeRule("cafe")->parent(), manager.mainRule());
}

TEST(DisplayRuleManager, TypesDifferingOnlyInCaseShareOneRuleTheLaterWins) {
    const auto later = ruleWithLabel("later");
    DisplayRuleManagerSwift manager(solutionWith(
        {typeNamed("Office", ruleWithLabel("earlier")), typeNamed("office", later), typeNamed(""), typeNamed("Bare")}));
    const auto built = manager.typeRulesOf(manager.solution()->types);
    ASSERT_EQ(built.size(), 2u);  // the nameless type has none
    EXPECT_EQ(built[0].first, "office");
    EXPECT_EQ(built[1].first, "bare");

    awaitRules(manager.updateTypeRules());
    EXPECT_EQ(manager.typeRules().count(), 2u);
    EXPECT_EQ(manager.typeRule("office")->rule(), later);
    EXPECT_EQ(manager.typeRule("Office"), nullptr);  // the entry object lower-cases the name
    // A type without a rule of its own gets a new empty one under the main rule.
    EXPECT_EQ(manager.typeRule("bare")->rule()->data(), CVDisplayRuleData{});
    EXPECT_EQ(manager.typeRule("bare")->label(), "main");

    // Another pass replaces by name and removes nothing.
    manager.solution()->types = {typeNamed("OFFICE", ruleWithLabel("again"))};
    awaitRules(manager.updateTypeRules());
    EXPECT_EQ(manager.typeRule("office")->label(), "again");
    EXPECT_NE(manager.typeRule("bare"), nullptr);
}

TEST(DisplayRuleManager, FloorsBuildingsAndVenuesGetInvisibleRulesTheirOwnRuleObjectsToo) {
    DisplayRuleManagerSwift manager(solutionWith({}));
    struct Case {
        const char* baseType;
        bool hasOwnRule;
        bool visible;
    };
    for (const auto& [baseType, hasOwnRule, visible] :
         {Case{"FLOOR", true, false}, Case{"BUILDING", true, false}, Case{"VENUE", true, false},
          Case{"FLOOR", false, false}, Case{"VENUE", false, false}, Case{"ROOM", true, true}, Case{"AREA", false, true},
          Case{"POI", true, true}}) {
        SCOPED_TRACE(std::string(baseType) + (hasOwnRule ? " with its own rule" : ""));
        const auto own = hasOwnRule ? ruleWithLabel("own") : nullptr;
        const auto location = locationOf(std::string("id-") + baseType + (hasOwnRule ? "+" : ""), "Any", own, baseType);
        awaitRules(manager.updateLocationRules({location}));
        const auto rule = manager.locationRule(location->locationId);
        ASSERT_NE(rule, nullptr);
        EXPECT_EQ(rule->isVisible(), visible);
        if (own) {
            EXPECT_EQ(rule->rule(), own);
            EXPECT_EQ(own->isVisible(), visible);
        }
    }
}

TEST(DisplayRuleManager, AnUpdateNeverReplacesAStoredRule) {
    DisplayRuleManagerSwift manager(solutionWith({}));
    awaitRules(manager.updateLocationRules({locationOf("a", "Any", ruleWithLabel("first"))}));
    const auto stored = manager.locationRule("a");
    awaitRules(manager.updateLocationRules({locationOf("a", "Any", ruleWithLabel("second"))}));
    EXPECT_EQ(manager.locationRule("a"), stored);
    EXPECT_EQ(manager.locationRule("a")->label(), "first");

    // Within one update the later of two equal ids is the one stored.
    awaitRules(manager.updateLocationRules(
        {locationOf("b", "Any", ruleWithLabel("one")), locationOf("b", "Any", ruleWithLabel("two"))}));
    EXPECT_EQ(manager.locationRule("b")->label(), "two");
    // What is not the library's location model is skipped.
    EXPECT_TRUE(manager.locationRulesOf({nullptr}).empty());
}

TEST(DisplayRuleManager, ADeletedLocationOfUnknownIdIsStoredAfreshOnTheNextUpdate) {
    DisplayRuleManagerSwift manager(solutionWith({}));
    // No entry object knows the location: the removal goes by the id alone.
    const auto location = locationOf("gone", "Any", ruleWithLabel("before"));
    awaitRules(manager.updateLocationRules({location}));
    const auto before = manager.locationRule("gone");
    awaitRules(manager.removeLocationRules({"gone", "never-there"}));
    EXPECT_EQ(manager.locationRule("gone"), nullptr);

    location->displayRule = ruleWithLabel("after");
    awaitRules(manager.updateLocationRules({location}));
    ASSERT_NE(manager.locationRule("gone"), nullptr);
    EXPECT_NE(manager.locationRule("gone"), before);
    EXPECT_EQ(manager.locationRule("gone")->label(), "after");
}

TEST(DisplayRuleManager, ARuleTheHostSetsSurvivesUpdatesRacingFromOtherThreads) {
    DisplayRuleManagerSwift manager(solutionWith({}));
    const auto location = locationOf("raced", "Any");
    constexpr int kRounds = 400;
    for (int round = 0; round < kRounds; ++round) {
        awaitRules(manager.removeLocationRules({"raced"}));
        const auto hosts = ruleWithLabel("host " + std::to_string(round));
        std::atomic<bool> go{false};
        std::vector<std::thread> updaters;
        for (int t = 0; t < 3; ++t) {
            updaters.emplace_back([&manager, &location, &go, round] {
                while (!go.load()) std::this_thread::yield();
                test::spinFor(round);
                awaitRules(manager.updateLocationRules({location}));
            });
        }
        std::thread host([&] {
            while (!go.load()) std::this_thread::yield();
            manager.setLocationRule(hosts, "raced");
        });
        go = true;
        host.join();
        for (auto& updater : updaters) updater.join();
        ASSERT_EQ(manager.locationRule("raced"), hosts) << "round " << round;
    }
}

TEST(DisplayRuleManager, LookupsAndVisibilityChangesMayRunWhileRulesAreWritten) {
    DisplayRuleManagerSwift manager(solutionWith({typeNamed("Desk")}));
    awaitRules(manager.updateTypeRules());
    std::vector<std::shared_ptr<CVLocationInternal>> locations;
    for (int i = 0; i < 50; ++i) locations.push_back(locationOf("l" + std::to_string(i), "Desk", ruleWithLabel("x")));

    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            for (int i = 0; i < 50; ++i) {
                if (const auto rule = manager.locationRule("l" + std::to_string(i))) {
                    (void)rule->isVisible();
                    (void)rule->label();
                }
            }
        }
    });
    std::thread hider([&] {
        for (int round = 0; round < 20; ++round) {
            for (const auto& location : locations) location->displayRule->setVisible(round % 2 == 0);
        }
    });
    for (int round = 0; round < 10; ++round) {
        awaitRules(manager.updateLocationRules(Locations(locations.begin(), locations.end())));
        std::vector<std::string> ids;
        for (const auto& location : locations) ids.push_back(location->locationId);
        awaitRules(manager.removeLocationRules(ids));
    }
    hider.join();
    done = true;
    reader.join();
    EXPECT_EQ(manager.locationRules().count(), 0u);
}

}  // namespace
}  // namespace ambrell

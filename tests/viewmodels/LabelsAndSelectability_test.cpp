#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"
#include "data/CVTypeInternal.h"
#include "viewmodels/CVLabelTemplate.h"
#include "viewmodels/CVLocationSelectability.h"
#include "viewmodels/FontStyle.h"

namespace ambrell {
namespace {

CVDisplayRule labelRule(std::optional<std::string> label) {
    CVDisplayRuleData data;
    data.label = std::move(label);
    return CVDisplayRule(data);
}

CVLocationInternal kitchen(std::string externalId = "K-12") {
    CVLocationInternal location;
    location.name = "Kitchen";
    location.externalId = std::move(externalId);
    return location;
}

TEST(LabelTemplate, PlaceholdersTakeTheNameAndTheExternalIdVerbatim) {
    struct Case {
        const char* label;
        const char* name;
        const char* externalId;
        const char* expected;
    };
    for (const auto& [label, name, externalId, expected] : {
             Case{"{{name}} ({{roomId}})", "Kitchen", "K-12", "Kitchen (K-12)"},
             Case{"{{name}} ({{roomId}})", "Kitchen", "", "Kitchen ({{roomId}})"},
             Case{"{{Name}}/{{RoomId}}/{{ExternalId}}/{{externalid}}", "Kitchen", "K-12", "Kitchen/K-12/K-12/K-12"},
             Case{"{{NAME}} {{nAme}} {{roomID}}", "Kitchen", "K-12", "{{NAME}} {{nAme}} {{roomID}}"},
             // The second word's first letter may vary as well as the first's.
             Case{"{{roomid}}/{{Roomid}}", "Kitchen", "K-12", "K-12/K-12"},
             Case{"{{name}}{{name}}", "Ab", "", "AbAb"},
             Case{"{{name", "Kitchen", "", "{{name"},
             Case{"", "Kitchen", "", ""},
             Case{"Fixed text", "Kitchen", "", "Fixed text"},
             // A name is text: "$1" and backslashes stay as they are.
             Case{"{{name}}", "Price $1", "", "Price $1"},
             Case{"{{name}} {{externalId}}", "a\\b $0", "$2\\", "a\\b $0 $2\\"},
             // Filled in one placeholder after the other.
             Case{"{{name}}", "{{roomId}}", "R1", "R1"},
         }) {
        SCOPED_TRACE(label);
        CVLocationInternal location = kitchen(externalId);
        location.name = name;
        EXPECT_EQ(expandedLabel(location, labelRule(label)), expected);
    }
}

TEST(LabelTemplate, ARuleWithoutLabelGivesEmptyTextAndTheLabelResolvesThroughTheChain) {
    EXPECT_EQ(expandedLabel(kitchen(), labelRule(std::nullopt)), "");
    const auto parent = std::make_shared<CVDisplayRule>(labelRule("{{name}}!"));
    const auto rule = CVDisplayRule::withRule(std::make_shared<CVDisplayRule>(), parent);
    EXPECT_EQ(expandedLabel(kitchen(), *rule), "Kitchen!");
}

// An entry object with a solution whose settings the test chooses.
class SolutionEntry : public CVEntryObjectSeam {
public:
    explicit SolutionEntry(std::shared_ptr<CVSolutionInternal> solution) : solution_(std::move(solution)) {}
    std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& /*location*/) const override {
        return nullptr;
    }
    std::shared_ptr<CVSolutionInternal> solution() const override { return solution_; }

private:
    std::shared_ptr<CVSolutionInternal> solution_;
};

class Selectability : public testing::Test {
protected:
    void TearDown() override { CVEntryObjectSeam::install(nullptr); }

    static void installSolutionSaying(std::optional<bool> selectable) {
        auto solution = std::make_shared<CVSolutionInternal>();
        solution->config.emplace().locationSettings = CVLocationSettings{selectable};
        CVEntryObjectSeam::install(std::make_shared<SolutionEntry>(solution));
    }

    static CVLocationInternal locationSaying(std::optional<bool> own, std::optional<bool> ofType) {
        CVLocationInternal location;
        if (own) location.locationSettings = CVLocationSettings{own};
        auto type = std::make_shared<CVTypeInternal>();
        if (ofType) type->locationSettings = CVLocationSettings{ofType};
        location.typeRef = type;
        return location;
    }
};

TEST_F(Selectability, TheMostSpecificSettingThatSaysAnythingWins) {
    using Say = std::optional<bool>;
    struct Case {
        Say own;
        Say ofType;
        Say ofSolution;
        bool expected;
    };
    for (const auto& [own, ofType, ofSolution, expected] : {
             Case{false, true, true, false},
             Case{true, false, false, true},
             Case{Say(), false, true, false},
             Case{Say(), true, false, true},
             Case{Say(), Say(), false, false},
             Case{Say(), Say(), true, true},
             Case{Say(), Say(), Say(), true},
         }) {
        installSolutionSaying(ofSolution);
        EXPECT_EQ(resolvedSelectable(locationSaying(own, ofType)), expected)
            << own.value_or(2) << ofType.value_or(2) << ofSolution.value_or(2);
    }
}

TEST_F(Selectability, WithNoSolutionOrNoEntryObjectALocationIsSelectable) {
    CVEntryObjectSeam::install(nullptr);
    EXPECT_TRUE(resolvedSelectable(CVLocationInternal()));
    CVEntryObjectSeam::install(std::make_shared<SolutionEntry>(nullptr));
    EXPECT_TRUE(resolvedSelectable(CVLocationInternal()));
    EXPECT_FALSE(resolvedSelectable(locationSaying(false, std::nullopt)));
}

TEST(FontStyleOfARule, TakesTheLabelStyleInTheDefaultFontAndClampsItsNumbers) {
    CVDisplayRuleData data;
    data.labelStyleTextSize = 13.7;
    data.labelStyleTextColor = platform::Color::fromRGBA(0.1, 0.2, 0.3);
    data.labelStyleHaloWidth = std::numeric_limits<double>::infinity();
    data.labelStyleHaloBlur = std::numeric_limits<double>::quiet_NaN();
    const FontStyle style{CVDisplayRule(data)};
    EXPECT_EQ(std::tie(style.size, style.haloWidth, style.haloBlur),
              std::tuple(13, std::numeric_limits<std::int64_t>::max(), 0));
    EXPECT_EQ(style.color, data.labelStyleTextColor);
    EXPECT_FALSE(style.haloColor);
    EXPECT_EQ(style.font.family, "ArialMT");
    EXPECT_EQ(style.font.size, platform::Font::systemFontSize);

    // Through the chain, as a location's rule gives them.
    const auto root = std::make_shared<CVDisplayRule>(CVDisplayRuleData::defaultRuleData());
    const FontStyle inherited{*CVDisplayRule::withRule(std::make_shared<CVDisplayRule>(), root)};
    EXPECT_EQ(inherited.size, 12);
    EXPECT_EQ(inherited.haloColor, CVDisplayRuleData::defaultRuleData().labelStyleHaloColor);
    EXPECT_EQ(FontStyle(CVDisplayRule()).size, 0);
}

}  // namespace
}  // namespace ambrell

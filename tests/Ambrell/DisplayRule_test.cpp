#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <tuple>

#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVSaturatingCast.h"
#include "tests/support/JsonEq.h"

namespace ambrell {
namespace {

using platform::Color;

std::shared_ptr<CVDisplayRule> ruleWith(void (*fill)(CVDisplayRuleData&)) {
    CVDisplayRuleData data;
    fill(data);
    return std::make_shared<CVDisplayRule>(data);
}

TEST(DisplayRuleChain, OwnValuesWinOverTheBaseAndTheBaseOverTheParent) {
    auto parent = ruleWith([](CVDisplayRuleData& d) {
        d.label = "parent";
        d.zoomFrom = 10;
        d.badgeRadius = 4;
    });
    auto base = ruleWith([](CVDisplayRuleData& d) {
        d.label = "base";
        d.iconScale = 2;
    });
    const auto rule = CVDisplayRule::withRule(base, parent);
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->label(), "base");
    EXPECT_EQ(rule->iconScale(), 2);
    EXPECT_EQ(rule->zoomFrom(), 10);
    EXPECT_EQ(rule->badgeRadius(), 4);
    EXPECT_FALSE(rule->labelType());  // set nowhere
    EXPECT_EQ(rule->rule(), base);
    EXPECT_EQ(rule->parent(), parent);
    // A rule's own data are its own only.
    EXPECT_EQ(rule->data(), CVDisplayRuleData{});

    // A base that itself has a parent answers through it before the outer parent.
    auto baseParent = ruleWith([](CVDisplayRuleData& d) { d.zoomFrom = 12; });
    const auto nested = CVDisplayRule::withRule(CVDisplayRule::withRule(base, baseParent), parent);
    EXPECT_EQ(nested->zoomFrom(), 12);
}

TEST(DisplayRuleChain, NothingToWrapMakesNoRuleAndACopyKeepsItsValuesUnderTheNewParent) {
    EXPECT_EQ(CVDisplayRule::withRule(nullptr), nullptr);
    EXPECT_EQ(CVDisplayRule::withRule(nullptr, std::make_shared<CVDisplayRule>()), nullptr);
    const auto alone = CVDisplayRule::withRule(std::make_shared<CVDisplayRule>());
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(alone->parent(), nullptr);

    auto oldParent = ruleWith([](CVDisplayRuleData& d) { d.polygonStrokeWidth = 1; });
    auto newParent = ruleWith([](CVDisplayRuleData& d) {
        d.polygonStrokeWidth = 3;
        d.wallsHeight = 7;
    });
    auto base = ruleWith([](CVDisplayRuleData& d) { d.polygonFillColor = Color::fromRGBA(1, 0, 0); });
    const auto rule = CVDisplayRule::withRule(base, oldParent);
    rule->setVisible(false);
    const auto copied = rule->copy(newParent);
    EXPECT_EQ(copied->rule(), base);
    EXPECT_EQ(copied->parent(), newParent);
    EXPECT_EQ(copied->polygonFillColor(), Color::fromRGBA(1, 0, 0));
    EXPECT_EQ(copied->polygonStrokeWidth(), 3);
    EXPECT_EQ(copied->wallsHeight(), 7);
    EXPECT_FALSE(copied->isVisible());
    // The copy is a rule of its own: setting it leaves the original alone.
    copied->setVisible(true);
    EXPECT_FALSE(rule->isVisible());
    EXPECT_EQ(rule->polygonStrokeWidth(), 1);
    EXPECT_EQ(rule->copy(nullptr)->parent(), nullptr);
}

TEST(DisplayRuleChain, VisibilityResolvesLikeEveryValueAndAnUnsetChainIsVisible) {
    auto parent = ruleWith([](CVDisplayRuleData& d) { d.visible = false; });
    auto base = std::make_shared<CVDisplayRule>();
    const auto rule = CVDisplayRule::withRule(base, parent);
    EXPECT_FALSE(rule->isVisible());
    base->setVisible(true);  // the wrapped rule itself, as the manager changes a location's own rule
    EXPECT_TRUE(rule->isVisible());
    rule->setVisible(false);
    EXPECT_EQ(rule->visible(), false);
    EXPECT_EQ(rule->data().visible, false);
    EXPECT_TRUE(CVDisplayRule().isVisible());
    EXPECT_FALSE(CVDisplayRule().visible());
}

TEST(DisplayRuleChain, EmptyRulesOnAChainPassEveryValueThroughAndAnEmptyChainAnswersNothing) {
    auto empty = [] { return std::make_shared<CVDisplayRule>(); };
    // Only visibility set: the rule's values still come from above.
    auto onlyVisible = ruleWith([](CVDisplayRuleData& d) { d.visible = true; });
    const auto emptyChain = CVDisplayRule::withRule(CVDisplayRule::withRule(empty(), onlyVisible), empty());
    EXPECT_FALSE(emptyChain->label());
    EXPECT_FALSE(emptyChain->zoomFrom());
    EXPECT_EQ(emptyChain->visible(), true);

    auto top = ruleWith([](CVDisplayRuleData& d) {
        d.label = "top";
        d.badgeRadius = 5;
    });
    // Empty rules between, as base and as parent, at every depth.
    const auto deep =
        CVDisplayRule::withRule(empty(), CVDisplayRule::withRule(empty(), CVDisplayRule::withRule(onlyVisible, top)));
    EXPECT_EQ(deep->label(), "top");
    EXPECT_EQ(deep->badgeRadius(), 5);
    // An empty chain given a parent with values by copy, and one with a base
    // that has them.
    EXPECT_EQ(emptyChain->copy(top)->label(), "top");
    EXPECT_FALSE(emptyChain->label()) << "the original keeps its parent";
    EXPECT_EQ(CVDisplayRule::withRule(CVDisplayRule::withRule(empty(), top))->badgeRadius(), 5);
    // A value set to NaN is set.
    auto notANumber = ruleWith([](CVDisplayRuleData& d) { d.zoomFrom = std::numeric_limits<double>::quiet_NaN(); });
    EXPECT_TRUE(std::isnan(CVDisplayRule::withRule(notANumber, top)->zoomFrom().value_or(0)));
}

// Every member a document names, under its own name (the icon's URL under
// "icon", as documents always had it).
const std::set<std::string> kAllKeys{"visible",
                                     "clickable",
                                     "zoomFrom",
                                     "zoomTo",
                                     "iconVisible",
                                     "icon",
                                     "iconSize",
                                     "iconScale",
                                     "iconPlacement",
                                     "labelVisible",
                                     "label",
                                     "labelZoomFrom",
                                     "labelZoomTo",
                                     "labelMaxWidth",
                                     "labelType",
                                     "labelStyleTextSize",
                                     "labelStyleTextColor",
                                     "labelStyleHaloColor",
                                     "labelStyleHaloWidth",
                                     "labelStyleHaloBlur",
                                     "labelStyleBearing",
                                     "polygonVisible",
                                     "polygonZoomFrom",
                                     "polygonZoomTo",
                                     "polygonFillColor",
                                     "polygonFillOpacity",
                                     "polygonStrokeColor",
                                     "polygonStrokeOpacity",
                                     "polygonStrokeWidth",
                                     "polygonLightnessFactor",
                                     "wallsVisible",
                                     "wallsZoomFrom",
                                     "wallsZoomTo",
                                     "wallsColor",
                                     "wallsHeight",
                                     "wallsLightnessFactor",
                                     "extrusionVisible",
                                     "extrusionZoomFrom",
                                     "extrusionZoomTo",
                                     "extrusionColor",
                                     "extrusionHeight",
                                     "extrusionLightnessFactor",
                                     "model2DVisible",
                                     "model2DZoomFrom",
                                     "model2DZoomTo",
                                     "model2DModel",
                                     "model2DWidthMeters",
                                     "model2DHeightMeters",
                                     "model2DBearing",
                                     "model3DVisible",
                                     "model3DZoomFrom",
                                     "model3DZoomTo",
                                     "model3DModel",
                                     "model3DScale",
                                     "model3DRotationX",
                                     "model3DRotationY",
                                     "model3DRotationZ",
                                     "badgeVisible",
                                     "badgeZoomFrom",
                                     "badgeZoomTo",
                                     "badgePosition",
                                     "badgeRadius",
                                     "badgeStrokeWidth",
                                     "badgeScale",
                                     "badgeStrokeColor",
                                     "badgeFillColor"};

std::set<std::string> keysOf(const boost::json::object& object) {
    std::set<std::string> keys;
    for (const auto& entry : object) keys.emplace(entry.key());
    return keys;
}

TEST(DisplayRulePresets, TheDefaultSetsEveryMemberButTheIconAndSwitchesTheExtrasOff) {
    const CVDisplayRule rule(CVDisplayRuleData::defaultRuleData());
    auto expected = kAllKeys;
    expected.erase("icon");
    EXPECT_EQ(keysOf(rule.JSONObject()), expected);
    EXPECT_EQ(rule.icon(), nullptr);
    EXPECT_TRUE(rule.isVisible());
    EXPECT_EQ(std::tuple(rule.badgeVisible(), rule.model2DVisible(), rule.model3DVisible(), rule.wallsVisible(),
                         rule.extrusionVisible()),
              std::tuple(false, false, false, false, false));
    EXPECT_EQ(std::tuple(rule.iconVisible(), rule.labelVisible(), rule.polygonVisible()), std::tuple(true, true, true));
    // Colours carry their opacity.
    EXPECT_EQ(rule.polygonFillColor()->alpha, *rule.polygonFillOpacity());
    EXPECT_EQ(rule.polygonStrokeColor()->alpha, *rule.polygonStrokeOpacity());
}

TEST(DisplayRulePresets, StatePresetsSetPolygonColoursAndThePositionItsCircle) {
    for (const auto& data : {CVDisplayRuleData::oldSelectionData(), CVDisplayRuleData::selectionData(),
                             CVDisplayRuleData::highlightData()}) {
        EXPECT_EQ(keysOf(CVDisplayRule(data).JSONObject()),
                  (std::set<std::string>{"polygonFillColor", "polygonFillOpacity", "polygonStrokeColor",
                                         "polygonStrokeOpacity"}));
        EXPECT_EQ(data.polygonFillColor->alpha, *data.polygonFillOpacity);
    }
    EXPECT_NE(CVDisplayRuleData::selectionData(), CVDisplayRuleData::highlightData());
    const auto position = CVDisplayRuleData::userPositionData();
    EXPECT_TRUE(position.polygonFillColor && position.polygonStrokeColor && position.polygonStrokeWidth);
    EXPECT_EQ(position.iconSize, (CGSize{20, 20}));
}

TEST(DisplayRuleDocument, EveryMemberReadsUnderItsNameAndWritesBackTheSame) {
    const auto document = boost::json::parse(R"({
        "visible": true, "clickable": false, "zoomFrom": 16, "zoomTo": 22,
        "iconVisible": true, "icon": "https://x/i.png", "iconSize": {"width": 24, "height": 20},
        "iconScale": 1.5, "iconPlacement": "top-left",
        "labelVisible": true, "label": "{{name}}", "labelZoomFrom": 18, "labelZoomTo": 21, "labelMaxWidth": 90,
        "labelType": "flat", "labelStyleTextSize": 13, "labelStyleTextColor": "#112233",
        "labelStyleHaloColor": "#FFFFFF", "labelStyleHaloWidth": 2, "labelStyleHaloBlur": 1,
        "labelStyleBearing": 45,
        "polygonVisible": true, "polygonZoomFrom": 15, "polygonZoomTo": 23, "polygonFillColor": "#AABBCC",
        "polygonFillOpacity": 0.5, "polygonStrokeColor": "#010203", "polygonStrokeOpacity": 0.25,
        "polygonStrokeWidth": 2, "polygonLightnessFactor": -0.1,
        "wallsVisible": true, "wallsZoomFrom": 19, "wallsZoomTo": 22, "wallsColor": "#445566", "wallsHeight": 3,
        "wallsLightnessFactor": 0.2,
        "extrusionVisible": true, "extrusionZoomFrom": 19, "extrusionZoomTo": 22, "extrusionColor": "#778899",
        "extrusionHeight": 4, "extrusionLightnessFactor": 0.3,
        "model2DVisible": true, "model2DZoomFrom": 17, "model2DZoomTo": 22, "model2DModel": "https://x/m.png",
        "model2DWidthMeters": 7, "model2DHeightMeters": 3.5, "model2DBearing": 90,
        "model3DVisible": true, "model3DZoomFrom": 18, "model3DZoomTo": 22, "model3DModel": "https://x/m.glb",
        "model3DScale": 2, "model3DRotationX": 1, "model3DRotationY": 2, "model3DRotationZ": 3,
        "badgeVisible": true, "badgeZoomFrom": 17, "badgeZoomTo": 22, "badgePosition": "bottomLeft",
        "badgeRadius": 8, "badgeStrokeWidth": 2, "badgeScale": 1, "badgeStrokeColor": "#000000",
        "badgeFillColor": "#FF8000"})");
    EXPECT_EQ(keysOf(document.as_object()), kAllKeys);
    const auto rule = CVDisplayRule::initWithDictionary(document);
    ASSERT_NE(rule, nullptr);
    EXPECT_THAT(boost::json::value(rule->JSONObject()), test::JsonEq(document));

    EXPECT_EQ(rule->iconPlacement(), CVIconPlacement::topLeft);
    EXPECT_EQ(rule->labelType(), CVLabelType::flat);
    EXPECT_EQ(rule->badgePosition(), CVBadgePosition::bottomLeft);
    EXPECT_EQ(rule->badgeRadius(), 8);
    EXPECT_EQ(rule->iconSize(), (CGSize{24, 20}));
    EXPECT_EQ(rule->labelStyleTextColor(), Color::fromRGBA(0x11 / 255.0, 0x22 / 255.0, 0x33 / 255.0));
    // The document keeps the opacity apart; the colour carries it as alpha.
    EXPECT_EQ(rule->polygonFillColor(), Color::fromRGBA(0xAA / 255.0, 0xBB / 255.0, 0xCC / 255.0, 0.5));
    EXPECT_EQ(rule->polygonStrokeColor()->alpha, 0.25);
    EXPECT_EQ(rule->polygonFillOpacity(), 0.5);
}

TEST(DisplayRuleDocument, ColoursAndCasesReadInEveryFormTheyAreWritten) {
    const auto read = [](const char* text) { return CVDisplayRule::initWithDictionary(boost::json::parse(text)); };
    // Raw values stand for the cases; names ignore letter case.
    EXPECT_EQ(read(R"({"labelType": 1, "iconPlacement": "BOTTOM", "badgePosition": 3})")->badgePosition(),
              CVBadgePosition::bottomRight);
    EXPECT_EQ(read(R"({"labelType": 1})")->labelType(), CVLabelType::flat);
    EXPECT_EQ(read(R"({"iconPlacement": "BOTTOM"})")->iconPlacement(), CVIconPlacement::bottom);
    // A colour text that is no colour leaves the colour unset, as UIColor(hex:) gives none.
    EXPECT_FALSE(read(R"({"wallsColor": "red"})")->wallsColor());
    EXPECT_FALSE(read(R"({"wallsColor": "#12345"})")->wallsColor());
    EXPECT_FALSE(read(R"({"wallsColor": "#GG0000"})")->wallsColor());
    // A colour whose alpha its opacity does not carry keeps it in the text.
    CVDisplayRuleData data;
    data.wallsColor = Color::fromRGBA(1, 0, 0, 0.5);
    data.polygonFillColor = Color::fromRGBA(0, 1, 0, 0.2);
    const CVDisplayRule rule(data);
    const auto written = rule.JSONObject();
    EXPECT_EQ(written.at("wallsColor"), "#FF000080");
    EXPECT_EQ(written.at("polygonFillColor"), "#00FF0033");
    const auto back = CVDisplayRule::initWithDictionary(written);
    EXPECT_NEAR(back->wallsColor()->alpha, 0.5, 1.0 / 255);
    EXPECT_NEAR(back->polygonFillColor()->alpha, 0.2, 1.0 / 255);
    // One side of an icon size stands for both; a fractional radius is cut.
    EXPECT_EQ(read(R"({"iconSize": {"width": 30}})")->iconSize(), (CGSize{30, 30}));
    EXPECT_EQ(read(R"({"badgeRadius": 7.9})")->badgeRadius(), 7);
    EXPECT_EQ(read(R"({"badgeRadius": 1e300})")->badgeRadius(), std::numeric_limits<std::int64_t>::max());
}

TEST(DisplayRuleDocument, AValueOfTheWrongKindRefusesTheWholeRule) {
    for (const char* text :
         {R"({"labelType": "upright"})", R"({"labelType": 7})", R"({"iconPlacement": true})",
          R"({"badgePosition": "middle"})", R"({"badgeRadius": "8"})", R"({"labelStyleTextColor": 255})",
          R"({"model2DVisible": "yes"})", R"({"model3DModel": 3})", R"({"wallsHeight": [3]})"}) {
        platform::NSError error;
        EXPECT_EQ(CVDisplayRule::initWithDictionary(boost::json::parse(text), &error), nullptr) << text;
        EXPECT_FALSE(error.localizedDescription().empty()) << text;
    }
}

TEST(DisplayRuleEnums, PlacementsNameTheirInverseAnchor) {
    for (const auto& [placement, name, inverted] :
         {std::tuple(CVIconPlacement::center, "center", "center"), std::tuple(CVIconPlacement::top, "top", "bottom"),
          std::tuple(CVIconPlacement::left, "left", "right"),
          std::tuple(CVIconPlacement::topLeft, "top-left", "bottom-right"),
          std::tuple(CVIconPlacement::bottomRight, "bottom-right", "top-left")}) {
        EXPECT_EQ(iconPlacementName(placement), name);
        EXPECT_EQ(invertedText(placement), inverted);
        EXPECT_EQ(iconPlacementNamed(name), placement);
    }
    EXPECT_EQ(labelTypeName(CVLabelType::flat), "flat");
    EXPECT_FALSE(labelTypeNamed("upright"));
    EXPECT_FALSE(badgePositionNamed("top-right"));
}

// Zoom visibility: the flag, then both bounds, inclusive.
TEST(DisplayRuleZoom, EachKindShowsWithinItsInclusiveBoundsAndOnlyWithItsFlag) {
    using Show = bool (CVDisplayRule::*)(double) const;
    using Flag = std::optional<bool> CVDisplayRuleData::*;
    using Bound = std::optional<double> CVDisplayRuleData::*;
    struct Kind {
        const char* name;
        Show show;
        Flag flag;
        Bound from;
        Bound to;
    };
    for (const auto& kind : {
             Kind{"label", &CVDisplayRule::showLabelWithZoom, &CVDisplayRuleData::labelVisible,
                  &CVDisplayRuleData::labelZoomFrom, &CVDisplayRuleData::labelZoomTo},
             Kind{"polygon", &CVDisplayRule::showPolygonWithZoom, &CVDisplayRuleData::polygonVisible,
                  &CVDisplayRuleData::polygonZoomFrom, &CVDisplayRuleData::polygonZoomTo},
             Kind{"model2D", &CVDisplayRule::showModel2DWithZoom, &CVDisplayRuleData::model2DVisible,
                  &CVDisplayRuleData::model2DZoomFrom, &CVDisplayRuleData::model2DZoomTo},
             Kind{"model3D", &CVDisplayRule::showModel3DWithZoom, &CVDisplayRuleData::model3DVisible,
                  &CVDisplayRuleData::model3DZoomFrom, &CVDisplayRuleData::model3DZoomTo},
             Kind{"extrusion", &CVDisplayRule::showFeatureExtrusionWithZoom, &CVDisplayRuleData::extrusionVisible,
                  &CVDisplayRuleData::extrusionZoomFrom, &CVDisplayRuleData::extrusionZoomTo},
             Kind{"walls", &CVDisplayRule::showWallExtrusionWithZoom, &CVDisplayRuleData::wallsVisible,
                  &CVDisplayRuleData::wallsZoomFrom, &CVDisplayRuleData::wallsZoomTo},
             Kind{"badge", &CVDisplayRule::showBadgeWithZoom, &CVDisplayRuleData::badgeVisible,
                  &CVDisplayRuleData::badgeZoomFrom, &CVDisplayRuleData::badgeZoomTo},
         }) {
        SCOPED_TRACE(kind.name);
        CVDisplayRuleData data;
        data.*kind.flag = true;
        data.*kind.from = 17;
        data.*kind.to = 21;
        data.model2DModel = "https://x/m.png";
        data.model3DModel = "https://x/m.glb";
        const CVDisplayRule rule(data);
        for (const auto& [zoom, shown] : {std::pair(17.0, true), std::pair(21.0, true), std::pair(19.0, true),
                                          std::pair(16.99, false), std::pair(21.01, false)}) {
            EXPECT_EQ((rule.*kind.show)(zoom), shown) << zoom;
        }
        data.*kind.flag = false;
        EXPECT_FALSE((CVDisplayRule(data).*kind.show)(18));
        // A flag that is off is enough: no bound needs to be there.
        data.*kind.from = std::nullopt;
        EXPECT_FALSE((CVDisplayRule(data).*kind.show)(18));
        // A bound unset anywhere in the chain shows nothing.
        data.*kind.flag = true;
        EXPECT_FALSE((CVDisplayRule(data).*kind.show)(18));
        EXPECT_FALSE((CVDisplayRule(data).*kind.show)(std::nan("")));
    }
}

TEST(DisplayRuleZoom, ModelsNeedAModelTextAndTheIconUsesTheRulesOwnRange) {
    CVDisplayRuleData data;
    data.model2DVisible = data.model3DVisible = true;
    data.model2DZoomFrom = data.model3DZoomFrom = 17;
    data.model2DZoomTo = data.model3DZoomTo = 22;
    data.model2DModel = "";
    EXPECT_FALSE(CVDisplayRule(data).showModel2DWithZoom(18));
    EXPECT_FALSE(CVDisplayRule(data).showModel3DWithZoom(18));  // no text at all
    data.model3DModel = "m.glb";
    EXPECT_TRUE(CVDisplayRule(data).showModel3DWithZoom(18));

    data.zoomFrom = 18;
    data.zoomTo = 20;
    data.iconVisible = true;
    const CVDisplayRule rule(data);
    EXPECT_TRUE(rule.showAt(18) && rule.showAt(20));
    EXPECT_FALSE(rule.showAt(17.9) || rule.showAt(20.1));
    EXPECT_TRUE(rule.showIconWithZoom(19));
    EXPECT_FALSE(rule.showIconWithZoom(21));
    data.iconVisible = false;
    EXPECT_FALSE(CVDisplayRule(data).showIconWithZoom(19));
    EXPECT_TRUE(CVDisplayRule(data).showAt(19));
}

TEST(SaturatingCast, TruncatesClampsAndTakesNaNAsZero) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    using Limits = std::numeric_limits<std::int64_t>;
    EXPECT_EQ(std::tuple(saturatingCast<std::int64_t>(3.9), saturatingCast<std::int64_t>(-3.9),
                         saturatingCast<std::int64_t>(std::nan(""))),
              std::tuple(3, -3, 0));
    EXPECT_EQ(std::tuple(saturatingCast<std::int64_t>(inf), saturatingCast<std::int64_t>(-9.3e18)),
              std::tuple(Limits::max(), Limits::min()));
    EXPECT_EQ(saturatingCast<std::int32_t>(3e9), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(saturatingCast<std::uint64_t>(-1.0), 0u);
    EXPECT_EQ(saturatingCast<std::uint8_t>(256.0), 255);
}

}  // namespace
}  // namespace ambrell

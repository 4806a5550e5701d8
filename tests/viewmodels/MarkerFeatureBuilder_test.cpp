#include "viewmodels/MarkerFeatureBuilder.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/Screen.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/viewmodels/FeatureTestLocations.h"
#include "tests/viewmodels/GoldenFeatureText.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell::marker_feature_builder_test {
namespace {

using platform::Color;
using Icon = std::shared_ptr<const platform::Image>;

Icon squareIcon(int side) {
    auto image = platform::Image::create(side, side);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) image->setPixel(x, y, 0xFF3366CC);
    }
    return std::make_shared<const platform::Image>(std::move(*image));
}

// A rule with every member a marker reads: an app icon of 20 points, a
// label shown from zoom 17 to 21, drawn from 18 to 22.
CVDisplayRuleData markerRule() {
    CVDisplayRuleData data;
    data.visible = true;
    data.zoomFrom = 18;
    data.zoomTo = 22;
    data.iconVisible = true;
    data.icon = squareIcon(20);
    data.iconPlacement = CVIconPlacement::top;
    data.labelVisible = true;
    data.label = "{{name}}";
    data.labelZoomFrom = 17;
    data.labelZoomTo = 21;
    data.labelMaxWidth = 120;
    data.labelType = CVLabelType::floating;
    data.labelStyleTextSize = 10;
    data.labelStyleTextColor = Color::fromRGBA(0.2, 0.2, 0.2, 0.8);
    data.labelStyleHaloColor = Color::fromRGBA(1, 1, 1, 1);
    data.labelStyleHaloWidth = 1;
    data.labelStyleHaloBlur = 0;
    data.labelStyleBearing = 0;
    data.badgeVisible = false;
    data.badgeZoomFrom = 18;
    data.badgeZoomTo = 22;
    return data;
}

struct Build {
    std::shared_ptr<CVLocationInternal> location = test::pointLocation("poi-1", "Cafe Nord", 55.6761, 12.5683);
    CVDisplayRuleData rule = markerRule();
    std::optional<FontStyle> fontStyle;
    bool selected = false;
    bool showInfoWindow = true;
    double zoom = 19;
    double cameraBearing = 0;

    [[nodiscard]] ViewModel run() const {
        if (selected) location->state = 1;
        ViewModel viewModel;
        viewModel.id = location->locationId;
        auto displayRule = std::make_shared<const CVDisplayRule>(rule);
        platform::blockingWait(platform::ThreadPool::shared().makeStrand(), [&]() -> platform::Awaitable<void> {
            co_await buildMarkerFeature(*location, displayRule, fontStyle, selected, showInfoWindow, viewModel, zoom,
                                        cameraBearing);
        });
        return viewModel;
    }
};

const CVFeaturePropertyValue* property(const ViewModel& viewModel, CVModelPropertyKey key) {
    if (!viewModel.marker) return nullptr;
    const auto found = viewModel.marker->properties().find(key);
    return found == viewModel.marker->properties().end() ? nullptr : &found->second;
}

Icon iconOf(const ViewModel& viewModel) {
    const auto found = viewModel.data.find(CVModelData::icon);
    if (found == viewModel.data.end()) return nullptr;
    const auto* icon = std::any_cast<Icon>(&found->second);
    return icon == nullptr ? nullptr : *icon;
}

TEST(UprightLabelBearing, TurnsLabelsThatWouldReadUpsideDown) {
    struct Case {
        double rule;
        double camera;
        double expected;
    };
    for (const Case& c :
         {Case{10, 200, 190}, Case{10, 90, 10}, Case{370, 90, 10}, Case{370, 200, 190}, Case{10, 100, 10},
          Case{10, 101, 190}, Case{10, 280, 10}, Case{-30, 0, -30}, Case{180, 0, 360}}) {
        EXPECT_EQ(uprightLabelBearing(c.rule, c.camera), c.expected) << c.rule << " under " << c.camera;
    }
}

TEST(MarkerFeature, GoldenTexts) {
    test::GoldenTexts texts;
    const auto add = [&texts](const std::string& name, const Build& build) {
        const auto viewModel = build.run();
        ASSERT_TRUE(viewModel.marker) << name;
        texts.emplace_back(name, viewModel.marker->toGeoJson(true));
    };

    Build plain;
    add("label and icon", plain);
    for (const double zoom : {17.0, 21.0, 16.99, 21.01}) {
        Build atBound;
        atBound.zoom = zoom;
        add("zoom " + std::to_string(zoom).substr(0, 5), atBound);
    }
    Build emptyLabel;
    emptyLabel.rule.label = "";
    add("empty label", emptyLabel);
    for (const auto& [ruleBearing, cameraBearing] : {std::pair{10.0, 200.0}, {10.0, 90.0}, {370.0, 90.0}}) {
        Build flat;
        flat.rule.labelType = CVLabelType::flat;
        flat.rule.labelStyleBearing = ruleBearing;
        flat.cameraBearing = cameraBearing;
        add("flat label " + std::to_string(int(ruleBearing)) + " under " + std::to_string(int(cameraBearing)), flat);
    }
    Build selected;
    selected.selected = true;
    selected.zoom = 17.5;  // below the icon's range: a selected location still shows it
    add("selected", selected);
    Build colourless;
    colourless.rule.labelStyleTextColor.reset();
    colourless.rule.labelStyleHaloColor.reset();
    add("style without colour", colourless);
    Build badgeOnly;
    badgeOnly.rule.iconVisible = false;
    badgeOnly.rule.badgeVisible = true;
    badgeOnly.rule.badgeRadius = 8;
    badgeOnly.rule.badgeStrokeWidth = 2;
    badgeOnly.rule.badgeScale = 1;
    add("badge without icon", badgeOnly);
    Build southern;
    southern.location = test::pointLocation("poi-2", "Harbour Cafe", -33.8568, 151.2153);
    add("negative latitude", southern);
    Build room;
    room.location = test::roomLocation("room-1", "Room 1", 55.6761, 12.5683);
    add("room area", room);
    Build sizeless;
    sizeless.rule.labelStyleTextSize = 0;
    add("label size 0", sizeless);
    Build hostStyle;
    hostStyle.fontStyle =
        FontStyle(platform::Font{"DejaVu Sans", 14, false}, 16, Color::fromRGBA(1, 0, 0, 1), std::nullopt, 2, 1);
    add("host font style", hostStyle);

    test::expectMatchesGoldenTexts(texts, "markers.txt");
}

TEST(MarkerFeature, LabelShowsWithinBothZoomBoundsOnly) {
    for (const auto& [zoom, shown] : {std::pair{17.0, true}, {21.0, true}, {16.99, false}, {21.01, false}}) {
        Build build;
        build.zoom = zoom;
        const auto viewModel = build.run();
        ASSERT_TRUE(viewModel.marker) << zoom;
        EXPECT_EQ(property(viewModel, CVModelPropertyKey::markerLabel) != nullptr, shown) << zoom;
        EXPECT_EQ(property(viewModel, CVModelPropertyKey::labelSize) != nullptr, shown) << zoom;
        EXPECT_EQ(property(viewModel, CVModelPropertyKey::labelAnchor) != nullptr, shown) << zoom;
        // The info window's text is there either way.
        EXPECT_EQ(std::get<std::string>(*property(viewModel, CVModelPropertyKey::markerLabelInfoWindow)), "Cafe Nord");
    }
    Build hidden;
    hidden.rule.labelVisible = false;
    EXPECT_EQ(property(hidden.run(), CVModelPropertyKey::markerLabel), nullptr);
}

TEST(MarkerFeature, EmptyLabelKeepsOnlyTheInfoWindowText) {
    Build build;
    build.rule.label = "";
    const auto viewModel = build.run();
    EXPECT_EQ(std::get<std::string>(*property(viewModel, CVModelPropertyKey::markerLabelInfoWindow)), "");
    for (const auto key :
         {CVModelPropertyKey::markerLabel, CVModelPropertyKey::labelOffset, CVModelPropertyKey::labelAnchor}) {
        EXPECT_EQ(property(viewModel, key), nullptr) << rawValue(key);
    }
    // The rest of the label style is written: the label is shown, only empty.
    EXPECT_NE(property(viewModel, CVModelPropertyKey::labelSize), nullptr);
}

TEST(MarkerFeature, SelectionOpensTheInfoWindowAndStopsCollisionAndClustering) {
    Build build;
    build.selected = true;
    build.zoom = 17.5;
    auto viewModel = build.run();
    EXPECT_TRUE(viewModel.showInfoWindow);
    EXPECT_FALSE(std::get<bool>(*property(viewModel, CVModelPropertyKey::isCollidable)));
    EXPECT_FALSE(std::get<bool>(*property(viewModel, CVModelPropertyKey::isClusterable)));
    EXPECT_TRUE(std::get<bool>(*property(viewModel, CVModelPropertyKey::clickable)));
    EXPECT_EQ(iconOf(viewModel), build.rule.icon);

    build.showInfoWindow = false;
    EXPECT_FALSE(build.run().showInfoWindow);

    Build normal;
    normal.zoom = 17.5;
    viewModel = normal.run();
    EXPECT_FALSE(viewModel.showInfoWindow);
    EXPECT_TRUE(std::get<bool>(*property(viewModel, CVModelPropertyKey::isCollidable)));
    EXPECT_TRUE(std::get<bool>(*property(viewModel, CVModelPropertyKey::isClusterable)));
    // Outside the icon's zoom range an unselected location has no icon.
    EXPECT_EQ(iconOf(viewModel), nullptr);
    EXPECT_FALSE(std::get<bool>(*property(viewModel, CVModelPropertyKey::hasImage)));
    EXPECT_EQ(std::get<std::string>(*property(viewModel, CVModelPropertyKey::labelAnchor)), "center");
}

TEST(MarkerFeature, NoColourWritesNoColourKeysAndFullOpacity) {
    Build build;
    build.rule.labelStyleTextColor.reset();
    build.rule.labelStyleHaloColor.reset();
    const auto viewModel = build.run();
    EXPECT_EQ(property(viewModel, CVModelPropertyKey::labelColor), nullptr);
    EXPECT_EQ(property(viewModel, CVModelPropertyKey::labelHaloColor), nullptr);
    EXPECT_EQ(std::get<double>(*property(viewModel, CVModelPropertyKey::labelOpacity)), 1.0);
}

TEST(MarkerFeature, LabelOffsetIsHalfTheIconWidthInLabelSizes) {
    platform::Screen::setScale(2);
    Build build;
    build.rule.labelStyleTextSize = 8;
    auto viewModel = build.run();
    platform::Screen::setScale(1);
    EXPECT_EQ(std::get<std::vector<double>>(*property(viewModel, CVModelPropertyKey::labelOffset)),
              (std::vector<double>{1.25, 0}));
    EXPECT_EQ(std::get<std::string>(*property(viewModel, CVModelPropertyKey::labelAnchor)), "left");

    // A label of no size cannot be offset by sizes: it sits on the point,
    // where an infinite offset could not be written at all.
    build.rule.labelStyleTextSize = 0;
    viewModel = build.run();
    EXPECT_EQ(std::get<std::vector<double>>(*property(viewModel, CVModelPropertyKey::labelOffset)),
              (std::vector<double>{0, 0}));
    EXPECT_EQ(viewModel.marker->toGeoJson().find("error"), std::string::npos);
}

TEST(MarkerFeature, LabelNumbersBecomeIntegersClampedAndNaNAsZero) {
    for (const auto& [maxWidth, expected] : {std::pair{120.7, std::uint64_t{120}},
                                             {-5.0, std::uint64_t{0}},
                                             {1e30, UINT64_MAX},
                                             {std::nan(""), std::uint64_t{0}}}) {
        Build build;
        build.rule.labelMaxWidth = maxWidth;
        EXPECT_EQ(std::get<std::uint64_t>(*property(build.run(), CVModelPropertyKey::labelMaxWidth)), expected)
            << maxWidth;
    }
}

TEST(MarkerFeature, SortingAreaIsTheRoomAreaElseTheNegatedLatitude) {
    Build south;
    south.location = test::pointLocation("poi-2", "Harbour Cafe", -33.8568, 151.2153);
    EXPECT_EQ(std::get<double>(*property(south.run(), CVModelPropertyKey::markerGeometryArea)), 33.8568);

    Build room;
    room.location = test::roomLocation("room-1", "Room 1", 55.6761, 12.5683);
    EXPECT_DOUBLE_EQ(std::get<double>(*property(room.run(), CVModelPropertyKey::markerGeometryArea)),
                     room.location->cv_polygon()->area());

    Build flatRoom;
    flatRoom.location = test::roomLocation("room-2", "Room 2", 55.6761, 12.5683, 0);
    EXPECT_EQ(std::get<double>(*property(flatRoom.run(), CVModelPropertyKey::markerGeometryArea)),
              -flatRoom.location->getPosition().latitude());
}

TEST(MarkerFeature, BadgeWithoutIconIsTheRenderedBadgeOrTheBlankImage) {
    Build build;
    build.rule.iconVisible = false;
    build.rule.badgeVisible = true;
    build.rule.badgeRadius = 8;
    build.rule.badgeStrokeWidth = 2;
    build.rule.badgeScale = 1;
    auto viewModel = build.run();
    ASSERT_NE(iconOf(viewModel), nullptr);
    EXPECT_EQ(iconOf(viewModel)->width(), 18);
    EXPECT_TRUE(std::get<bool>(*property(viewModel, CVModelPropertyKey::hasImage)));

    // A badge of no size draws nothing: the blank image stands in.
    build.rule.badgeRadius = 0;
    build.rule.badgeStrokeWidth = 0;
    viewModel = build.run();
    ASSERT_NE(iconOf(viewModel), nullptr);
    EXPECT_EQ(iconOf(viewModel)->width(), 1);
    EXPECT_TRUE(std::get<bool>(*property(viewModel, CVModelPropertyKey::hasImage)));
}

TEST(MarkerFeature, ABadgeOverTheIconWidensTheImage) {
    Build build;
    build.rule.badgeVisible = true;
    build.rule.badgeRadius = 8;
    build.rule.badgeStrokeWidth = 2;
    build.rule.badgeScale = 1;
    const auto viewModel = build.run();
    ASSERT_NE(iconOf(viewModel), nullptr);
    EXPECT_GT(iconOf(viewModel)->width(), 20);
}

}  // namespace
}  // namespace ambrell::marker_feature_builder_test

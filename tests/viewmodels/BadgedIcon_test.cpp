#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLiveUpdate.h"
#include "data/CVLocationInternal.h"
#include "platform/Screen.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/GoldenImage.h"
#include "viewmodels/CVBadgedIcon.h"

namespace ambrell::badged_icon_test {
namespace {

using platform::Color;
using platform::Image;
using ImagePtr = std::shared_ptr<const Image>;
using Clock = std::chrono::system_clock;

constexpr std::uint32_t kRed = 0xFFFF0000;
constexpr std::uint32_t kBlue = 0xFF0000FF;

// Red over blue: an icon drawn upside down shows at once.
ImagePtr twoToneIcon(int side, double scale = 1) {
    auto image = Image::create(side, side, scale).value();
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) image.setPixel(x, y, y < side / 2 ? kRed : kBlue);
    }
    return std::make_shared<const Image>(std::move(image));
}

std::uint32_t opaque(const std::string& hex) {
    const auto color = Color::fromHex(hex).value();
    const auto byte = [](double component) { return static_cast<std::uint32_t>(std::lround(component * 255)); };
    return 0xFF000000 | byte(color.red) << 16 | byte(color.green) << 8 | byte(color.blue);
}

std::shared_ptr<CVLocationInternal> room() {
    auto location = CVLocationInternal::fromString(R"({"id": "room-1", "geometry": {"type": "Point",
        "coordinates": [12.5, 55.7]}, "properties": {"name": "Room", "type": "Office", "floor": 0}})");
    EXPECT_NE(location, nullptr);
    return location;
}

using Update = std::shared_ptr<const CVLiveUpdate>;
const auto kNow = Clock::now();

Update availability(bool available) { return std::make_shared<CVAvailabilityLiveUpdate>(kNow, "room-1", available); }
Update occupancy(std::int64_t people) { return std::make_shared<CVOccupancyLiveUpdate>(kNow, "room-1", people); }
Update temperature(double celsius) { return std::make_shared<CVTemperatureLiveUpdate>(kNow, "room-1", celsius); }
Update co2(double level) { return std::make_shared<CVCO2LiveUpdate>(kNow, "room-1", level); }
Update humidity(double percent) { return std::make_shared<CVHumidityLiveUpdate>(kNow, "room-1", percent); }
Update count(std::int64_t value) { return std::make_shared<CVCountLiveUpdate>(kNow, "room-1", value); }

// Where a badge of `text` in the live badges' font lands on a 20 x 20 icon:
// its rectangle in points of the canvas.
struct Placement {
    double canvasWidth, canvasHeight, x, y, width, height;
};
Placement liveBadgePlacement(const std::string& text, double iconSide = 20) {
    const auto size = platform::measureText(text, platform::Font::systemFont(10));
    const double height = size.height + 4;
    const double width = std::max(size.width + 4, height);
    const double canvasWidth = std::max(iconSide, iconSide * 0.8 + width);
    const double canvasHeight = std::max(iconSide, iconSide * 0.8 + height);
    const double iconX = (canvasWidth - iconSide) / 2;
    const double iconY = (canvasHeight - iconSide) / 2;
    return {canvasWidth, canvasHeight, iconX + iconSide * 0.2 - width / 2, iconY + iconSide * 0.8 - height / 2,
            width,       height};
}

class BadgedIcon : public ::testing::Test {
protected:
    void TearDown() override { platform::Screen::setScale(1.0); }
};

TEST_F(BadgedIcon, EachLiveValueChoosesItsTextAndColour) {
    const struct {
        std::vector<Update> updates;
        std::string text;
        std::string background;
    } rows[] = {
        {{availability(true)}, "\u2713", "#56C281"},
        {{availability(false)}, "X", "#DE1B1B"},
        // Availability and occupancy agreeing give the mark; disagreeing, amber.
        {{availability(true), occupancy(3)}, "3", "#AD5F00"},
        {{availability(true), occupancy(0)}, "\u2713", "#56C281"},
        {{availability(false), occupancy(0)}, "-", "#AD5F00"},
        {{availability(false), occupancy(2)}, "X", "#DE1B1B"},
        // One person is an occupied room already.
        {{availability(false), occupancy(1)}, "X", "#DE1B1B"},
        {{occupancy(0)}, "-", "#1E2025"},
        {{temperature(19), occupancy(4)}, "4", "#1E2025"},
        {{temperature(21.4)}, "21 °C", "#1E2025"},
        {{temperature(22.5), co2(500)}, "22 °C", "#1E2025"},
        {{temperature(-0.4)}, "0 °C", "#1E2025"},
        {{co2(412), humidity(45), count(7)}, "412.0", "#1E2025"},
        {{humidity(45), count(7)}, "45.0 %", "#1E2025"},
        {{count(7)}, "7", "#1E2025"},
    };
    const auto icon = twoToneIcon(20);
    for (const auto& row : rows) {
        const auto location = room();
        for (const auto& update : row.updates) ASSERT_TRUE(location->assignLiveUpdate(update));
        const auto badged = makeLiveDataBadge(*location, icon);

        CVBadgedIconConfiguration expected(icon, row.text, Color::fromHex(row.background).value());
        expected.badgeFont = platform::Font::systemFont(10);
        ASSERT_NE(badged, icon) << row.text;
        EXPECT_EQ(*badged, *CVBadgedIcon::render(expected)) << row.text;

        const auto at = liveBadgePlacement(row.text);
        EXPECT_EQ(badged->width(), static_cast<int>(std::ceil(at.canvasWidth))) << row.text;
        // Inside the badge's left end, left of the text.
        EXPECT_EQ(badged->pixel(static_cast<int>(at.x + 1.5), static_cast<int>(at.y + at.height / 2)),
                  opaque(row.background))
            << row.text;
    }
}

TEST_F(BadgedIcon, WithoutLiveValuesTheVeryIconComesBack) {
    const auto icon = twoToneIcon(20);
    const auto location = room();
    EXPECT_EQ(makeLiveDataBadge(*location, icon), icon);
    // A value of another kind than its domain promises counts as none.
    ASSERT_TRUE(
        location->assignLiveUpdate(std::make_shared<CVLiveUpdate>(CVLiveUpdateTopic{"occupancy"}, kNow, "room-1")));
    ASSERT_TRUE(location->assignLiveUpdate(std::make_shared<CVPositionLiveUpdate>(
        CVLiveUpdateTopic{std::string(CVLiveDomainType::position)}, kNow, "room-1", 55.7, 12.5, 0)));
    EXPECT_EQ(makeLiveDataBadge(*location, icon), icon);
    EXPECT_EQ(makeLiveDataBadge(*location, nullptr), nullptr);
}

TEST_F(BadgedIcon, TheCanvasGrowsEvenlyAroundAnUprightIcon) {
    // A badge of exactly 14 x 14 points on a 20 x 20 icon at (0.2, 0.8).
    const platform::Font font = platform::Font::systemFont(10);
    const float padding = static_cast<float>((14 - platform::measureText("7", font).height) / 2);
    const CVBadgedIconConfiguration configuration(twoToneIcon(20), "7", Color::fromRGBA(1, 1, 1, 1), padding,
                                                  Color::fromRGBA(0, 1, 0, 1), font, {0.2, 0.8});
    const auto badged = CVBadgedIcon::render(configuration);
    ASSERT_EQ(badged->width(), 30);
    ASSERT_EQ(badged->height(), 30);
    // The icon from (5, 5) to (25, 25), red on top: drawn upright.
    EXPECT_EQ(badged->pixel(4, 4), 0u);
    EXPECT_EQ(badged->pixel(5, 5), kRed);
    EXPECT_EQ(badged->pixel(24, 5), kRed);
    EXPECT_EQ(badged->pixel(24, 24), kBlue);
    EXPECT_EQ(badged->pixel(25, 25), 0u);
    // The badge centred on (9, 21): from x 2 to 16, y 14 to 28.
    for (const auto& [x, y] : {std::pair{3, 21}, std::pair{14, 21}, std::pair{9, 15}, std::pair{9, 26}}) {
        EXPECT_EQ(badged->pixel(x, y), 0xFF00FF00) << x << "," << y;
    }
    EXPECT_EQ(badged->pixel(1, 21), 0u);
    EXPECT_EQ(badged->pixel(9, 28), 0u);
}

TEST_F(BadgedIcon, OneCharacterMakesACircleALongTextAPill) {
    const auto icon = twoToneIcon(20);
    const auto green = Color::fromRGBA(0, 1, 0, 1);
    for (const std::string text : {"7", "1234567"}) {
        CVBadgedIconConfiguration configuration(icon, text, green);
        configuration.badgeFont = platform::Font::systemFont(10);
        const auto badged = CVBadgedIcon::render(configuration);
        const auto at = liveBadgePlacement(text);
        const bool pill = text.size() > 1;
        EXPECT_EQ(at.width > at.height, pill) << text;
        EXPECT_EQ(badged->width(), static_cast<int>(std::ceil(at.canvasWidth))) << text;
        // Round ends: the corners of the badge's rectangle stay unpainted
        // (here, outside the icon), the middle of its top edge is painted.
        const int left = static_cast<int>(at.x);
        const int bottom = static_cast<int>(at.y + at.height - 1);
        EXPECT_EQ(badged->pixel(left, bottom), 0u) << text;
        EXPECT_EQ(badged->pixel(static_cast<int>(at.x + at.width / 2), static_cast<int>(at.y + 1)), 0xFF00FF00) << text;
    }
}

TEST_F(BadgedIcon, LiveBadgesDrawForTheScreen) {
    platform::Screen::setScale(2.0);
    const auto location = room();
    ASSERT_TRUE(location->assignLiveUpdate(temperature(21)));
    const auto badged = makeLiveDataBadge(*location, twoToneIcon(40, 2.0));
    EXPECT_EQ(badged->scale(), 2.0);
    test::expectMatchesGolden(*badged, "tests/viewmodels/golden/live-badge-temperature@2x.png");

    ASSERT_TRUE(location->assignLiveUpdate(availability(true)));
    test::expectMatchesGolden(*makeLiveDataBadge(*location, twoToneIcon(40, 2.0)),
                              "tests/viewmodels/golden/live-badge-available@2x.png");
}

TEST_F(BadgedIcon, LiveBadgesDrawAlikeOnManyThreads) {
    const auto location = room();
    ASSERT_TRUE(location->assignLiveUpdate(humidity(45)));
    const auto icon = twoToneIcon(20);
    const auto reference = makeLiveDataBadge(*location, icon);
    std::atomic<int> different{0};
    std::vector<std::thread> drawers;
    for (int i = 0; i < 4; ++i) {
        drawers.emplace_back([&] {
            for (int round = 0; round < 5; ++round) {
                if (*makeLiveDataBadge(*location, icon) != *reference) ++different;
            }
        });
    }
    for (auto& drawer : drawers) drawer.join();
    EXPECT_EQ(different, 0);
}

// A green badge of 14 x 14 points (radius 6, stroke 2) at the corner given.
std::shared_ptr<const CVDisplayRule> ruleBadge(std::optional<CVBadgePosition> position, bool visible = true,
                                               std::int64_t radius = 6) {
    CVDisplayRuleData data;
    data.badgeVisible = visible;
    data.badgePosition = position;
    data.badgeRadius = radius;
    data.badgeStrokeWidth = radius > 0 ? 2 : 0;
    data.badgeScale = 1;
    data.badgeFillColor = Color::fromRGBA(0, 1, 0, 1);
    return std::make_shared<const CVDisplayRule>(std::move(data));
}

ImagePtr withRuleBadge(ImagePtr icon, std::shared_ptr<const CVDisplayRule> rule) {
    return platform::blockingWait(platform::ThreadPool::shared().makeStrand(),
                                  applyRuleBadge(std::move(icon), std::move(rule)));
}

TEST_F(BadgedIcon, RuleBadgesSitAtTheirCorner) {
    const struct {
        std::optional<CVBadgePosition> position;
        int centreX, centreY;
    } corners[] = {
        {CVBadgePosition::topLeft, 9, 9},
        {CVBadgePosition::topRight, 21, 9},
        {CVBadgePosition::bottomLeft, 9, 21},
        {CVBadgePosition::bottomRight, 21, 21},
        {std::nullopt, 21, 9},
    };
    const auto icon = twoToneIcon(20);
    for (const auto& corner : corners) {
        const auto badged = withRuleBadge(icon, ruleBadge(corner.position));
        const auto name = corner.position ? badgePositionName(*corner.position) : "none";
        ASSERT_EQ(badged->width(), 30) << name;
        ASSERT_EQ(badged->height(), 30) << name;
        EXPECT_EQ(badged->pixel(corner.centreX, corner.centreY), 0xFF00FF00) << name;
        // The opposite corner shows the icon, upright.
        const int oppositeX = 30 - corner.centreX;
        const int oppositeY = 30 - corner.centreY;
        EXPECT_EQ(badged->pixel(oppositeX, oppositeY), oppositeY < 15 ? kRed : kBlue) << name;
    }
    test::expectMatchesGolden(*withRuleBadge(icon, ruleBadge(CVBadgePosition::bottomLeft)),
                              "tests/viewmodels/golden/rule-badge-bottom-left.png");
}

TEST_F(BadgedIcon, RuleBadgesHiddenAbsentOrWithoutIcon) {
    const auto icon = twoToneIcon(20);
    EXPECT_EQ(withRuleBadge(icon, ruleBadge(CVBadgePosition::topLeft, false)), icon);
    EXPECT_EQ(withRuleBadge(icon, ruleBadge(CVBadgePosition::topLeft, true, 0)), icon);
    EXPECT_EQ(withRuleBadge(icon, nullptr), icon);
    // Without an icon: the bare badge, hidden or not, else the blank image.
    const auto bare = withRuleBadge(nullptr, ruleBadge(std::nullopt, false));
    EXPECT_EQ(bare->width(), 14);
    EXPECT_EQ(bare->pixel(7, 7), 0xFF00FF00);
    const auto blank = withRuleBadge(nullptr, ruleBadge(std::nullopt, true, 0));
    EXPECT_EQ(blank->width(), 1);
    EXPECT_EQ(blank->pixel(0, 0), 0u);
}

}  // namespace
}  // namespace ambrell::badged_icon_test

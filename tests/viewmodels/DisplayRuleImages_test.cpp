#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Ambrell/CVDisplayRule.h"
#include "data/CVEntrySeams.h"
#include "data/CVImageUrls.h"
#include "data/CVMemoryCache.h"
#include "platform/Screen.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/FakeImageProvider.h"
#include "tests/support/GoldenImage.h"
#include "viewmodels/DisplayRuleImages.h"

namespace ambrell::display_rule_images_test {
namespace {

using platform::Color;
using platform::Image;
using ImagePtr = std::shared_ptr<const Image>;

constexpr const char* kOfficeIcon = "https://media.ambrell.com/icons/office.png";
constexpr const char* kFloorPlan = "https://media.ambrell.com/images/hh-rec.png";

// The entry object as the view models see it: only its image provider.
class ImagesEntry final : public CVEntryObjectSeam {
public:
    explicit ImagesEntry(std::shared_ptr<test::FakeImageProvider> provider) : provider_(std::move(provider)) {}
    std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation&) const override { return nullptr; }
    std::shared_ptr<const CVImageProviderProtocol> imageProvider() const override { return provider_; }

private:
    std::shared_ptr<test::FakeImageProvider> provider_;
};

std::shared_ptr<const CVDisplayRule> ruleWith(CVDisplayRuleData data) {
    return std::make_shared<const CVDisplayRule>(std::move(data));
}

CVDisplayRuleData iconRule(const std::string& url, CGSize size, double scale) {
    CVDisplayRuleData data;
    data.iconUrl = url;
    data.iconSize = size;
    data.iconScale = scale;
    return data;
}

CVDisplayRuleData modelRule(const std::string& url, double widthMetres, double heightMetres) {
    CVDisplayRuleData data;
    data.model2DModel = url;
    data.model2DWidthMeters = widthMetres;
    data.model2DHeightMeters = heightMetres;
    return data;
}

CVDisplayRuleData badgeRule(std::int64_t radius, double strokeWidth, double scale = 1) {
    CVDisplayRuleData data;
    data.badgeRadius = radius;
    data.badgeStrokeWidth = strokeWidth;
    data.badgeScale = scale;
    return data;
}

class DisplayRuleImages : public ::testing::Test {
protected:
    void SetUp() override {
        CVMemoryCache::clearAllCaches();
        CVEntryObjectSeam::install(std::make_shared<ImagesEntry>(provider_));
    }
    void TearDown() override {
        CVEntryObjectSeam::install(nullptr);
        CVMemoryCache::clearAllCaches();
        platform::Screen::setScale(1.0);
    }

    static ImagePtr awaited(platform::Awaitable<ImagePtr> work) {
        return platform::blockingWait(platform::ThreadPool::shared().makeStrand(), std::move(work));
    }
    static ImagePtr icon(std::shared_ptr<const CVDisplayRule> rule) { return awaited(displayRuleIcon(rule)); }
    static ImagePtr model(std::shared_ptr<const CVDisplayRule> rule, std::int64_t limit) {
        return awaited(realized2DModel(rule, limit));
    }
    static ImagePtr badge(std::shared_ptr<const CVDisplayRule> rule) { return awaited(renderedBadge(rule)); }

    std::shared_ptr<test::FakeImageProvider> provider_ = std::make_shared<test::FakeImageProvider>();
};

TEST_F(DisplayRuleImages, AnIconTheAppSetIsUsedAsItIs) {
    auto own = std::make_shared<const Image>(Image::create(7, 3).value());
    auto data = iconRule(kOfficeIcon, CGSize{20, 20}, 1.5);
    data.icon = own;
    EXPECT_EQ(icon(ruleWith(data)), own);
    EXPECT_TRUE(provider_->requests().empty());
    EXPECT_TRUE(CVMemoryCache::iconImageCache().isEmpty());
    // Without an icon nor a URL there is nothing to show.
    EXPECT_EQ(icon(ruleWith(CVDisplayRuleData{})), nullptr);
    EXPECT_EQ(icon(nullptr), nullptr);
    EXPECT_TRUE(provider_->requests().empty());
}

TEST_F(DisplayRuleImages, IconsAreAskedForInPixelsAndCachedInPoints) {
    platform::Screen::setScale(2.0);
    const auto rule = ruleWith(iconRule(kOfficeIcon, CGSize{20, 20}, 1.5));
    const auto first = icon(rule);
    const std::string key = std::string(kOfficeIcon) + "?width=60&height=60&fitMode=cover";

    const auto requests = provider_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].url, key);
    EXPECT_FALSE(requests[0].size);
    EXPECT_EQ(requests[1].url, key);
    ASSERT_TRUE(requests[1].size);
    EXPECT_EQ(requests[1].size->width, 60);
    EXPECT_EQ(requests[1].size->height, 60);
    // The sample's 8 x 8 icon redrawn at 30 x 30 points for a screen of 2.
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width(), 60);
    EXPECT_EQ(first->height(), 60);
    EXPECT_EQ(first->scale(), 2.0);
    EXPECT_EQ(CVMemoryCache::iconImageCache().value(key), first);
    EXPECT_EQ(CVMemoryCache::iconImageCache().totalCost(), 60 * 60 * 4);

    // Cached: the very image again, with nothing asked.
    EXPECT_EQ(icon(rule), first);
    EXPECT_EQ(provider_->requests().size(), 2u);
    // Another size of the same URL is another entry.
    const auto larger = icon(ruleWith(iconRule(kOfficeIcon, CGSize{24, 24}, 1)));
    EXPECT_EQ(larger->width(), 48);
    EXPECT_EQ(CVMemoryCache::iconImageCache().count(), 2);
}

TEST_F(DisplayRuleImages, ConcurrentCallersShareTheCaches) {
    const auto small = ruleWith(iconRule(kOfficeIcon, CGSize{10, 10}, 1));
    const auto large = ruleWith(iconRule(kOfficeIcon, CGSize{30, 30}, 1));
    const auto plan = ruleWith(modelRule(kFloorPlan, 7, 3.5));
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 6; ++i) {
        callers.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round) {
                if (icon(i % 2 == 0 ? small : large)->width() != (i % 2 == 0 ? 10 : 30)) ++wrong;
                if (model(plan, 300)->width() != 300) ++wrong;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(CVMemoryCache::iconImageCache().count(), 2);
    EXPECT_EQ(CVMemoryCache::modelImageCache().count(), 1);
}

TEST_F(DisplayRuleImages, AnIconOnTheDeviceIsNotDownloaded) {
    provider_->setBundledImagesAreLocal(true);
    const auto found = icon(ruleWith(iconRule(kOfficeIcon, CGSize{16, 16}, 1)));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->width(), 16);
    EXPECT_EQ(provider_->localCalls(), 1);
    EXPECT_EQ(provider_->downloadCalls(), 0);
    // The size as it is: no redrawing.
    provider_->serveLocally("https://photos.example.com/p.png", Image::create(12, 10).value());
    const auto asIs = icon(ruleWith(iconRule("https://photos.example.com/p.png", CGSize{12, 10}, 1)));
    EXPECT_EQ(asIs->width(), 12);
    EXPECT_EQ(asIs->height(), 10);
}

TEST_F(DisplayRuleImages, AFailedIconIsLoggedOnceAndStaysBlank) {
    provider_->setFailing(true);
    const auto rule = ruleWith(iconRule(kOfficeIcon, CGSize{20, 20}, 1));
    const std::string key = std::string(kOfficeIcon) + "?width=20&height=20&fitMode=cover";
    test::ScopedLogCapture log;
    const auto blank = icon(rule);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->width(), 1);
    EXPECT_EQ(blank->scale(), 1.0);
    EXPECT_EQ(blank->pixel(0, 0), 0u);
    ASSERT_EQ(log.sink().messages().size(), 1u);
    EXPECT_EQ(log.sink().messages()[0].message, "Unable to download icon image asset from: " + key);
    EXPECT_EQ(log.sink().messages()[0].level, platform::LogLevel::error);

    // The blank image stays: later requests neither ask nor log, even once
    // the network is back.
    provider_->setFailing(false);
    const auto requests = provider_->requests().size();
    EXPECT_EQ(icon(rule), blank);
    EXPECT_EQ(provider_->requests().size(), requests);
    EXPECT_EQ(log.sink().messages().size(), 1u);
}

TEST_F(DisplayRuleImages, IconsWithoutAnEntryObjectAreBlankAndAskedForAgainLater) {
    CVEntryObjectSeam::install(nullptr);
    const auto rule = ruleWith(iconRule(kOfficeIcon, CGSize{20, 20}, 1));
    test::ScopedLogCapture log;
    EXPECT_EQ(icon(rule)->width(), 1);
    EXPECT_TRUE(log.sink().contains("Unable to download icon image asset from: "));
    EXPECT_TRUE(CVMemoryCache::iconImageCache().isEmpty());
    CVEntryObjectSeam::install(std::make_shared<ImagesEntry>(provider_));
    EXPECT_EQ(icon(rule)->width(), 20);
}

TEST_F(DisplayRuleImages, ModelsAreFittedToTheResolutionLimit) {
    const struct {
        double widthMetres, heightMetres;
        std::int64_t limit;
        int width, height;
    } cases[] = {
        {7, 3.5, 300, 300, 150},
        // 1.4 / 0.014 is just below 100 in double precision.
        {2.1, 1.4, 1000, 150, 99},
        {3.5, 7, 100, 50, 100},
    };
    for (const auto& c : cases) {
        CVMemoryCache::clearAllCaches();
        const auto requests = provider_->requests().size();
        const auto image = model(ruleWith(modelRule(kFloorPlan, c.widthMetres, c.heightMetres)), c.limit);
        ASSERT_NE(image, nullptr) << c.widthMetres;
        EXPECT_EQ(image->width(), c.width) << c.widthMetres;
        EXPECT_EQ(image->height(), c.height) << c.widthMetres;
        // Asked for at that size under the URL as it is, and cached there.
        const auto asked = provider_->requests().back();
        EXPECT_EQ(provider_->requests().size(), requests + 2);
        EXPECT_EQ(asked.url, kFloorPlan);
        EXPECT_EQ(asked.size->width, c.width);
        EXPECT_EQ(asked.size->height, c.height);
        EXPECT_EQ(CVMemoryCache::modelImageCache().value(kFloorPlan), image);
    }
    // The key has no size: another size finds the cached image.
    EXPECT_EQ(model(ruleWith(modelRule(kFloorPlan, 1, 1)), 10)->width(), 50);
}

TEST_F(DisplayRuleImages, ModelsWithoutAUrlOrAFiniteSizeGiveNoImage) {
    test::ScopedLogCapture log;
    EXPECT_EQ(model(ruleWith(modelRule("", 7, 3.5)), 300), nullptr);
    EXPECT_EQ(model(ruleWith(CVDisplayRuleData{}), 300), nullptr);
    EXPECT_TRUE(log.sink().messages().empty());

    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [width, height] : {std::pair{inf, 1.0}, std::pair{1.0, std::nan("")}, std::pair{1e300, 1.0}}) {
        EXPECT_EQ(model(ruleWith(modelRule(kFloorPlan, width, height)), 300), nullptr) << width << "x" << height;
    }
    EXPECT_EQ(log.sink().messages().size(), 3u);
    EXPECT_TRUE(log.sink().contains(kFloorPlan));
    EXPECT_TRUE(provider_->requests().empty());

    provider_->setFailing(true);
    EXPECT_EQ(model(ruleWith(modelRule(kFloorPlan, 7, 3.5)), 300)->width(), 1);
    EXPECT_TRUE(log.sink().contains(std::string("Unable to download 2D model image asset from: ") + kFloorPlan));
}

TEST_F(DisplayRuleImages, ImagesAtHandAreWhatTheLookUpsGiveWithoutFetching) {
    const auto office = ruleWith(iconRule(kOfficeIcon, CGSize{20, 20}, 1));
    const auto floorPlan = ruleWith(modelRule(kFloorPlan, 7, 3.5));
    EXPECT_FALSE(displayRuleIconAtHand(*office)) << "still to be fetched";
    EXPECT_FALSE(realized2DModelAtHand(*floorPlan, 300));
    const auto fetchedIcon = icon(office);
    const auto fetchedModel = model(floorPlan, 300);
    EXPECT_EQ(displayRuleIconAtHand(*office), fetchedIcon);
    EXPECT_EQ(realized2DModelAtHand(*floorPlan, 300), fetchedModel);

    // The app's icon, and no image for a rule that names none.
    auto data = iconRule(kOfficeIcon, CGSize{20, 20}, 1);
    data.icon = std::make_shared<const Image>(Image::create(7, 3).value());
    EXPECT_EQ(displayRuleIconAtHand(*ruleWith(data)), data.icon);
    EXPECT_EQ(displayRuleIconAtHand(CVDisplayRule()), ImagePtr());
    EXPECT_EQ(realized2DModelAtHand(CVDisplayRule(), 300), ImagePtr());
    // A size the look-up would log as unfit is left to it.
    EXPECT_FALSE(realized2DModelAtHand(*ruleWith(modelRule(kFloorPlan, std::nan(""), 1)), 300));
    // Another media host writes other keys: not at hand.
    setImageMediaHost("elsewhere.example.com");
    EXPECT_FALSE(displayRuleIconAtHand(*office));
    setImageMediaHost("media.ambrell.com");
    EXPECT_EQ(displayRuleIconAtHand(*office), fetchedIcon);
    EXPECT_EQ(provider_->requests().size(), 4u) << "nothing asked for but the two fetches";
}

TEST_F(DisplayRuleImages, BadgesAreRingedCircles) {
    const auto drawn = badge(ruleWith(badgeRule(8, 2)));
    ASSERT_NE(drawn, nullptr);
    EXPECT_EQ(drawn->width(), 18);
    EXPECT_EQ(drawn->height(), 18);
    // White inside a black ring one point wide, by default.
    EXPECT_EQ(drawn->pixel(9, 9), 0xFFFFFFFF);
    EXPECT_GE(drawn->pixel(0, 9) >> 24, 0xF0u);
    EXPECT_LE(drawn->pixel(0, 9) >> 16 & 0xFF, 0x10u);
    EXPECT_EQ(drawn->pixel(0, 0), 0u);
    test::expectMatchesGolden(*drawn, "tests/viewmodels/golden/badge-r8-w2.png");

    platform::Screen::setScale(2.0);
    auto coloured = badgeRule(6, 4, 1.5);
    coloured.badgeFillColor = Color::fromRGBA(0, 0.5, 1, 1);
    coloured.badgeStrokeColor = Color::fromRGBA(1, 0, 0, 0.5);
    const auto large = badge(ruleWith(coloured));
    EXPECT_EQ(large->width(), 48);
    EXPECT_EQ(large->scale(), 2.0);
    test::expectMatchesGolden(*large, "tests/viewmodels/golden/badge-r6-w4-scale1.5@2x.png");

    EXPECT_EQ(badge(ruleWith(badgeRule(0, 0))), nullptr);
    EXPECT_EQ(badge(ruleWith(badgeRule(8, 2, 0))), nullptr);
    EXPECT_EQ(badge(ruleWith(badgeRule(-3, 2))), nullptr);
}

TEST_F(DisplayRuleImages, CompletionFormsHandTheImageOver) {
    std::promise<ImagePtr> badgeDone, modelDone, noneDone;
    const auto into = [](std::promise<ImagePtr>& done) { return [&done](ImagePtr image) { done.set_value(image); }; };
    renderedBadgeWithCompletionHandler(ruleWith(badgeRule(8, 2)), into(badgeDone));
    realized2DModelWithMaxResolution(ruleWith(modelRule(kFloorPlan, 7, 3.5)), 300, into(modelDone));
    realized2DModelWithMaxResolution(ruleWith(CVDisplayRuleData{}), 300, into(noneDone));
    EXPECT_EQ(badgeDone.get_future().get()->width(), 18);
    EXPECT_EQ(modelDone.get_future().get()->width(), 300);
    EXPECT_EQ(noneDone.get_future().get(), nullptr);
}

}  // namespace
}  // namespace ambrell::display_rule_images_test

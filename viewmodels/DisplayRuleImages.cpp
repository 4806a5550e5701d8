#include "viewmodels/DisplayRuleImages.h"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLog.h"
#include "data/CVEntrySeams.h"
#include "data/CVImageProvider.h"
#include "data/CVImageUrls.h"
#include "data/CVMemoryCache.h"
#include "platform/Screen.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/CompletionForm.h"
#include "routemodel/FitSizeToMaxDimension.h"
#include "viewmodels/ImageCanvas.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell {

namespace display_rule_images {
namespace {

using ImagePtr = std::shared_ptr<const platform::Image>;
using ImageHandler = std::function<void(ImagePtr)>;

constexpr std::string_view kIconFailure = "Unable to download icon image asset from: ";
constexpr std::string_view kModelFailure = "Unable to download 2D model image asset from: ";

std::shared_ptr<const CVImageProviderProtocol> imageProvider() {
    const auto entry = CVEntryObjectSeam::installed();
    return entry ? entry->imageProvider() : nullptr;
}

// A provider's answer, or none for any failure but cancellation, which ends
// the caller too.
platform::Awaitable<std::optional<platform::Image>> localImage(const CVImageProviderProtocol& provider,
                                                               std::string key) {
    try {
        co_return co_await provider.getLocalImageFromUrlString(std::move(key));
    } catch (const platform::CancellationError&) {
        throw;
    } catch (...) {
        co_return std::nullopt;
    }
}

platform::Awaitable<std::optional<platform::Image>> downloadedImage(const CVImageProviderProtocol& provider,
                                                                    std::string key, CVImageSize size) {
    try {
        co_return co_await provider.imageFromUrlString(std::move(key), size);
    } catch (const platform::CancellationError&) {
        throw;
    } catch (...) {
        co_return std::nullopt;
    }
}

// The cached image of the key; else the provider's, from the device or
// downloaded at `requested` pixels, redrawn at `drawn` points and cached;
// else the blank image, cached, after one log line.
platform::Awaitable<ImagePtr> cachedImage(CVMemoryCache::ImageCache& cache, std::string key, CVImageSize requested,
                                          CGSize drawn, std::string_view failure) {
    if (auto hit = cache.value(key)) co_return *hit;
    const auto provider = imageProvider();
    std::optional<platform::Image> image;
    if (provider) {
        image = co_await localImage(*provider, key);
        if (!image) image = co_await downloadedImage(*provider, key, requested);
    }
    if (!image) {
        CVLog::core().error("{}{}", failure, key);
        auto blank = blankImage();
        // Before a load there is no provider to ask: nothing is cached, so
        // the first render after it fetches.
        if (provider) setImage(cache, blank, key);
        co_return blank;
    }
    auto redrawn = resized(std::make_shared<const platform::Image>(std::move(*image)), drawn);
    setImage(cache, redrawn, key);
    co_return redrawn;
}

// Whole pixels of a side in metres, or none when they are no finite 64-bit
// integer.
std::optional<double> modelPixels(double metres) {
    const double pixels = std::trunc(metres / kModel2DMetresPerPixel);
    if (!std::isfinite(pixels) || std::fabs(pixels) >= 9.2e18) return std::nullopt;
    return pixels;
}

ImagePtr drawBadge(const CVDisplayRule& rule) {
    const double radius = static_cast<double>(rule.badgeRadius().value_or(0));
    const double halfStroke = rule.badgeStrokeWidth().value_or(0) * 0.5;
    const double side = rule.badgeScale().value_or(1) * (2 * radius + 2 * halfStroke);
    if (!(side > 0)) return nullptr;
    auto canvas = ImageCanvas::create(CGSize{side, side}, platform::Screen::scale());
    if (!canvas) return nullptr;
    canvas->fillEllipse(CanvasRect{0, 0, side, side},
                        rule.badgeFillColor().value_or(platform::Color::fromRGBA(1, 1, 1, 1)));
    // Half the stroke width, inset by half of that: the ring lies inside the
    // filled circle.
    canvas->strokeEllipse(CanvasRect{halfStroke / 2, halfStroke / 2, side - halfStroke, side - halfStroke}, halfStroke,
                          rule.badgeStrokeColor().value_or(platform::Color::fromRGBA(0, 0, 0, 1)));
    return std::make_shared<const platform::Image>(std::move(*canvas).image());
}

void complete(platform::Awaitable<ImagePtr> operation, ImageHandler handler) {
    auto shared = std::make_shared<ImageHandler>(std::move(handler));
    platform::completeOn(
        platform::CompletionQueue::workingTask, std::move(operation),
        [shared](ImagePtr image) {
            if (*shared) (*shared)(std::move(image));
        },
        [shared](const std::exception_ptr&) {
            if (*shared) (*shared)(nullptr);
        });
}

}  // namespace
}  // namespace display_rule_images

platform::Awaitable<std::shared_ptr<const platform::Image>> displayRuleIcon(std::shared_ptr<const CVDisplayRule> rule) {
    if (!rule) co_return nullptr;
    const CGSize iconSize = rule->iconSize().value_or(CGSize{});
    const double iconScale = rule->iconScale().value_or(1);
    const double screenScale = platform::Screen::scale();
    if (auto icon = rule->icon()) co_return icon;
    const auto iconUrl = rule->iconUrl();
    if (!iconUrl) co_return nullptr;
    const auto url = imageUrlFromString(*iconUrl);
    if (!url) co_return nullptr;

    const CGSize points{iconSize.width * iconScale, iconSize.height * iconScale};
    const CVImageSize pixels{points.width * screenScale, points.height * screenScale};
    auto key = withImageSize(*url, pixels.width, pixels.height);
    co_return co_await display_rule_images::cachedImage(CVMemoryCache::iconImageCache(), std::move(key), pixels, points,
                                                        display_rule_images::kIconFailure);
}

platform::Awaitable<std::shared_ptr<const platform::Image>> realized2DModel(std::shared_ptr<const CVDisplayRule> rule,
                                                                            std::int64_t maxResolution) {
    if (!rule) co_return nullptr;
    const auto url = imageUrlFromString(rule->model2DModel().value_or(""));
    if (!url) co_return nullptr;
    const double widthMetres = rule->model2DWidthMeters().value_or(0);
    const double heightMetres = rule->model2DHeightMeters().value_or(0);
    const auto width = display_rule_images::modelPixels(widthMetres);
    const auto height = display_rule_images::modelPixels(heightMetres);
    if (!width || !height) {
        CVLog::core().error("The 2D model {} measures {} m x {} m, which no image can have", *url, widthMetres,
                            heightMetres);
        co_return nullptr;
    }
    const auto target = fitSizeToMaxDimension(static_cast<double>(maxResolution), *width, *height);
    co_return co_await display_rule_images::cachedImage(
        CVMemoryCache::modelImageCache(), *url, CVImageSize{target.width, target.height},
        CGSize{target.width, target.height}, display_rule_images::kModelFailure);
}

void realized2DModelWithMaxResolution(std::shared_ptr<const CVDisplayRule> rule, std::int64_t maxResolution,
                                      std::function<void(std::shared_ptr<const platform::Image>)> completionHandler) {
    display_rule_images::complete(realized2DModel(std::move(rule), maxResolution), std::move(completionHandler));
}

platform::Awaitable<std::shared_ptr<const platform::Image>> renderedBadge(std::shared_ptr<const CVDisplayRule> rule) {
    co_return rule ? display_rule_images::drawBadge(*rule) : nullptr;
}

void renderedBadgeWithCompletionHandler(std::shared_ptr<const CVDisplayRule> rule,
                                        std::function<void(std::shared_ptr<const platform::Image>)> completionHandler) {
    display_rule_images::complete(renderedBadge(std::move(rule)), std::move(completionHandler));
}

std::shared_ptr<const platform::Image> blankImage() { return transparentPixel(); }

}  // namespace ambrell

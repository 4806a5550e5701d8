#include "viewmodels/DisplayRuleImages.h"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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

// What an icon look-up needs: the app's own image, or the cache key of the
// icon's URL at its size with the sizes to fetch and draw it at; neither when
// the rule names no usable icon.
struct IconRequest {
    ImagePtr image;
    std::optional<std::string> key;
    CVImageSize pixels;
    CGSize points;
};

// The cache key of an icon URL text at a size in pixels, as withImageSize
// gives it for the URL the text parses to; none when it parses to none.
// Every render asks this for each location with an icon, mostly for the few
// icons of a solution's types: each thread keeps its last answers by URL
// text, so that those are parsed and written once.
std::optional<std::string> iconCacheKey(const std::string& iconUrl, const CVImageSize& pixels) {
    struct Known {
        std::optional<std::string> url;
        // What the key was written for: the sizes and the media host, which
        // decides whether the sizes go into it.
        CVImageSize pixels{};
        std::string host;
        std::optional<std::string> key;
    };
    constexpr std::size_t kKnownLimit = 512;
    thread_local std::unordered_map<std::string, Known> known;
    std::string host = imageMediaHost();
    auto found = known.find(iconUrl);
    if (found == known.end()) {
        if (known.size() >= kKnownLimit) known.clear();
        found = known.emplace(iconUrl, Known{imageUrlFromString(iconUrl), {}, {}, std::nullopt}).first;
    } else if (found->second.key && found->second.pixels.width == pixels.width &&
               found->second.pixels.height == pixels.height && found->second.host == host) {
        return found->second.key;
    }
    Known& entry = found->second;
    if (!entry.url) return std::nullopt;
    entry.pixels = pixels;
    entry.host = std::move(host);
    entry.key = withImageSize(*entry.url, pixels.width, pixels.height);
    return entry.key;
}

IconRequest iconRequest(const CVDisplayRule& rule) {
    IconRequest request;
    if ((request.image = rule.icon())) return request;
    const auto iconUrl = rule.iconUrl();
    if (!iconUrl) return request;
    const CGSize iconSize = rule.iconSize().value_or(CGSize{});
    const double iconScale = rule.iconScale().value_or(1);
    const double screenScale = platform::Screen::scale();
    request.points = CGSize{iconSize.width * iconScale, iconSize.height * iconScale};
    request.pixels = CVImageSize{request.points.width * screenScale, request.points.height * screenScale};
    request.key = iconCacheKey(*iconUrl, request.pixels);
    return request;
}

// A 2D model's URL with its size in pixels, none when a size in metres gives
// no whole number of pixels; no request without a model URL.
struct ModelRequest {
    std::string url;
    std::optional<CGSize> target;
    double widthMetres = 0;
    double heightMetres = 0;
};

std::optional<ModelRequest> modelRequest(const CVDisplayRule& rule, std::int64_t maxResolution) {
    auto url = imageUrlFromString(rule.model2DModel().value_or(""));
    if (!url) return std::nullopt;
    ModelRequest request{std::move(*url), std::nullopt, rule.model2DWidthMeters().value_or(0),
                         rule.model2DHeightMeters().value_or(0)};
    const auto width = modelPixels(request.widthMetres);
    const auto height = modelPixels(request.heightMetres);
    if (width && height) {
        const auto fitted = fitSizeToMaxDimension(static_cast<double>(maxResolution), *width, *height);
        request.target = CGSize{fitted.width, fitted.height};
    }
    return request;
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
    auto request = display_rule_images::iconRequest(*rule);
    if (request.image || !request.key) co_return request.image;
    co_return co_await display_rule_images::cachedImage(CVMemoryCache::iconImageCache(), std::move(*request.key),
                                                        request.pixels, request.points,
                                                        display_rule_images::kIconFailure);
}

std::optional<std::shared_ptr<const platform::Image>> displayRuleIconAtHand(const CVDisplayRule& rule) {
    const auto request = display_rule_images::iconRequest(rule);
    if (request.image || !request.key) return request.image;
    return CVMemoryCache::iconImageCache().value(*request.key);
}

platform::Awaitable<std::shared_ptr<const platform::Image>> realized2DModel(std::shared_ptr<const CVDisplayRule> rule,
                                                                            std::int64_t maxResolution) {
    if (!rule) co_return nullptr;
    auto request = display_rule_images::modelRequest(*rule, maxResolution);
    if (!request) co_return nullptr;
    if (!request->target) {
        CVLog::core().error("The 2D model {} measures {} m x {} m, which no image can have", request->url,
                            request->widthMetres, request->heightMetres);
        co_return nullptr;
    }
    const CGSize target = *request->target;
    co_return co_await display_rule_images::cachedImage(CVMemoryCache::modelImageCache(), std::move(request->url),
                                                        CVImageSize{target.width, target.height}, target,
                                                        display_rule_images::kModelFailure);
}

std::optional<std::shared_ptr<const platform::Image>> realized2DModelAtHand(const CVDisplayRule& rule,
                                                                            std::int64_t maxResolution) {
    const auto request = display_rule_images::modelRequest(rule, maxResolution);
    if (!request) return std::shared_ptr<const platform::Image>();
    // An unfit size is left to realized2DModel, which logs it.
    if (!request->target) return std::nullopt;
    return CVMemoryCache::modelImageCache().value(request->url);
}

void realized2DModelWithMaxResolution(std::shared_ptr<const CVDisplayRule> rule, std::int64_t maxResolution,
                                      std::function<void(std::shared_ptr<const platform::Image>)> completionHandler) {
    display_rule_images::complete(realized2DModel(std::move(rule), maxResolution), std::move(completionHandler));
}

platform::Awaitable<std::shared_ptr<const platform::Image>> renderedBadge(std::shared_ptr<const CVDisplayRule> rule) {
    co_return rule ? display_rule_images::drawBadge(*rule) : nullptr;
}

std::shared_ptr<const platform::Image> drawnBadge(const CVDisplayRule& rule) {
    return display_rule_images::drawBadge(rule);
}

void renderedBadgeWithCompletionHandler(std::shared_ptr<const CVDisplayRule> rule,
                                        std::function<void(std::shared_ptr<const platform::Image>)> completionHandler) {
    display_rule_images::complete(renderedBadge(std::move(rule)), std::move(completionHandler));
}

std::shared_ptr<const platform::Image> blankImage() { return transparentPixel(); }

}  // namespace ambrell

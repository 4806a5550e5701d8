#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Image.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class CVDisplayRule;

// The images a display rule names or draws, for the map: its icon, its 2D
// model (a picture laid flat on the floor, sized in metres) and its round
// badge. Icons and 2D models come from the entry object's image provider and
// stay in the shared icon and 2D-model image caches (CVMemoryCache), so that
// every render after the first finds them at once. A download that fails is
// logged once and replaced by the blank image, which stays cached like a real
// one: later requests neither retry nor log until the caches are cleared (a
// reset, a memory warning). Two callers missing one key at once both fetch;
// the later store wins.
//
// All run on the calling task's executor and are safe from any thread; they
// read the main screen's scale where they are, without going to the main
// queue.

// How many metres one pixel of a 2D-model image covers.
inline constexpr double kModel2DMetresPerPixel = 0.014;

// The rule's own icon when the app set one (as it is: never resized nor
// cached); else the icon its URL names, drawn at the rule's icon size times
// its icon scale, in points, for the main screen. It is asked for at that
// size in pixels, and cached by the URL asking for that size, so that one URL
// used at two sizes is cached twice. None without an icon URL or when the
// size has a side of 0 or less (not 0 x 0, which keeps the image as it is).
[[nodiscard]] platform::Awaitable<std::shared_ptr<const platform::Image>> displayRuleIcon(
    std::shared_ptr<const CVDisplayRule> rule);

// What displayRuleIcon gives when that needs no fetch: the app's icon, none
// when the rule names no usable icon, or the cached image; std::nullopt when
// the icon is still to be fetched. Never waits nor logs.
[[nodiscard]] std::optional<std::shared_ptr<const platform::Image>> displayRuleIconAtHand(const CVDisplayRule& rule);

// The rule's 2D model at one pixel per 0.014 m of its width and height in
// metres (truncated), scaled down to fit `maxResolution` pixels on its
// longer side, as points for the main screen. Cached by the model's URL
// whatever the size. None without a 2D-model URL; none, with an error logged,
// when a size in metres gives no finite whole number of pixels.
[[nodiscard]] platform::Awaitable<std::shared_ptr<const platform::Image>> realized2DModel(
    std::shared_ptr<const CVDisplayRule> rule, std::int64_t maxResolution);
// What realized2DModel gives when that needs no fetch, as
// displayRuleIconAtHand; std::nullopt too for a size it would log as unfit.
[[nodiscard]] std::optional<std::shared_ptr<const platform::Image>> realized2DModelAtHand(const CVDisplayRule& rule,
                                                                                          std::int64_t maxResolution);
// The completion form: runs realized2DModel in a task of its own and calls the
// handler once, from that task.
void realized2DModelWithMaxResolution(std::shared_ptr<const CVDisplayRule> rule, std::int64_t maxResolution,
                                      std::function<void(std::shared_ptr<const platform::Image>)> completionHandler);

// The rule's badge: a circle of the badge radius plus half the stroke width,
// times the badge scale, filled with the badge fill colour (white when
// unset) and ringed with the stroke colour (black when unset) in a line half
// the stroke width wide, drawn for the main screen. None when that side is 0
// or less. Nothing is fetched nor cached.
[[nodiscard]] platform::Awaitable<std::shared_ptr<const platform::Image>> renderedBadge(
    std::shared_ptr<const CVDisplayRule> rule);
// The same badge, drawn at once on the calling thread.
[[nodiscard]] std::shared_ptr<const platform::Image> drawnBadge(const CVDisplayRule& rule);
// The completion form, as realized2DModelWithMaxResolution's.
void renderedBadgeWithCompletionHandler(std::shared_ptr<const CVDisplayRule> rule,
                                        std::function<void(std::shared_ptr<const platform::Image>)> completionHandler);

// What a failed download leaves: a new fully transparent image of one point.
[[nodiscard]] std::shared_ptr<const platform::Image> blankImage();

}  // namespace ambrell

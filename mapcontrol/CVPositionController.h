#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVPositionResult.h"
#include "mapcontrol/CVMapControlDrawingSeam.h"
#include "platform/Image.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// Draws the user's position on one map control's map: each fix, styled by
// the solution's position rule, goes to the adapter's position presenter
// from a task of its own. Any thread.
class CVPositionController : public std::enable_shared_from_this<CVPositionController> {
public:
    // The solution's position rule, or null.
    using PositionRuleSource = std::function<std::shared_ptr<CVDisplayRule>()>;
    // The rule's icon, or null when it has none.
    using IconLoader = std::function<platform::Awaitable<std::shared_ptr<const platform::Image>>(
        std::shared_ptr<const CVDisplayRule>)>;

    // Styled by the entry object's position rule, with its icon from the
    // display-rule images.
    [[nodiscard]] static std::shared_ptr<CVPositionController> create(
        std::weak_ptr<CVMapControlDrawingSeam> mapControl);
    [[nodiscard]] static std::shared_ptr<CVPositionController> create(std::weak_ptr<CVMapControlDrawingSeam> mapControl,
                                                                      PositionRuleSource positionRule,
                                                                      IconLoader iconLoader);

    CVPositionController(const CVPositionController&) = delete;
    CVPositionController& operator=(const CVPositionController&) = delete;

    // While enabled, keeps the fix as the latest and, when there is a
    // position rule, starts its drawing and returns. Drawings are numbered:
    // one whose icon arrives after a later one was drawn is dropped, so the
    // map never goes back to an older fix. The marker is fully opaque when
    // the map showed the fix's floor as the drawing started, half otherwise.
    void draw(const CVPositionResult& position);

    // The last fix drawn while enabled.
    [[nodiscard]] std::optional<CVPositionResult> latestPosition() const;
    // Whether fixes are drawn; off at first. A drawing still loading its
    // icon when they are switched off draws nothing; switching off waits for
    // one reaching the presenter.
    [[nodiscard]] bool enabled() const;
    void setEnabled(bool enabled);

private:
    CVPositionController(std::weak_ptr<CVMapControlDrawingSeam> mapControl, PositionRuleSource positionRule,
                         IconLoader iconLoader);

    platform::Awaitable<void> drawWhenIconLoaded(CVPositionResult position, std::shared_ptr<CVDisplayRule> rule,
                                                 std::uint64_t number);

    const std::weak_ptr<CVMapControlDrawingSeam> mapControl_;
    const PositionRuleSource positionRule_;
    const IconLoader iconLoader_;

    mutable std::mutex mutex_;
    std::optional<CVPositionResult> latestPosition_;
    bool enabled_ = false;
    std::uint64_t drawsStarted_ = 0;

    // Held while a drawing reaches the presenter, so that the checks of its
    // number and of the switch and its drawing are one step.
    std::mutex presenterMutex_;
    std::uint64_t lastDrawn_ = 0;
};

}  // namespace ambrell

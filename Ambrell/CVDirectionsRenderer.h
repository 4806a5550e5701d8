#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "Ambrell/CVCameraViewFitMode.h"
#include "Ambrell/CVRoute.h"
#include "Ambrell/CVRouteStopIconProvider.h"
#include "Ambrell/UIEdgeInsets.h"
#include "platform/Color.h"

namespace ambrell {

// Posted on the default notification centre, with the renderer
// (a CVDirectionsRenderer*) as object, when a leg is drawn and when the
// drawing is cleared.
inline constexpr std::string_view CVNotificationDirectionsRenderingStarted = "CVNotificationDirectionsRenderingStarted";
inline constexpr std::string_view CVNotificationDirectionsRenderingStopped = "CVNotificationDirectionsRenderingStopped";

// The host's listener to a directions renderer; the renderer keeps it for
// the host and tells it nothing itself.
class CVDirectionsRendererDelegate {
public:
    virtual ~CVDirectionsRendererDelegate() = default;
};

// The host's settings for contextual information along a route; kept by the
// renderer for the host.
class CVContextualInfoSettings {
public:
    virtual ~CVContextualInfoSettings() = default;
};

// Draws one leg of a route at a time on a map, with markers at the leg's
// ends and at the route's stops; taps on the end markers step between legs.
// Used on the main thread.
class CVDirectionsRenderer {
public:
    virtual ~CVDirectionsRenderer() = default;

    // The route to draw. Setting it neither draws nor changes the leg index.
    [[nodiscard]] virtual std::shared_ptr<CVRoute> route() const = 0;
    virtual void setRoute(std::shared_ptr<CVRoute> route) = 0;
    // The leg to draw. A value outside the route's legs is corrected to the
    // nearest leg (0 without a route), with an error logged.
    [[nodiscard]] virtual int routeLegIndex() const = 0;
    virtual void setRouteLegIndex(int routeLegIndex) = 0;

    // Whether a leg is drawn. Setting it posts the notification of the value
    // and records a usage event, also when it does not change.
    [[nodiscard]] virtual bool isRouteShown() const = 0;
    virtual void setIsRouteShown(bool isRouteShown) = 0;

    // The duration of the last drawing, which update() and leg steps reuse.
    [[nodiscard]] virtual double animationDuration() const = 0;
    virtual void setAnimationDuration(double duration) = 0;
    [[nodiscard]] virtual CVCameraViewFitMode fitMode() const = 0;
    virtual void setFitMode(CVCameraViewFitMode fitMode) = 0;
    // Padding of the camera fit, on top of the map view's safe area.
    [[nodiscard]] virtual UIEdgeInsets padding() const = 0;
    virtual void setPadding(UIEdgeInsets padding) = 0;
    // Whether the camera is fitted to each leg drawn.
    [[nodiscard]] virtual bool fitBounds() const = 0;
    virtual void setFitBounds(bool fitBounds) = 0;
    // Whether the leg's ends get markers.
    [[nodiscard]] virtual bool showRouteLegButtons() const = 0;
    virtual void setShowRouteLegButtons(bool show) = 0;
    // The line's colour; none draws "#3071d9".
    [[nodiscard]] virtual std::optional<platform::Color> pathColor() const = 0;
    virtual void setPathColor(std::optional<platform::Color> color) = 0;
    // The wide line under it; none draws the line's colour at alpha 0.3.
    [[nodiscard]] virtual std::optional<platform::Color> backgroundColor() const = 0;
    virtual void setBackgroundColor(std::optional<platform::Color> color) = 0;
    // The icon of stops that have none of their own; null shows no marker for them.
    [[nodiscard]] virtual std::shared_ptr<CVRouteStopIconProvider> defaultRouteStopIcon() const = 0;
    virtual void setDefaultRouteStopIcon(std::shared_ptr<CVRouteStopIconProvider> icon) = 0;

    [[nodiscard]] virtual std::shared_ptr<CVDirectionsRendererDelegate> delegate() const = 0;
    virtual void setDelegate(std::shared_ptr<CVDirectionsRendererDelegate> delegate) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVContextualInfoSettings> contextualInfoSettings() const = 0;
    virtual void setContextualInfoSettings(std::shared_ptr<CVContextualInfoSettings> settings) = 0;

    // Draws the current leg, animated over `duration` seconds when above 0.
    virtual void animateWithDuration(double duration) = 0;
    // Draws the current leg without animation.
    virtual void render() = 0;
    // Draws the current leg again when one is shown.
    virtual void update() = 0;
    // Removes the drawing.
    virtual void clear() = 0;
    // Steps to the next or previous leg, drawing it when a leg is shown;
    // false, changing nothing, when there is no such leg.
    virtual bool nextLeg() = 0;
    virtual bool previousLeg() = 0;
    // Draws the current leg with the icons for the stops ending the legs of
    // the same index; where `mask` is false the default icon is used.
    virtual void renderWithStopIcons(const std::vector<std::shared_ptr<CVRouteStopIconProvider>>& icons,
                                     const std::optional<std::vector<bool>>& mask) = 0;
};

}  // namespace ambrell

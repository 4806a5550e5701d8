#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVDirectionsRenderer.h"
#include "mapcontrol/CVMapControlDrawingSeam.h"
#include "viewmodels/CVRouteMarkerDelegate.h"
#include "viewmodels/CVRouteRenderer.h"

namespace ambrell {

// The library's directions renderer: draws the current leg of a route through
// the adapter's route renderer, follows the map's floor and steps between
// legs on marker taps. Runs on the caller's thread (the main thread) without
// locks; drawing may re-enter itself through the map's floor hook.
class CVDirectionsRendererInternal : public CVDirectionsRenderer,
                                     public CVRouteMarkerDelegate,
                                     public std::enable_shared_from_this<CVDirectionsRendererInternal> {
public:
    // Held strongly; registers as the map control's current renderer. The
    // adapter's route renderer is read once, here. Without a map control
    // nothing is ever drawn.
    [[nodiscard]] static std::shared_ptr<CVDirectionsRendererInternal> create(
        std::shared_ptr<CVMapControlDrawingSeam> mapControl);

    CVDirectionsRendererInternal(const CVDirectionsRendererInternal&) = delete;
    CVDirectionsRendererInternal& operator=(const CVDirectionsRendererInternal&) = delete;

    [[nodiscard]] std::shared_ptr<CVRoute> route() const override { return route_; }
    void setRoute(std::shared_ptr<CVRoute> route) override { route_ = std::move(route); }
    [[nodiscard]] int routeLegIndex() const override { return routeLegIndex_; }
    void setRouteLegIndex(int routeLegIndex) override;

    [[nodiscard]] bool isRouteShown() const override { return isRouteShown_; }
    void setIsRouteShown(bool isRouteShown) override;

    [[nodiscard]] double animationDuration() const override { return animationDuration_; }
    void setAnimationDuration(double duration) override { animationDuration_ = duration; }
    [[nodiscard]] CVCameraViewFitMode fitMode() const override { return fitMode_; }
    void setFitMode(CVCameraViewFitMode fitMode) override { fitMode_ = fitMode; }
    [[nodiscard]] UIEdgeInsets padding() const override { return padding_; }
    void setPadding(UIEdgeInsets padding) override { padding_ = padding; }
    [[nodiscard]] bool fitBounds() const override { return fitBounds_; }
    void setFitBounds(bool fitBounds) override { fitBounds_ = fitBounds; }
    [[nodiscard]] bool showRouteLegButtons() const override { return showRouteLegButtons_; }
    void setShowRouteLegButtons(bool show) override { showRouteLegButtons_ = show; }
    [[nodiscard]] std::optional<platform::Color> pathColor() const override { return pathColor_; }
    void setPathColor(std::optional<platform::Color> color) override { pathColor_ = color; }
    [[nodiscard]] std::optional<platform::Color> backgroundColor() const override { return backgroundColor_; }
    void setBackgroundColor(std::optional<platform::Color> color) override { backgroundColor_ = color; }
    [[nodiscard]] std::shared_ptr<CVRouteStopIconProvider> defaultRouteStopIcon() const override {
        return defaultRouteStopIcon_;
    }
    void setDefaultRouteStopIcon(std::shared_ptr<CVRouteStopIconProvider> icon) override {
        defaultRouteStopIcon_ = std::move(icon);
    }
    [[nodiscard]] std::shared_ptr<CVDirectionsRendererDelegate> delegate() const override { return delegate_; }
    void setDelegate(std::shared_ptr<CVDirectionsRendererDelegate> delegate) override {
        delegate_ = std::move(delegate);
    }
    [[nodiscard]] std::shared_ptr<CVContextualInfoSettings> contextualInfoSettings() const override {
        return contextualInfoSettings_;
    }
    void setContextualInfoSettings(std::shared_ptr<CVContextualInfoSettings> settings) override {
        contextualInfoSettings_ = std::move(settings);
    }

    void animateWithDuration(double duration) override;
    void render() override { animateWithDuration(0); }
    void update() override;
    void clear() override;
    bool nextLeg() override;
    bool previousLeg() override;
    void renderWithStopIcons(const std::vector<std::shared_ptr<CVRouteStopIconProvider>>& icons,
                             const std::optional<std::vector<bool>>& mask) override;

    // A tap on a route marker: the start marker steps back, the end marker
    // forward, "stop_<leg>" draws that leg; other tags do nothing.
    void onRouteMarkerClicked(const std::string& tag) override;

    // Called by the map control after its floor changed: the drawing goes,
    // and comes back when the map shows the current leg's floor.
    void floorChanged();

    // The per-leg stop icons of the last renderWithStopIcons(); entry i
    // belongs to the stop ending leg i.
    [[nodiscard]] const std::optional<std::vector<std::shared_ptr<const platform::Image>>>& currentStopIcons() const {
        return currentStopIcons_;
    }
    // The adapter's route renderer this renderer draws through; null when the
    // map control has no adapter.
    [[nodiscard]] const std::shared_ptr<CVRouteRenderer>& renderer() const { return renderer_; }

private:
    explicit CVDirectionsRendererInternal(std::shared_ptr<CVMapControlDrawingSeam> mapControl);

    struct Drawing;

    void clearRenderer();
    // The stop icon for the number from the default provider: its numbered
    // image (falling back to its plain one) when it is the library's own.
    [[nodiscard]] std::shared_ptr<const platform::Image> defaultStopIcon(int number) const;

    std::shared_ptr<CVMapControlDrawingSeam> mapControl_;
    std::shared_ptr<CVRouteRenderer> renderer_;
    double animationDuration_ = 0;
    bool isRouteShown_ = false;
    CVCameraViewFitMode fitMode_ = CVCameraViewFitMode::firstStepAligned;
    std::shared_ptr<CVDirectionsRendererDelegate> delegate_;
    std::shared_ptr<CVContextualInfoSettings> contextualInfoSettings_;
    UIEdgeInsets padding_;
    bool fitBounds_ = true;
    bool showRouteLegButtons_ = true;
    std::optional<platform::Color> pathColor_;
    std::optional<platform::Color> backgroundColor_;
    int routeLegIndex_ = 0;
    std::shared_ptr<CVRoute> route_;
    std::shared_ptr<CVRouteStopIconProvider> defaultRouteStopIcon_;
    std::optional<std::vector<std::shared_ptr<const platform::Image>>> currentStopIcons_;
};

}  // namespace ambrell

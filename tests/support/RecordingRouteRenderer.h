#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "viewmodels/CVRouteRenderer.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell::test {

// A route renderer that draws nothing and remembers every call with every
// argument, colours packed with rgba32(), from any thread. It also plays the
// adapter's part in a tap: tapMarker() reports the tag to the delegate.
class RecordingRouteRenderer : public CVRouteRenderer {
public:
    struct Applied {
        std::shared_ptr<const RouteViewModelProducer> model;
        bool animate = false;
        double duration = 0;
        bool repeating = false;
        std::uint32_t primaryColor = 0;
        std::uint32_t secondaryColor = 0;
        float primaryWidth = 0;
        float secondaryWidth = 0;
        bool pathSmoothing = false;
    };
    struct CameraMove {
        std::vector<CLLocationCoordinate2D> points;
        bool animate = false;
        std::int64_t durationMs = 0;
        float tilt = 0;
        CVCameraViewFitMode fitMode = CVCameraViewFitMode::northAligned;
        UIEdgeInsets padding;
    };

    [[nodiscard]] std::shared_ptr<CVRouteMarkerDelegate> routeMarkerDelegate() const override {
        std::lock_guard lock(mutex_);
        return delegate_.lock();
    }
    void setRouteMarkerDelegate(std::weak_ptr<CVRouteMarkerDelegate> delegate) override {
        std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
        calls_.emplace_back("setRouteMarkerDelegate");
    }

    void apply(std::shared_ptr<const RouteViewModelProducer> model, bool animate, double duration, bool repeating,
               platform::Color primaryColor, platform::Color secondaryColor, float primaryWidth, float secondaryWidth,
               bool pathSmoothing) override {
        std::lock_guard lock(mutex_);
        applied_.push_back(Applied{std::move(model), animate, duration, repeating, rgba32(primaryColor),
                                   rgba32(secondaryColor), primaryWidth, secondaryWidth, pathSmoothing});
        calls_.emplace_back("apply");
    }

    void moveCamera(std::vector<CLLocationCoordinate2D> points, bool animate, std::int64_t durationMs, float tilt,
                    CVCameraViewFitMode fitMode, UIEdgeInsets padding) override {
        std::lock_guard lock(mutex_);
        cameraMoves_.push_back(CameraMove{std::move(points), animate, durationMs, tilt, fitMode, padding});
        calls_.emplace_back("moveCamera");
    }

    void clear() override {
        std::lock_guard lock(mutex_);
        calls_.emplace_back("clear");
    }

    // What the adapter does when the user taps a drawn marker; false when no
    // delegate is set (or it is gone). The delegate runs outside the lock, so
    // it may draw again.
    bool tapMarker(const std::string& tag) {
        const auto delegate = routeMarkerDelegate();
        if (!delegate) return false;
        delegate->onRouteMarkerClicked(tag);
        return true;
    }

    // The calls by name ("clear", "apply", "moveCamera", "setRouteMarkerDelegate"), in order.
    [[nodiscard]] std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    [[nodiscard]] std::vector<Applied> applied() const {
        std::lock_guard lock(mutex_);
        return applied_;
    }
    [[nodiscard]] std::vector<CameraMove> cameraMoves() const {
        std::lock_guard lock(mutex_);
        return cameraMoves_;
    }
    // Forgets the calls so far; the delegate stays.
    void forgetCalls() {
        std::lock_guard lock(mutex_);
        calls_.clear();
        applied_.clear();
        cameraMoves_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::weak_ptr<CVRouteMarkerDelegate> delegate_;
    std::vector<std::string> calls_;
    std::vector<Applied> applied_;
    std::vector<CameraMove> cameraMoves_;
};

}  // namespace ambrell::test

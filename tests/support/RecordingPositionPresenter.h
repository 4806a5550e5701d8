#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "viewmodels/CVPositionPresenter.h"
#include "viewmodels/ImageUtilities.h"

namespace ambrell::test {

// A position presenter that draws nothing and remembers every call with
// every argument, colours packed with rgba32(), from any thread.
class RecordingPositionPresenter : public CVPositionPresenter {
public:
    struct Applied {
        CLLocationCoordinate2D position;
        std::shared_ptr<const platform::Image> markerIcon;
        double markerBearing = 0;
        double markerOpacity = 0;
        double circleRadiusMeters = 0;
        std::uint32_t circleFillColor = 0;
        std::uint32_t circleStrokeColor = 0;
        double circleStrokeWidth = 0;
    };

    void apply(CLLocationCoordinate2D position, std::shared_ptr<const platform::Image> markerIcon, double markerBearing,
               double markerOpacity, double circleRadiusMeters, platform::Color circleFillColor,
               platform::Color circleStrokeColor, double circleStrokeWidth) override {
        std::lock_guard lock(mutex_);
        applied_.push_back(Applied{position, std::move(markerIcon), markerBearing, markerOpacity, circleRadiusMeters,
                                   rgba32(circleFillColor), rgba32(circleStrokeColor), circleStrokeWidth});
    }
    void clear() override {
        std::lock_guard lock(mutex_);
        ++clears_;
    }

    [[nodiscard]] std::vector<Applied> applied() const {
        std::lock_guard lock(mutex_);
        return applied_;
    }
    [[nodiscard]] int clears() const {
        std::lock_guard lock(mutex_);
        return clears_;
    }
    // Forgets the calls so far.
    void forget() {
        std::lock_guard lock(mutex_);
        applied_.clear();
        clears_ = 0;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Applied> applied_;
    int clears_ = 0;
};

}  // namespace ambrell::test

#pragma once

#include <mutex>
#include <optional>

#include "platform/Button.h"

namespace ambrell {

// One square button of the floor selector, standing for one floor.
class CVFloorButton : public platform::Button {
public:
    explicit CVFloorButton(const platform::CGRect& frame = {}) : Button(platform::ButtonType::Custom, frame) {}

    // Read and written whole from any thread.
    [[nodiscard]] std::optional<double> floorIndex() const {
        const std::lock_guard lock(mutex_);
        return floorIndex_;
    }
    void setFloorIndex(std::optional<double> floorIndex) {
        const std::lock_guard lock(mutex_);
        floorIndex_ = floorIndex;
    }

private:
    mutable std::mutex mutex_;
    std::optional<double> floorIndex_;
};

}  // namespace ambrell

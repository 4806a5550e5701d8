#pragma once

#include <stdexcept>
#include <string>

namespace ambrell {

// Thrown when route or distance-matrix JSON cannot be read, or a model
// cannot be written as JSON. The key path names the offending value from the
// top of the document ("routes[0].legs[1].distance"); it is empty for the
// document itself.
class CVRouteCodingError : public std::runtime_error {
public:
    CVRouteCodingError(std::string keyPath, std::string reason);

    [[nodiscard]] const std::string& keyPath() const noexcept { return keyPath_; }
    [[nodiscard]] const std::string& reason() const noexcept { return reason_; }

private:
    std::string keyPath_;
    std::string reason_;
};

}  // namespace ambrell

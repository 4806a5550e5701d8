#include "routemodel/CVRouteCodingError.h"

#include <utility>

namespace ambrell {

namespace {

std::string message(const std::string& keyPath, const std::string& reason) {
    return (keyPath.empty() ? std::string("document") : keyPath) + ": " + reason;
}

}  // namespace

CVRouteCodingError::CVRouteCodingError(std::string keyPath, std::string reason)
    : std::runtime_error(message(keyPath, reason)), keyPath_(std::move(keyPath)), reason_(std::move(reason)) {}

}  // namespace ambrell

#include "WebMercatorCamera.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace ambrell::cairo_map {
namespace web_mercator_camera {
namespace {

constexpr double kTileSize = 256;
constexpr double kDegrees = 180 / std::numbers::pi;
// Mercator's y runs off to infinity at the poles; the usual maps stop here.
constexpr double kMaxLatitude = 85.05112878;

// The coordinate on the world at zoom 0: x east, y south, both 0 to 256.
platform::CGPoint world(platform::CLLocationCoordinate2D coordinate) {
    const double latitude = std::clamp(coordinate.latitude, -kMaxLatitude, kMaxLatitude) / kDegrees;
    return {(coordinate.longitude + 180) / 360 * kTileSize,
            (0.5 - std::log(std::tan(std::numbers::pi / 4 + latitude / 2)) / (2 * std::numbers::pi)) * kTileSize};
}

platform::CLLocationCoordinate2D unworld(platform::CGPoint point) {
    const double y = (0.5 - point.y / kTileSize) * 2 * std::numbers::pi;
    return {(2 * std::atan(std::exp(y)) - std::numbers::pi / 2) * kDegrees, point.x / kTileSize * 360 - 180};
}

// Screen y grows downwards, so a positive angle turns clockwise.
platform::CGPoint rotated(platform::CGPoint point, double degrees) {
    const double angle = degrees / kDegrees;
    return {point.x * std::cos(angle) - point.y * std::sin(angle),
            point.x * std::sin(angle) + point.y * std::cos(angle)};
}

}  // namespace
}  // namespace web_mercator_camera

platform::CGPoint WebMercatorCamera::pointFor(platform::CLLocationCoordinate2D coordinate) const {
    const double scale = std::exp2(zoom);
    const auto at = web_mercator_camera::world(coordinate);
    const auto middle = web_mercator_camera::world(center);
    const auto offset = web_mercator_camera::rotated({(at.x - middle.x) * scale, (at.y - middle.y) * scale}, -bearing);
    return {width / 2.0 + offset.x, height / 2.0 + offset.y};
}

platform::CLLocationCoordinate2D WebMercatorCamera::coordinateFor(platform::CGPoint point) const {
    const double scale = std::exp2(zoom);
    const auto offset = web_mercator_camera::rotated({point.x - width / 2.0, point.y - height / 2.0}, bearing);
    const auto middle = web_mercator_camera::world(center);
    return web_mercator_camera::unworld({middle.x + offset.x / scale, middle.y + offset.y / scale});
}

CVGeoBounds WebMercatorCamera::visibleBounds() const {
    const std::array corners{coordinateFor({0, 0}), coordinateFor({static_cast<double>(width), 0}),
                             coordinateFor({0, static_cast<double>(height)}),
                             coordinateFor({static_cast<double>(width), static_cast<double>(height)})};
    return CVGeoBounds(corners);
}

WebMercatorCamera WebMercatorCamera::fitting(const CVGeoBounds& bounds, const platform::EdgeInsets& insets) const {
    WebMercatorCamera fitted = *this;
    const auto southWest = web_mercator_camera::world(bounds.southWest());
    const auto northEast = web_mercator_camera::world(bounds.northEast());
    const double spanX = std::max(std::abs(northEast.x - southWest.x), 1e-9);
    const double spanY = std::max(std::abs(southWest.y - northEast.y), 1e-9);
    const double roomX = std::max(width - insets.left - insets.right, 1.0);
    const double roomY = std::max(height - insets.top - insets.bottom, 1.0);
    fitted.zoom = std::clamp(std::log2(std::min(roomX / spanX, roomY / spanY)), 0.0, 24.0);
    // The box's middle goes to the middle of the room the insets leave.
    const double scale = std::exp2(fitted.zoom);
    const auto shift =
        web_mercator_camera::rotated({(insets.left - insets.right) / 2, (insets.top - insets.bottom) / 2}, bearing);
    fitted.center = web_mercator_camera::unworld(
        {(southWest.x + northEast.x) / 2 - shift.x / scale, (southWest.y + northEast.y) / 2 - shift.y / scale});
    return fitted;
}

}  // namespace ambrell::cairo_map

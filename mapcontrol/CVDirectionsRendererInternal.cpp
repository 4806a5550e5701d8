#include "mapcontrol/CVDirectionsRendererInternal.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

#include "Ambrell/CVBundleImage.h"
#include "Ambrell/CVLog.h"
#include "foundation/CVLogger.h"
#include "mapcontrol/CVDefaultRouteStopIconConfig.h"
#include "mapcontrol/CVMapRouteLegButton.h"
#include "platform/Localization.h"
#include "platform/NotificationCenter.h"

namespace ambrell {

namespace directions_renderer {
namespace {

constexpr int kCameraDurationMs = 1000;
constexpr float kCameraTilt = 45.0f;
constexpr float kPrimaryWidth = 8.0f;
constexpr float kSecondaryWidth = 5.0f;
constexpr double kDefaultBackgroundAlpha = 0.3;

const platform::Color& defaultPathColor() {
    static const platform::Color color = platform::Color::fromHex("#3071d9").value();
    return color;
}

bool isStopReason(const std::optional<CVRouteLegBreakReason>& reason) {
    return reason && static_cast<int>(*reason) == static_cast<int>(CVRouteLegBreakReason::stop);
}

// The leg's floor: its end's zLevel as an integer, when that is a finite
// number an int holds; none otherwise, and the leg is not drawn.
std::optional<int> floorOf(const CVRouteLeg& leg) {
    const auto end = leg.end_location();
    if (!end) return std::nullopt;
    const auto zLevel = end->zLevel();
    if (!zLevel || !std::isfinite(*zLevel)) return std::nullopt;
    const double floor = std::trunc(*zLevel);
    if (floor < static_cast<double>(std::numeric_limits<int>::min()) ||
        floor > static_cast<double>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    return static_cast<int>(floor);
}

// A point of a path; none for a coordinate without a usable latitude or
// longitude, which the path leaves out.
std::optional<CLLocationCoordinate2D> pointOf(const std::shared_ptr<CVRouteCoordinate>& coordinate) {
    if (!coordinate) return std::nullopt;
    const auto lat = coordinate->lat();
    const auto lng = coordinate->lng();
    if (!lat || !lng || !std::isfinite(*lat) || !std::isfinite(*lng)) return std::nullopt;
    return CLLocationCoordinate2D{*lat, *lng};
}

std::vector<CLLocationCoordinate2D> pathOf(const CVRouteLeg& leg) {
    std::vector<CLLocationCoordinate2D> points;
    for (const auto& step : leg.steps()) {
        if (!step) continue;
        const auto geometry = step->geometry();
        if (!geometry) continue;
        for (const auto& coordinate : *geometry) {
            if (const auto point = pointOf(coordinate)) points.push_back(*point);
        }
    }
    // Only neighbours are compared: a path may come back to a point it passed.
    std::vector<CLLocationCoordinate2D> kept;
    kept.reserve(points.size());
    std::size_t dropped = 0;
    for (const auto& point : points) {
        if (!kept.empty() && kept.back() == point) {
            ++dropped;
        } else {
            kept.push_back(point);
        }
    }
    CVLog::core().debug("Removed {} duplicates out of {} elements", dropped, points.size());
    return kept;
}

struct MarkerSpec {
    std::shared_ptr<const platform::Image> image;
    std::optional<std::string> label;
    CLLocationCoordinate2D point;
    std::string id;
    std::optional<std::string> iconPlacement;
    std::optional<std::string> labelAnchor;
};

ViewModel markerViewModel(MarkerSpec spec) {
    CVFeatureProperties properties{
        {CVModelPropertyKey::labelSize, std::int64_t{16}},
        {CVModelPropertyKey::labelFont, std::string("ArialMT")},
        {CVModelPropertyKey::labelColor, std::string("#1F2937")},
        {CVModelPropertyKey::labelOpacity, 1.0},
        {CVModelPropertyKey::labelHaloWidth, std::int64_t{2}},
        {CVModelPropertyKey::labelHaloColor, std::string("#FFFFFF")},
        {CVModelPropertyKey::labelHaloBlur, std::int64_t{0}},
        {CVModelPropertyKey::isCollidable, false},
        {CVModelPropertyKey::isClusterable, false},
        {CVModelPropertyKey::clickable, true},
    };
    if (spec.label) properties[CVModelPropertyKey::markerLabel] = std::move(*spec.label);
    if (spec.labelAnchor) properties[CVModelPropertyKey::labelAnchor] = std::move(*spec.labelAnchor);
    if (spec.iconPlacement) properties[CVModelPropertyKey::markerIconPlacement] = std::move(*spec.iconPlacement);

    ViewModel model;
    model.id = spec.id;
    model.marker = CVViewModelFeature(
        "Feature", spec.id, std::move(properties),
        CVViewModelFeatureGeometry(GeoJsonGeometryType::Point, CVPoint(spec.point.latitude, spec.point.longitude)));
    if (spec.image) model.data[CVModelData::icon] = *spec.image;
    model.showInfoWindow = false;
    model.isClickable = true;
    return model;
}

// The safe area of the adapter's map view; none while it has no view.
std::optional<UIEdgeInsets> mapViewSafeArea(const std::shared_ptr<CVMapProvider>& map) {
    const auto view = map ? map->view() : nullptr;
    if (!view) return std::nullopt;
    return view->safeAreaInsets();
}

std::optional<std::string> lastRouteContext(const CVRouteLeg& leg) {
    const auto steps = leg.steps();
    if (steps.empty() || !steps.back()) return std::nullopt;
    return steps.back()->routeContext();
}

std::shared_ptr<CVRouteStep> firstStep(const CVRouteLeg& leg) {
    const auto steps = leg.steps();
    return steps.empty() ? nullptr : steps.front();
}

bool travelsByCar(const std::shared_ptr<CVRouteStep>& step) { return step && step->travel_mode() == "driving"; }

// The end marker's image: what the next leg begins with (leaving or entering
// a building, parking, a change of floor by stairs, escalator or lift, or
// just the next leg); null after the last leg.
std::shared_ptr<const platform::Image> legTransitionImage(const std::vector<std::shared_ptr<CVRouteLeg>>& legs,
                                                          int index) {
    if (index < 0 || static_cast<std::size_t>(index) + 1 >= legs.size()) return nullptr;
    const auto& current = legs[static_cast<std::size_t>(index)];
    const auto& next = legs[static_cast<std::size_t>(index) + 1];
    if (!current || !next) return nullptr;
    const auto contextNow = lastRouteContext(*current);
    const auto contextNext = lastRouteContext(*next);
    const auto nextFirst = firstStep(*next);

    std::string imageName = "next";
    std::string title = platform::localizedString("Next");
    if (contextNow == "InsideBuilding" && contextNext == "OutsideOnVenue") {
        imageName = "exit";
        title = platform::localizedString("Exit");
    } else if (contextNow == "OutsideOnVenue" && contextNext == "InsideBuilding") {
        imageName = "enter";
        title = platform::localizedString("Enter");
    } else if (travelsByCar(firstStep(*current)) && !travelsByCar(nextFirst)) {
        imageName = "parking";
        title = platform::localizedString("Park");
    } else if (const auto highway = nextFirst ? nextFirst->highway() : std::nullopt;
               highway && (highway->type() == CVHighwayType::stairs || highway->type() == CVHighwayType::escalator ||
                           highway->type() == CVHighwayType::elevator)) {
        imageName = std::string(highway->typeString());
        title = current->end_address().value_or("") + " → " + next->end_address().value_or("");
    }
    return CVMapRouteLegButton::markerImage(bundleImage(imageName), title);
}

// The leg index of a "stop_<n>" tag: its last "_"-separated part, a decimal
// integer (with an optional sign) that an int holds.
std::optional<int> stopTagIndex(std::string_view tag) {
    while (!tag.empty() && tag.back() == '_') tag.remove_suffix(1);
    const auto separator = tag.rfind('_');
    std::string_view part = separator == std::string_view::npos ? tag : tag.substr(separator + 1);
    bool negative = false;
    if (!part.empty() && (part.front() == '+' || part.front() == '-')) {
        negative = part.front() == '-';
        part.remove_prefix(1);
    }
    if (part.empty() || part.front() == '+' || part.front() == '-') return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (error != std::errc() || end != part.data() + part.size()) return std::nullopt;
    if (negative) value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace
}  // namespace directions_renderer

std::shared_ptr<CVDirectionsRendererInternal> CVDirectionsRendererInternal::create(
    std::shared_ptr<CVMapControlDrawingSeam> mapControl) {
    std::shared_ptr<CVDirectionsRendererInternal> renderer(new CVDirectionsRendererInternal(std::move(mapControl)));
    if (renderer->mapControl_) renderer->mapControl_->setCurrentDirectionsRenderer(renderer);
    return renderer;
}

CVDirectionsRendererInternal::CVDirectionsRendererInternal(std::shared_ptr<CVMapControlDrawingSeam> mapControl)
    : mapControl_(std::move(mapControl)),
      defaultRouteStopIcon_(std::make_shared<CVDefaultRouteStopIconConfig>(true, std::nullopt,
                                                                           CVDefaultRouteStopIconConfig::pinColor())) {
    if (mapControl_) {
        if (const auto map = mapControl_->mapProvider()) renderer_ = map->routeRenderer();
    }
}

void CVDirectionsRendererInternal::setRouteLegIndex(int routeLegIndex) {
    if (!route_) {
        CVLog::core().error("Tried to set routeLegIndex without a route!");
        routeLegIndex_ = 0;
        return;
    }
    if (routeLegIndex < 0) {
        CVLog::core().error("Tried to set a negative routeLegIndex ({})", routeLegIndex);
        routeLegIndex_ = 0;
        return;
    }
    // A route without legs stores -1, which no drawing accepts.
    const auto count = static_cast<long long>(route_->legs().size());
    if (routeLegIndex >= count) {
        const long long last = count - 1;
        CVLog::core().error("Tried to set a routeLegIndex ({}) larger than the last index ({})", routeLegIndex, last);
        routeLegIndex_ = static_cast<int>(last);
        return;
    }
    routeLegIndex_ = routeLegIndex;
}

void CVDirectionsRendererInternal::setIsRouteShown(bool isRouteShown) {
    isRouteShown_ = isRouteShown;
    const CVDirectionsRenderer* object = this;
    platform::NotificationCenter::defaultCenter().post(
        platform::NotificationName{std::string(isRouteShown ? CVNotificationDirectionsRenderingStarted
                                                            : CVNotificationDirectionsRenderingStopped)},
        object);
    CVLogger::event(CVLogEvent::directionsRendered, CVLogDomain::directions,
                    CVLogEntry::Parameters{{"is_route_rendered_", isRouteShown ? "yes" : "no"}});
}

void CVDirectionsRendererInternal::clearRenderer() {
    if (renderer_) renderer_->clear();
}

std::shared_ptr<const platform::Image> CVDirectionsRendererInternal::defaultStopIcon(int number) const {
    if (!defaultRouteStopIcon_) return nullptr;
    if (const auto config = std::dynamic_pointer_cast<CVDefaultRouteStopIconConfig>(defaultRouteStopIcon_)) {
        if (auto image = config->numberedImage(number)) return image;
    }
    return defaultRouteStopIcon_->image();
}

void CVDirectionsRendererInternal::animateWithDuration(double duration) {
    clearRenderer();
    setIsRouteShown(false);

    // Held here: drawing may re-enter through the floor hook, and the host
    // may replace the route meanwhile.
    const auto route = route_;
    if (!route) return;
    const auto legs = route->legs();
    if (routeLegIndex_ < 0 || static_cast<std::size_t>(routeLegIndex_) >= legs.size()) {
        CVLog::core().error("Invalid routeLegIndex during animation");
        return;
    }
    animationDuration_ = duration;
    const int legIndex = routeLegIndex_;
    const auto leg = legs[static_cast<std::size_t>(legIndex)];
    const auto floor = leg ? directions_renderer::floorOf(*leg) : std::nullopt;
    if (!floor) {
        CVLog::core().error("The route leg {} has no floor to show", legIndex);
        return;
    }
    if (!mapControl_) return;

    // A change of floor runs the floor hook, which may draw this leg before
    // the call returns; it is then drawn again below.
    mapControl_->selectWithFloorIndex(*floor);
    if (*floor != mapControl_->currentFloorIndex()) return;

    auto path = directions_renderer::pathOf(*leg);
    if (path.size() < 2) return;

    auto producer = std::make_shared<RouteViewModelProducer>();
    producer->polyline = path;
    if (showRouteLegButtons_) {
        if (!directions_renderer::isStopReason(leg->legStartReason())) {
            const auto image =
                legIndex < 1 ? nullptr : CVMapRouteLegButton::markerImage(bundleImage("previous"), std::nullopt);
            producer->start = directions_renderer::markerViewModel(
                {image, std::nullopt, path.front(), "start_marker", "center", std::nullopt});
        }
        if (!directions_renderer::isStopReason(leg->legEndReason())) {
            producer->end =
                directions_renderer::markerViewModel({directions_renderer::legTransitionImage(legs, legIndex),
                                                      std::nullopt, path.back(), "end_marker", "left", std::nullopt});
        }
    }
    if (route->orderedStopIndexes()) {
        auto& stops = producer->stops.emplace();
        int stopNumber = 0;
        const int currentFloor = mapControl_->currentFloorIndex();
        for (std::size_t index = 0; index < legs.size(); ++index) {
            const auto& stopLeg = legs[index];
            if (!stopLeg || !directions_renderer::isStopReason(stopLeg->legEndReason())) continue;
            ++stopNumber;
            std::shared_ptr<const platform::Image> image;
            if (currentStopIcons_ && index < currentStopIcons_->size()) image = (*currentStopIcons_)[index];
            std::optional<std::string> label;
            if (!image) {
                image = defaultStopIcon(stopNumber);
                if (const auto config =
                        std::dynamic_pointer_cast<CVDefaultRouteStopIconConfig>(defaultRouteStopIcon_)) {
                    label = config->label();
                }
            }
            if (!image) continue;
            if (directions_renderer::floorOf(*stopLeg) != currentFloor) continue;
            const auto point = directions_renderer::pointOf(stopLeg->end_location());
            if (!point) continue;
            stops.push_back(directions_renderer::markerViewModel(
                {image, label, *point, "stop_" + std::to_string(index), "bottom", "top"}));
        }
    }

    const platform::Color pathColor = pathColor_.value_or(directions_renderer::defaultPathColor());
    platform::Color underColor = pathColor;
    underColor.alpha = directions_renderer::kDefaultBackgroundAlpha;
    clearRenderer();
    if (renderer_) {
        renderer_->apply(producer, duration > 0, duration, true, backgroundColor_.value_or(underColor), pathColor,
                         directions_renderer::kPrimaryWidth, directions_renderer::kSecondaryWidth,
                         static_cast<int>(leg->routeLegType()) == static_cast<int>(CVRouteLegType::venue));
        renderer_->setRouteMarkerDelegate(weak_from_this());
        if (fitBounds_) {
            if (const auto insets = directions_renderer::mapViewSafeArea(mapControl_->mapProvider())) {
                renderer_->moveCamera(std::move(path), true, directions_renderer::kCameraDurationMs,
                                      directions_renderer::kCameraTilt, fitMode_, addingInsets(*insets, padding_));
            }
        }
    }
    setIsRouteShown(true);
}

void CVDirectionsRendererInternal::update() {
    if (isRouteShown_) animateWithDuration(animationDuration_);
}

void CVDirectionsRendererInternal::clear() {
    clearRenderer();
    setIsRouteShown(false);
}

bool CVDirectionsRendererInternal::nextLeg() {
    if (!route_) return false;
    const auto count = static_cast<long long>(route_->legs().size());
    if (count == 0) return false;
    const long long target = static_cast<long long>(routeLegIndex_) + 1;
    if (target > count - 1) return false;
    setRouteLegIndex(static_cast<int>(target));
    if (isRouteShown_) animateWithDuration(animationDuration_);
    return true;
}

bool CVDirectionsRendererInternal::previousLeg() {
    if (!route_ || route_->legs().empty()) return false;
    const long long target = static_cast<long long>(routeLegIndex_) - 1;
    if (target < 0) return false;
    setRouteLegIndex(static_cast<int>(target));
    if (isRouteShown_) animateWithDuration(animationDuration_);
    return true;
}

void CVDirectionsRendererInternal::renderWithStopIcons(
    const std::vector<std::shared_ptr<CVRouteStopIconProvider>>& icons, const std::optional<std::vector<bool>>& mask) {
    std::vector<std::shared_ptr<const platform::Image>> images;
    images.reserve(icons.size());
    for (const auto& provider : icons) {
        if (const auto config = std::dynamic_pointer_cast<CVDefaultRouteStopIconConfig>(provider)) {
            // Numbered by where the provider first appears in the list.
            std::size_t first = 0;
            while (icons[first] != provider) ++first;
            images.push_back(config->numberedImage(static_cast<int>(first)));
        } else {
            images.push_back(provider ? provider->image() : nullptr);
        }
    }
    if (mask) {
        // Entries the mask does not reach count as true.
        for (std::size_t index = 0; index < images.size() && index < mask->size(); ++index) {
            if (!(*mask)[index]) images[index] = defaultStopIcon(static_cast<int>(index));
        }
    }
    currentStopIcons_ = std::move(images);
    animateWithDuration(0);
}

void CVDirectionsRendererInternal::onRouteMarkerClicked(const std::string& tag) {
    if (tag == "start_marker") {
        previousLeg();
        animateWithDuration(animationDuration_);
    } else if (tag == "end_marker") {
        nextLeg();
        animateWithDuration(animationDuration_);
    } else if (tag.starts_with("stop")) {
        const auto index = directions_renderer::stopTagIndex(tag);
        if (!index) return;
        setRouteLegIndex(*index);
        animateWithDuration(animationDuration_);
    }
}

void CVDirectionsRendererInternal::floorChanged() {
    clearRenderer();
    setIsRouteShown(false);
    const auto route = route_;
    if (!route) return;
    const auto legs = route->legs();
    if (routeLegIndex_ < 0 || static_cast<std::size_t>(routeLegIndex_) >= legs.size()) return;
    const auto& leg = legs[static_cast<std::size_t>(routeLegIndex_)];
    const auto floor = leg ? directions_renderer::floorOf(*leg) : std::nullopt;
    if (floor && mapControl_ && *floor == mapControl_->currentFloorIndex()) animateWithDuration(animationDuration_);
}

}  // namespace ambrell

#include "routing/CVDirectionsHelper.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "Ambrell/CVGeometryUtils.h"
#include "platform/Localization.h"
#include "routing/CVPlaceLookup.h"

namespace ambrell {

namespace directions_helper {
namespace {

constexpr std::string_view kStraight = "Continue straight ahead";
constexpr std::string_view kTurnLeft = "Turn left";
constexpr std::string_view kTurnRight = "Turn right";
constexpr std::string_view kSharpLeft = "Turn sharp left";
constexpr std::string_view kSharpRight = "Turn sharp right";
constexpr std::string_view kSlightLeft = "Turn slight left";
constexpr std::string_view kSlightRight = "Turn slight right";
constexpr std::string_view kTurnAround = "Turn around";

constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kManeuverTexts{{
    {"straight", kStraight},
    {"turn-left", kTurnLeft},
    {"turn-right", kTurnRight},
    {"turn-sharp-left", kSharpLeft},
    {"turn-sharp-right", kSharpRight},
    {"turn-slight-left", kSlightLeft},
    {"turn-slight-right", kSlightRight},
    {"uturn-left", kTurnAround},
    {"uturn-right", kTurnAround},
}};

// Factors -14 to 14.
constexpr std::array<std::string_view, 29> kHeadingTexts{
    kSlightRight, kSlightRight, kTurnRight, kTurnRight,  kSharpRight, kSharpRight, kTurnAround, kTurnAround,
    kSharpLeft,   kSharpLeft,   kTurnLeft,  kTurnLeft,   kSlightLeft, kSlightLeft, kStraight,   kSlightRight,
    kSlightRight, kTurnRight,   kTurnRight, kSharpRight, kSharpRight, kTurnAround, kTurnAround, kSharpLeft,
    kSharpLeft,   kTurnLeft,    kTurnLeft,  kSlightLeft, kSlightLeft};

// Factors -8 to 8.
constexpr std::array<std::string_view, 17> kHeadingManeuvers{
    "uturn-left",       "uturn-left",       "turn-sharp-left",  "turn-sharp-left",   "turn-left",         "turn-left",
    "turn-slight-left", "turn-slight-left", "straight",         "turn-slight-right", "turn-slight-right", "turn-right",
    "turn-right",       "turn-sharp-right", "turn-sharp-right", "uturn-right",       "uturn-right"};

std::string localized(std::string_view text) { return text.empty() ? std::string() : platform::localizedString(text); }

// A level as a whole number: truncated toward zero, absent or not a number as
// 0, held to the 64-bit range.
long long wholeLevel(const std::shared_ptr<CVRouteCoordinateInternal>& coordinate) {
    const double level = coordinate ? coordinate->zLevel().value_or(0) : 0;
    if (std::isnan(level)) return 0;
    constexpr double kLimit = 9.2e18;
    return static_cast<long long>(std::clamp(std::trunc(level), -kLimit, kLimit));
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

CVPlaceNames placesAt(const CVPoint& point) { return CVPlaceLookup::current()->getDataFromPoint(point); }

// Floor over building over venue.
std::string addressOf(const CVPlaceNames& places) {
    std::string address;
    if (places.venue) address = *places.venue + ", " + localized("Outside");
    if (places.building) address = *places.building;
    if (places.floor) address = localized("Level") + " " + *places.floor;
    return address;
}

}  // namespace
}  // namespace directions_helper

const std::vector<CVHighway>& CVDirectionsHelper::floorConnectors() {
    static const std::vector<CVHighway> connectors{
        CVHighway::stairs(), CVHighway::ladder(),         CVHighway::elevator(),      CVHighway::escalator(),
        CVHighway::ramp(),   CVHighway::wheelchairlift(), CVHighway::wheelchairramp()};
    return connectors;
}

std::optional<std::int32_t> CVDirectionsHelper::getHeadingFactor(double headingDiff) {
    const double factor = std::trunc(headingDiff / 22.5);
    if (!std::isfinite(factor)) return std::nullopt;
    if (factor < std::numeric_limits<std::int32_t>::min() || factor > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(factor);
}

std::string_view CVDirectionsHelper::instructionForManeuver(std::string_view maneuver) {
    for (const auto& [keyword, text] : directions_helper::kManeuverTexts) {
        if (keyword == maneuver) return text;
    }
    return {};
}

std::string_view CVDirectionsHelper::instructionForHeadingFactor(std::optional<std::int32_t> factor) {
    if (!factor || *factor < -14 || *factor > 14) return directions_helper::kStraight;
    return directions_helper::kHeadingTexts[static_cast<std::size_t>(*factor + 14)];
}

std::string_view CVDirectionsHelper::maneuverForHeadingFactor(std::optional<std::int32_t> factor) {
    if (!factor || *factor < -8 || *factor > 8) return "straight";
    return directions_helper::kHeadingManeuvers[static_cast<std::size_t>(*factor + 8)];
}

std::string CVDirectionsHelper::getManeuverWithHeadingDiff(double headingDiff) {
    return std::string(maneuverForHeadingFactor(getHeadingFactor(headingDiff)));
}

CVPoint CVDirectionsHelper::getAveragePointForStep(const CVRouteStepInternal& step) {
    const auto middle =
        CVGeometryUtils::interpolateFrom(step.startPoint().coordinate(), step.endPoint().coordinate(), 0.5);
    return CVPoint(middle.latitude, middle.longitude);
}

std::string CVDirectionsHelper::generateStepInstructions(const CVRouteStepInternal& step,
                                                         const CVRouteStepInternal& previousStep, double headingDiff) {
    using directions_helper::localized;
    const auto before = directions_helper::placesAt(getAveragePointForStep(previousStep));
    const auto now = directions_helper::placesAt(getAveragePointForStep(step));
    if (!before.building && now.building) return localized("Enter");
    if (before.building && !now.building) return localized("Exit");

    const auto highway = step.highway();
    const bool changesLevel = directions_helper::wholeLevel(step.start_locationInternal()) !=
                              directions_helper::wholeLevel(step.end_locationInternal());
    if (changesLevel && highway && std::ranges::find(floorConnectors(), *highway) != floorConnectors().end()) {
        const auto way = directions_helper::replaceAll(std::string(highway->typeString()), "steps", "stairs");
        const auto text = localized("Take " + way + " to level");
        std::optional<std::string> floorName = now.floor;
        if (!floorName && step.end_locationInternal()) floorName = step.end_locationInternal()->floor_name();
        return floorName ? text + " " + *floorName : text;
    }
    const auto maneuver = step.maneuver().value_or("");
    if (!maneuver.empty()) return localized(instructionForManeuver(maneuver));
    return localized(instructionForHeadingFactor(getHeadingFactor(headingDiff)));
}

void CVDirectionsHelper::generateLegAddresses(CVRouteLegInternal& leg) {
    const auto& steps = leg.stepsInternal();
    std::string start;
    std::string end;
    if (!steps.empty() && steps.front())
        start = directions_helper::addressOf(directions_helper::placesAt(steps.front()->startPoint()));
    if (!steps.empty() && steps.back())
        end = directions_helper::addressOf(directions_helper::placesAt(steps.back()->endPoint()));
    leg.setStart_address(std::move(start));
    leg.setEnd_address(std::move(end));
}

}  // namespace ambrell

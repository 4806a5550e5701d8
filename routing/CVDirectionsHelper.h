#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVHighway.h"
#include "Ambrell/CVPoint.h"
#include "routemodel/CVRouteLegInternal.h"
#include "routemodel/CVRouteStepInternal.h"

namespace ambrell {

// The readable side of route steps: instruction texts (entering or leaving a
// building, a floor connector to another level, a turn), maneuver keywords
// from heading differences, and the start and end addresses of legs. Every
// text goes through the host's translations (platform::localizedString);
// places come from CVPlaceLookup. Stateless; any thread.
class CVDirectionsHelper {
public:
    CVDirectionsHelper() = delete;

    // Stairs, ladder, elevator, escalator, ramp, wheelchair lift, wheelchair ramp.
    [[nodiscard]] static const std::vector<CVHighway>& floorConnectors();

    // The heading difference in degrees over 22.5, truncated toward zero; none
    // when the difference is not finite or the factor does not fit 32 bits
    // (the tables then give their entry for any other factor).
    [[nodiscard]] static std::optional<std::int32_t> getHeadingFactor(double headingDiff);
    // "straight", "turn-left", ...: a positive difference turns right.
    [[nodiscard]] static std::string getManeuverWithHeadingDiff(double headingDiff);
    // The midpoint of the step's start and end, without floor.
    [[nodiscard]] static CVPoint getAveragePointForStep(const CVRouteStepInternal& step);

    // "Enter", "Exit", "Take escalator to level 2", the maneuver's text, or
    // the turn the heading difference makes.
    [[nodiscard]] static std::string generateStepInstructions(const CVRouteStepInternal& step,
                                                              const CVRouteStepInternal& previousStep,
                                                              double headingDiff);
    // Sets both addresses from the places at the leg's start and end: the
    // floor ("Level 2") over the building's name over the venue ("Venue,
    // Outside"); empty when nothing is there or the leg has no steps.
    static void generateLegAddresses(CVRouteLegInternal& leg);

    // The fixed texts, before translation; "" for a keyword not in the table.
    [[nodiscard]] static std::string_view instructionForManeuver(std::string_view maneuver);
    [[nodiscard]] static std::string_view instructionForHeadingFactor(std::optional<std::int32_t> factor);
    [[nodiscard]] static std::string_view maneuverForHeadingFactor(std::optional<std::int32_t> factor);
};

}  // namespace ambrell

// Step instructions and leg addresses: the heading tables, the maneuver
// keywords, level changes through floor connectors, entering and leaving
// buildings through a scripted place look-up, the address precedence, and
// the host's translations.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "routemodel/CVRouteLegInternal.h"
#include "routing/CVDirectionsHelper.h"
#include "routing/CVPlaceLookup.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::directions_helper_test {
namespace {

// Places by latitude band: a venue from 10 to 30, a building from 20 to 30
// whose floor is named after the point's whole longitude.
class BandedPlaces final : public CVPlaceLookup {
public:
    [[nodiscard]] CVPlaceNames getDataFromPoint(const CVPoint& point) const override {
        CVPlaceNames names;
        if (point.latitude() >= 10 && point.latitude() < 30) names.venue = "Harbour";
        if (point.latitude() >= 20 && point.latitude() < 30) {
            names.building = "Warehouse";
            if (point.longitude() >= 100) names.floor = std::to_string(static_cast<int>(point.longitude()) - 100);
        }
        return names;
    }
};

std::shared_ptr<CVRouteCoordinateInternal> at(double lat, double lng, std::optional<double> z = std::nullopt,
                                              std::optional<std::string> floorName = std::nullopt) {
    auto coordinate = std::make_shared<CVRouteCoordinateInternal>(lat, lng, z);
    coordinate->setFloor_name(std::move(floorName));
    return coordinate;
}

std::shared_ptr<CVRouteStepInternal> step(std::shared_ptr<CVRouteCoordinateInternal> from,
                                          std::shared_ptr<CVRouteCoordinateInternal> to,
                                          std::optional<CVHighway> highway = std::nullopt,
                                          std::optional<std::string> maneuver = std::nullopt) {
    auto made = std::make_shared<CVRouteStepInternal>();
    made->setStart_location(std::move(from));
    made->setEnd_location(std::move(to));
    made->setHighway(highway);
    made->setManeuver(std::move(maneuver));
    return made;
}

class DirectionsHelper : public ::testing::Test {
protected:
    DirectionsHelper() {
        CVPlaceLookup::install(std::make_shared<BandedPlaces>());
        platform::Paths::setResourcesFolder(resources_.path());
    }
    ~DirectionsHelper() override {
        CVPlaceLookup::install(nullptr);
        platform::Paths::resetForTesting();
    }

    void translate(const std::string& json) const { std::ofstream(resources_ / "Localizable.json") << json; }

    test::TempDirectory resources_;
};

// Every factor from -16 to 16, taken at the middle of its 22.5-degree band
// on both sides of zero.
TEST_F(DirectionsHelper, HeadingTablesFromMinusSixteenToSixteen) {
    struct Row {
        int factor;
        const char* instruction;
        const char* maneuver;
    };
    const std::vector<Row> rows{
        {-16, "Continue straight ahead", "straight"},
        {-15, "Continue straight ahead", "straight"},
        {-14, "Turn slight right", "straight"},
        {-13, "Turn slight right", "straight"},
        {-12, "Turn right", "straight"},
        {-11, "Turn right", "straight"},
        {-10, "Turn sharp right", "straight"},
        {-9, "Turn sharp right", "straight"},
        {-8, "Turn around", "uturn-left"},
        {-7, "Turn around", "uturn-left"},
        {-6, "Turn sharp left", "turn-sharp-left"},
        {-5, "Turn sharp left", "turn-sharp-left"},
        {-4, "Turn left", "turn-left"},
        {-3, "Turn left", "turn-left"},
        {-2, "Turn slight left", "turn-slight-left"},
        {-1, "Turn slight left", "turn-slight-left"},
        {0, "Continue straight ahead", "straight"},
        {1, "Turn slight right", "turn-slight-right"},
        {2, "Turn slight right", "turn-slight-right"},
        {3, "Turn right", "turn-right"},
        {4, "Turn right", "turn-right"},
        {5, "Turn sharp right", "turn-sharp-right"},
        {6, "Turn sharp right", "turn-sharp-right"},
        {7, "Turn around", "uturn-right"},
        {8, "Turn around", "uturn-right"},
        {9, "Turn sharp left", "straight"},
        {10, "Turn sharp left", "straight"},
        {11, "Turn left", "straight"},
        {12, "Turn left", "straight"},
        {13, "Turn slight left", "straight"},
        {14, "Turn slight left", "straight"},
        {15, "Continue straight ahead", "straight"},
        {16, "Continue straight ahead", "straight"},
    };
    // A step with neither level change nor maneuver falls to the heading table.
    const auto plain = step(at(0, 0), at(0, 1));
    for (const auto& row : rows) {
        const double diff = (row.factor + (row.factor < 0 ? -0.5 : 0.5)) * 22.5;
        EXPECT_EQ(CVDirectionsHelper::getHeadingFactor(diff), row.factor) << diff;
        EXPECT_EQ(CVDirectionsHelper::getManeuverWithHeadingDiff(diff), row.maneuver) << row.factor;
        EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*plain, *plain, diff), row.instruction) << row.factor;
    }
}

TEST_F(DirectionsHelper, HeadingExamplesAndDifferencesThatAreNoNumbers) {
    struct Row {
        double diff;
        std::optional<int> factor;
        const char* instruction;
        const char* maneuver;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<Row> rows{
        {10, 0, "Continue straight ahead", "straight"},
        {-22.4, 0, "Continue straight ahead", "straight"},
        {22.5, 1, "Turn slight right", "turn-slight-right"},
        {-45.0, -2, "Turn slight left", "turn-slight-left"},
        {90, 4, "Turn right", "turn-right"},
        {-90, -4, "Turn left", "turn-left"},
        {170, 7, "Turn around", "uturn-right"},
        {-350, -15, "Continue straight ahead", "straight"},
        {-330, -14, "Turn slight right", "straight"},
        {std::nan(""), std::nullopt, "Continue straight ahead", "straight"},
        {inf, std::nullopt, "Continue straight ahead", "straight"},
        {-inf, std::nullopt, "Continue straight ahead", "straight"},
        {1e300, std::nullopt, "Continue straight ahead", "straight"},
        {-22.5 * 2147483649.0, std::nullopt, "Continue straight ahead", "straight"},
    };
    const auto plain = step(at(0, 0), at(0, 1));
    for (const auto& row : rows) {
        EXPECT_EQ(CVDirectionsHelper::getHeadingFactor(row.diff), row.factor) << row.diff;
        EXPECT_EQ(CVDirectionsHelper::getManeuverWithHeadingDiff(row.diff), row.maneuver) << row.diff;
        EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*plain, *plain, row.diff), row.instruction) << row.diff;
    }
}

TEST_F(DirectionsHelper, ManeuverKeywordsWinOverTheHeading) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {"straight", "Continue straight ahead"},
        {"turn-left", "Turn left"},
        {"turn-right", "Turn right"},
        {"turn-sharp-left", "Turn sharp left"},
        {"turn-sharp-right", "Turn sharp right"},
        {"turn-slight-left", "Turn slight left"},
        {"turn-slight-right", "Turn slight right"},
        {"uturn-left", "Turn around"},
        {"uturn-right", "Turn around"},
        {"roundabout", ""},
        {"", "Turn right"},
    };
    for (const auto& [maneuver, text] : rows) {
        const auto made = step(at(0, 0), at(0, 1), std::nullopt, maneuver);
        EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*made, *made, 90), text) << maneuver;
    }
}

// Inside the building (latitude 25), floors named by longitude - 100.
TEST_F(DirectionsHelper, LevelChangesThroughFloorConnectors) {
    const auto before = step(at(25, 1), at(25, 2));
    // Ends on the floor the look-up names "2" (longitude 102 at the midpoint).
    const auto escalator = step(at(25, 102, 0), at(25, 102, 1), CVHighway::escalator(), "turn-left");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*escalator, *before, 0), "Take escalator to level 2");
    const auto stairs = step(at(25, 102, 0), at(25, 102, 1), CVHighway::stairs());
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*stairs, *before, 0), "Take stairs to level 2");
    const auto lift = step(at(25, 102, 1.9), at(25, 102, 0.2), CVHighway::elevator());
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*lift, *before, 0), "Take elevator to level 2");

    // No floor from the look-up: the end coordinate's floor name, else the text alone.
    const auto named = step(at(25, 3, 0), at(25, 3, 1, "Mezzanine"), CVHighway::wheelchairlift());
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*named, *before, 0),
              "Take wheelchairlift to level Mezzanine");
    const auto unnamed = step(at(25, 3, 0), at(25, 3, 1), CVHighway::ladder());
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*unnamed, *before, 0), "Take ladder to level");

    // Not a connector, or no level change: the maneuver, then the heading.
    const auto footway = step(at(25, 3, 0), at(25, 3, 1), CVHighway::footway(), "turn-left");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*footway, *before, 0), "Turn left");
    const auto noHighway = step(at(25, 3, 0), at(25, 3, 1));
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*noHighway, *before, 90), "Turn right");
    const auto sameLevel = step(at(25, 3, 1.2), at(25, 3, 1.7), CVHighway::stairs(), "uturn-left");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*sameLevel, *before, 0), "Turn around");
    const auto notANumber = step(at(25, 3, std::nan("")), at(25, 3, 0), CVHighway::stairs(), "straight");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*notANumber, *before, 0), "Continue straight ahead");

    EXPECT_EQ(CVDirectionsHelper::floorConnectors().size(), 7u);
}

TEST_F(DirectionsHelper, EnteringAndLeavingABuilding) {
    const auto outside = step(at(15, 1), at(15, 2));
    const auto inside = step(at(25, 1), at(25, 2), CVHighway::stairs(), "turn-left");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*inside, *outside, 0), "Enter");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*outside, *inside, 0), "Exit");
    // The midpoint decides: a step from outside to inside whose middle is outside.
    const auto crossing = step(at(15, 1), at(24, 1));
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*crossing, *inside, 0), "Exit");
    EXPECT_EQ(CVDirectionsHelper::getAveragePointForStep(*crossing), CVPoint(19.5, 1));
}

TEST_F(DirectionsHelper, LegAddressesTakeTheMostSpecificPlace) {
    struct Row {
        double startLat, startLng, endLat, endLng;
        const char* start;
        const char* end;
    };
    const std::vector<Row> rows{
        {15, 1, 25, 1, "Harbour, Outside", "Warehouse"},
        {25, 103, 5, 1, "Level 3", ""},
        {5, 1, 25, 102, "", "Level 2"},
    };
    for (const auto& row : rows) {
        CVRouteLegInternal leg;
        leg.setStart_address("kept?");
        leg.setSteps({step(at(row.startLat, row.startLng), at(0, 0)), step(at(0, 0), at(row.endLat, row.endLng))});
        CVDirectionsHelper::generateLegAddresses(leg);
        EXPECT_EQ(leg.start_address(), row.start);
        EXPECT_EQ(leg.end_address(), row.end);
    }
    CVRouteLegInternal empty;
    empty.setEnd_address("old");
    CVDirectionsHelper::generateLegAddresses(empty);
    EXPECT_EQ(empty.start_address(), "");
    EXPECT_EQ(empty.end_address(), "");
}

TEST_F(DirectionsHelper, TextsGoThroughTheHostsTranslations) {
    translate(
        R"({"Turn left": "Drej til venstre", "Level": "Etage", "Take escalator to level": "Tag rulletrappen til etage", "Outside": 7})");
    const auto left = step(at(0, 0), at(0, 1), std::nullopt, "turn-left");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*left, *left, 0), "Drej til venstre");
    // A key the table lacks, and one whose value is no text, stay English.
    const auto right = step(at(0, 0), at(0, 1), std::nullopt, "turn-right");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*right, *right, 0), "Turn right");
    const auto escalator = step(at(25, 102, 0), at(25, 102, 1), CVHighway::escalator());
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*escalator, *escalator, 0), "Tag rulletrappen til etage 2");

    CVRouteLegInternal leg;
    leg.setSteps({step(at(15, 1), at(25, 102))});
    CVDirectionsHelper::generateLegAddresses(leg);
    EXPECT_EQ(leg.start_address(), "Harbour, Outside");
    EXPECT_EQ(leg.end_address(), "Etage 2");

    // An unreadable table gives the English texts.
    translate("not json");
    EXPECT_EQ(CVDirectionsHelper::generateStepInstructions(*left, *left, 0), "Turn left");
}

}  // namespace
}  // namespace ambrell::directions_helper_test

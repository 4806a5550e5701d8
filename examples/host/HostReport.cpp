#include "HostReport.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "Ambrell/AmbrellShared.h"
#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocationBaseType.h"
#include "Ambrell/CVQuery.h"
#include "Ambrell/CVVenue.h"

namespace ambrell::host {
namespace {

using Locations = std::vector<std::shared_ptr<CVLocation>>;

Locations search(AmbrellShared& sdk, std::optional<CVQuery> query, CVFilter filter) {
    return answerOf<Locations>("A search", [&](auto done) { sdk.locationsWithQuery(std::move(query), filter, done); });
}

// Every loaded location, also those not searchable or not active now.
CVFilter everything() {
    CVFilter filter;
    filter.ignoreSearchableStatus = true;
    filter.ignoreActiveStatus = true;
    return filter;
}

std::string floorText(const CVLocation& location) {
    const auto floor = location.getFloorIndex();
    if (!location.isIndoors() || !floor) return "outdoors";
    return fmt::format("floor {:g}", *floor);
}

void printLocations(std::ostream& out, const Locations& locations, std::size_t shown = 8) {
    if (locations.empty()) out << "    (none)\n";
    for (std::size_t i = 0; i < std::min(shown, locations.size()); ++i) {
        const auto& location = *locations[i];
        out << fmt::format("    {:<24} {:<14} {:<10} {}\n", location.getName(), location.getType(), floorText(location),
                           location.getLocationId());
    }
    if (locations.size() > shown) out << fmt::format("    ... and {} more\n", locations.size() - shown);
}

// A query of its own with its heading and results.
void printQuery(AmbrellShared& sdk, std::ostream& out, const std::string& heading, std::optional<CVQuery> query,
                CVFilter filter, std::size_t shown = 8) {
    const auto found = search(sdk, std::move(query), std::move(filter));
    out << fmt::format("  {}: {} found\n", heading, found.size());
    printLocations(out, found, shown);
}

// A room, area or point of interest: not a venue, building or floor.
bool isOwnLocation(CVLocationBaseType type) {
    return type == CVLocationBaseType::room || type == CVLocationBaseType::area ||
           type == CVLocationBaseType::pointOfInterest;
}

std::string plural(std::size_t count, const char* one, const char* many) {
    return fmt::format("{} {}", count, count == 1 ? one : many);
}

}  // namespace

void printSummary(AmbrellShared& sdk, std::ostream& out) {
    const auto venues = answerOf<std::vector<std::shared_ptr<CVVenue>>>(
        "The venue list", [&](auto done) { sdk.venuesWithCompletionHandler(done); });
    const auto all = search(sdk, std::nullopt, everything());

    std::map<CVLocationBaseType, std::size_t> byBaseType;
    std::vector<std::shared_ptr<CVBuilding>> buildings;
    for (const auto& location : all) {
        ++byBaseType[location->baseType()];
        if (location->baseType() == CVLocationBaseType::building) {
            // A building's location id is the building's id.
            if (auto building = answerOf<std::shared_ptr<CVBuilding>>(
                    "A building look-up", [&](auto done) { sdk.buildingWithId(location->getLocationId(), done); })) {
                buildings.push_back(std::move(building));
            }
        }
    }
    std::sort(buildings.begin(), buildings.end(),
              [](const auto& a, const auto& b) { return a->getName() < b->getName(); });

    out << fmt::format("Venues: {}\n", venues.size());
    std::size_t floorCount = 0;
    for (const auto& venue : venues) {
        out << fmt::format("  {} ({})\n", venue->getName(), venue->getVenueId());
        for (const auto& building : buildings) {
            if (building->getVenueId() != venue->getVenueId()) continue;
            const auto floors = building->getFloors();
            out << fmt::format("    {}: {}\n", building->getName(), plural(floors.size(), "floor", "floors"));
            // Floors by index, lowest first (the keys are texts).
            std::vector<std::shared_ptr<CVFloor>> ordered;
            for (const auto& [key, floor] : floors) ordered.push_back(floor);
            std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
                return a->getFloorIndex().value_or(0) < b->getFloorIndex().value_or(0);
            });
            for (const auto& floor : ordered) {
                auto onFloor = everything();
                onFloor.parents = std::vector<std::string>{floor->getFloorId()};
                const auto count = search(sdk, std::nullopt, onFloor).size();
                out << fmt::format("      {:>3g}  {:<16} {}\n", floor->getFloorIndex().value_or(NAN), floor->getName(),
                                   plural(count, "location", "locations"));
            }
            floorCount += floors.size();
        }
    }
    out << fmt::format("Buildings: {}, floors: {}\n", buildings.size(), floorCount);

    const auto count = [&](CVLocationBaseType type) { return byBaseType[type]; };
    const auto own =
        count(CVLocationBaseType::room) + count(CVLocationBaseType::area) + count(CVLocationBaseType::pointOfInterest);
    out << fmt::format("Locations: {} ({} rooms, {} areas, {} points of interest)", own,
                       count(CVLocationBaseType::room), count(CVLocationBaseType::area),
                       count(CVLocationBaseType::pointOfInterest));
    // Of the same locations: a search also finds the venues, buildings and
    // floors, which the line below counts apart.
    const auto searchable = search(sdk, CVQuery{}, CVFilter{});
    out << fmt::format(", searchable now: {}\n",
                       std::count_if(searchable.begin(), searchable.end(),
                                     [](const auto& location) { return isOwnLocation(location->baseType()); }));
    out << fmt::format("  and the venues, buildings and floors themselves: {} + {} + {}\n",
                       count(CVLocationBaseType::venue), count(CVLocationBaseType::building),
                       count(CVLocationBaseType::floor));
}

void printSearches(AmbrellShared& sdk, std::ostream& out) {
    out << "Searches\n";
    printQuery(sdk, out, "\"reception\"", CVQuery{"reception", {}, {}}, CVFilter{});
    printQuery(sdk, out, "\"flamsteed\"", CVQuery{"flamsteed", {}, {}}, CVFilter{});
    printQuery(sdk, out, "\"coffee\" (the host's own locations are searched too)", CVQuery{"coffee", {}, {}},
               CVFilter{});
    printQuery(sdk, out, "\"MH-0.01\" in the external ids, best three", CVQuery{"MH-0.01", {"externalId"}, {}},
               CVFilter{}, 3);

    const auto venues = answerOf<std::vector<std::shared_ptr<CVVenue>>>(
        "The venue list", [&](auto done) { sdk.venuesWithCompletionHandler(done); });
    if (!venues.empty() && venues.front()->getAnchor()) {
        const auto& anchor = *venues.front()->getAnchor();
        auto nearest = CVFilter{};
        nearest.take = 3;
        printQuery(sdk, out,
                   fmt::format("\"kitchen\" nearest to {}'s centre, three at most", venues.front()->getName()),
                   CVQuery{"kitchen", {}, anchor}, nearest);
    }

    out << "Filters\n";
    auto toilets = CVFilter{};
    toilets.types = std::vector<std::string>{"toilet"};
    toilets.floorIndex = 0;
    printQuery(sdk, out, "toilets on the ground floors", std::nullopt, toilets);

    auto food = CVFilter{};
    food.categories = std::vector<std::string>{"food"};
    printQuery(sdk, out, "in the category \"food\"", std::nullopt, food);

    auto outdoors = CVFilter{};
    outdoors.types = std::vector<std::string>{"Parking"};
    printQuery(sdk, out, "parking", std::nullopt, outdoors);

    auto hidden = everything();
    hidden.types = std::vector<std::string>{"Office", "Meeting Room", "Lounge"};
    const auto withHidden = search(sdk, std::nullopt, hidden).size();
    hidden.ignoreSearchableStatus = false;
    hidden.ignoreActiveStatus = false;
    const auto shown = search(sdk, std::nullopt, hidden).size();
    out << fmt::format("  offices, meeting rooms and lounges: {} searchable now of {}\n", shown, withHidden);

    if (!venues.empty()) {
        if (const auto bounds = venues.front()->boundingBox()) {
            // The north-east quarter of the venue.
            const auto centre = bounds->center();
            auto quarter = CVFilter{};
            quarter.bounds = CVGeoBounds(centre, bounds->northEast());
            quarter.types = std::vector<std::string>{"Meeting Room"};
            quarter.skip = 2;
            quarter.take = 4;
            printQuery(sdk, out,
                       fmt::format("meeting rooms in the north-east quarter of {}, the third to the sixth",
                                   venues.front()->getName()),
                       CVQuery{}, quarter);
        }
    }
}

void printDisplayRules(AmbrellShared& sdk, std::ostream& out) {
    out << "Display rules (each type's, resolved through the solution's main and default rules)\n";
    const auto number = [](std::optional<double> value) { return value ? fmt::format("{:g}", *value) : "-"; };
    const auto flag = [](std::optional<bool> value) { return value.value_or(false) ? "on" : "off"; };
    for (const char* type : {"Meeting Room", "Lounge", "Entrance", "Reception", "parking"}) {
        const auto rule = sdk.displayRuleForType(type);
        if (!rule) {
            out << fmt::format("  {}: no rule\n", type);
            continue;
        }
        const auto icon = rule->iconUrl().value_or("none");
        out << fmt::format(
            "  {}: zoom {} to {}, icon {}, label \"{}\" at {} pt, polygon {}, badge {}, 2D model {}, "
            "3D model {}\n",
            type, number(rule->zoomFrom()), number(rule->zoomTo()), icon.substr(icon.find_last_of('/') + 1),
            rule->label().value_or(""), number(rule->labelStyleTextSize()), flag(rule->polygonVisible()),
            flag(rule->badgeVisible()), flag(rule->model2DVisible()), flag(rule->model3DVisible()));
    }
}

}  // namespace ambrell::host

#include "routing/CVOnlineRoutingService.h"

#include <exception>
#include <string_view>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "foundation/CVDataProvider.h"
#include "routemodel/CVRouteResultInternal.h"
#include "routing/CVDirectionsRequest.h"

namespace ambrell {

namespace online_routing {
namespace {

constexpr std::string_view kOperation =
    "route(from:to:stops:optimize:by:avoid:exclude:depart:arrive:solutionId:graphId:userRoles:): ";

[[noreturn]] void failLogged(const std::exception_ptr& error) {
    CVLog::core().debug(std::string(kOperation) + errorObjectFor(error).localizedDescription());
    throw CVError(CVErrorCase::routeNotFound);
}

bool isEmpty(const std::optional<std::string>& text) { return !text || text->empty(); }

std::optional<std::string> floorName(const std::shared_ptr<CVRouteCoordinateInternal>& coordinate) {
    return coordinate ? coordinate->floor_name() : std::nullopt;
}

CVRouteLegInternal::Step firstStep(const CVRouteLegInternal& leg) {
    return leg.stepsInternal().empty() ? nullptr : leg.stepsInternal().front();
}

CVRouteLegInternal::Step lastStep(const CVRouteLegInternal& leg) {
    return leg.stepsInternal().empty() ? nullptr : leg.stepsInternal().back();
}

std::optional<std::string> contextOf(const CVRouteLegInternal::Step& step) {
    return step ? step->routeContext() : std::nullopt;
}

}  // namespace
}  // namespace online_routing

std::optional<std::string> CVOnlineRoutingService::requestUrl(
    const CVPoint& from, const CVPoint& to, const std::optional<std::vector<CVPoint>>& stops, bool optimize,
    const std::string& travelMode, const std::optional<std::vector<CVHighway>>& avoid,
    const std::optional<std::vector<CVHighway>>& exclude, const std::optional<Date>& depart,
    const std::optional<Date>& arrive, const std::string& solutionId, const std::string& graphId,
    const std::optional<std::vector<CVUserRole>>& userRoles) {
    // An empty id would go out as an empty path segment, another path of the service.
    if (solutionId.empty() || graphId.empty()) return std::nullopt;
    // A point that is not finite has no text: no request is made for it.
    const auto origin = from.description();
    const auto destination = to.description();
    if (origin.empty() || destination.empty()) return std::nullopt;
    std::optional<std::vector<std::string>> stopTexts;
    if (stops) {
        stopTexts.emplace();
        stopTexts->reserve(stops->size());
        for (const auto& stop : *stops) {
            stopTexts->push_back(stop.description());
            if (stopTexts->back().empty()) return std::nullopt;
        }
    }
    std::string path = "/";
    path += CVDirectionsRequest::pathSegment(solutionId);
    path += "/api/directions/";
    path += CVDirectionsRequest::pathSegment(graphId);
    auto request = CVDirectionsRequest::withPath(path);
    if (!request) return std::nullopt;
    request->add("v", "6");
    request->add("origin", origin);
    request->add("destination", destination);
    request->add("optimize", optimize ? "true" : "false");
    request->add("mode", travelMode);
    if (stopTexts) request->add("stops", *stopTexts, "|");
    if (avoid) request->addHighways("avoid", *avoid);
    if (exclude) request->addHighways("exclude", *exclude);
    if (userRoles) request->addUserRoles("appUserRoleIds", *userRoles);
    if (depart) {
        request->add("departure_time", CVDirectionsRequest::dateText(*depart));
    } else if (arrive) {
        request->add("arrival_time", CVDirectionsRequest::dateText(*arrive));
    }
    return request->url();
}

platform::Awaitable<std::shared_ptr<CVRouteInternal>> CVOnlineRoutingService::route(
    CVPoint from, CVPoint to, std::optional<std::vector<CVPoint>> stops, bool optimize, std::string travelMode,
    std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
    std::optional<Date> depart, std::optional<Date> arrive, std::optional<std::string> solutionId,
    std::optional<std::string> graphId, std::optional<std::vector<CVUserRole>> userRoles) {
    if (!solutionId || !graphId) co_return nullptr;
    const auto url = requestUrl(from, to, stops, optimize, travelMode, avoid, exclude, depart, arrive, *solutionId,
                                *graphId, userRoles);
    if (!url) co_return nullptr;

    CVDataProvider::DataResult fetched;
    try {
        fetched = co_await CVDataProvider::data(*url, std::nullopt, std::nullopt, true);
    } catch (const platform::CancellationError&) {
        throw;
    } catch (...) {
        online_routing::failLogged(std::current_exception());
    }
    if (!fetched.data) throw CVError(CVErrorCase::routeNotFound);

    std::shared_ptr<CVRouteResultInternal> result;
    try {
        result = CVRouteResultInternal::decode(
            std::string_view(reinterpret_cast<const char*>(fetched.data->data()), fetched.data->size()));
    } catch (...) {
        online_routing::failLogged(std::current_exception());
    }
    if (!result || result->status() != "OK" || result->routes().empty() || !result->routes().front()) {
        throw CVError(CVErrorCase::routeNotFound);
    }
    auto route = result->routes().front();
    fillLegAddresses(*route);
    for (const auto& leg : route->legsInternal()) {
        if (leg) leg->setRouteLegType(CVRouteLegType::venue);
    }
    route->setRestrictions(avoid ? CVHighway::highwaysAsStrings(*avoid) : std::vector<std::string>{});
    co_return route;
}

void CVOnlineRoutingService::fillLegAddresses(CVRouteInternal& route) {
    const auto& legs = route.legsInternal();
    for (std::size_t index = 0; index < legs.size(); ++index) {
        const auto& leg = legs[index];
        if (!leg) continue;
        const auto first = online_routing::firstStep(*leg);
        const auto last = online_routing::lastStep(*leg);
        if (online_routing::isEmpty(leg->start_address())) {
            const auto name = first ? online_routing::floorName(first->end_locationInternal()) : std::nullopt;
            leg->setStart_address(name ? "Level " + *name : std::string("Outside"));
        }
        const auto levelLabel = [&last] {
            const auto name = last ? online_routing::floorName(last->start_locationInternal()) : std::nullopt;
            return "Level " + name.value_or("");
        };
        if (!online_routing::isEmpty(leg->end_address()) || index + 1 == legs.size()) {
            leg->setEnd_address(levelLabel());
            continue;
        }
        const auto& next = legs[index + 1];
        const auto mine = online_routing::contextOf(last);
        const auto theirs = next ? online_routing::contextOf(online_routing::firstStep(*next)) : std::nullopt;
        if ((!mine && !theirs) || (mine && theirs && *mine == *theirs)) {
            leg->setEnd_address(levelLabel());
        } else if (theirs == "InsideBuilding") {
            leg->setEnd_address("Walk inside");
        } else if (theirs == "OutsideOnVenue") {
            leg->setEnd_address("Walk outside");
        }
    }
}

}  // namespace ambrell

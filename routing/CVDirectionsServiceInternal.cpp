#include "routing/CVDirectionsServiceInternal.h"

#include <utility>
#include <vector>

#include "Ambrell/CVError.h"
#include "Ambrell/ErrorObjects.h"
#include "data/CVEntrySeams.h"
#include "foundation/CVLogger.h"
#include "platform/runtime/Task.h"
#include "routing/CVDirectionsServiceImpl.h"

namespace ambrell {

namespace directions_service {
namespace {

std::string joined(const std::vector<std::string>& texts) {
    std::string text;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0) text += ',';
        text += texts[i];
    }
    return text;
}

void recordRequest(const std::vector<CVUserRole>& userRoles, const std::optional<std::vector<CVHighway>>& avoid,
                   const std::optional<std::vector<CVHighway>>& exclude, const std::string& travelMode) {
    CVLogEntry::Parameters parameters;
    if (!userRoles.empty()) {
        std::vector<std::string> names;
        names.reserve(userRoles.size());
        for (const auto& role : userRoles) names.push_back(role.name);
        parameters["user_roles"] = joined(names);
    }
    if (avoid && !avoid->empty()) parameters["avoid"] = joined(CVHighway::highwaysAsStrings(*avoid));
    if (exclude && !exclude->empty()) parameters["exclude"] = joined(CVHighway::highwaysAsStrings(*exclude));
    parameters["travel_modes"] = travelMode;
    CVLogger::event(CVLogEvent::directionsRequested, CVLogDomain::directions, std::move(parameters));
}

}  // namespace
}  // namespace directions_service

std::string CVDirectionsServiceInternal::travelModeText(CVTravelMode mode) {
    switch (mode) {
        case CVTravelMode::bicycling: return "bicycling";
        case CVTravelMode::driving: return "driving";
        case CVTravelMode::transit: return "transit";
        default: return "walking";
    }
}

CVTravelMode as_CVTravelMode(std::string_view text) { return CVDirectionsServiceImpl::travelMode(std::string(text)); }

platform::Awaitable<std::shared_ptr<CVRoute>> CVDirectionsServiceInternal::routing(CVDirectionsQuery query) {
    std::optional<CVPoint> origin = query.origin ? std::optional(query.origin->getPosition()) : query.originPoint;
    if (!origin) throw CVError(CVErrorCase::routeNotFound);
    std::optional<CVPoint> destination =
        query.destination ? std::optional(query.destination->getPosition()) : query.destinationPoint;
    if (!destination) throw CVError(CVErrorCase::routeNotFound);

    std::optional<std::vector<CVPoint>> stops;
    if (query.stops) {
        stops.emplace();
        for (const auto& stop : *query.stops) {
            if (stop) stops->push_back(stop->getPosition());
        }
    } else {
        stops = query.stopsPoints;
    }
    // Refused before it is recorded: nothing of it can be sent.
    if (!CVDirectionsServiceImpl::canBeSent(*origin, *destination, stops)) {
        throw CVError(CVErrorCase::invalidRouteQuery);
    }
    const auto mode = travelModeText(query.travelMode);
    const auto entry = CVEntryObjectSeam::installed();
    auto userRoles = entry ? entry->userRoles() : std::vector<CVUserRole>{};

    directions_service::recordRequest(userRoles, query.avoidWayTypes, query.excludeWayTypes, mode);

    const auto planner = std::make_shared<CVDirectionsServiceImpl>();
    co_return co_await planner->route(std::move(*origin), std::move(*destination), std::move(stops),
                                      query.optimizeRoute, mode, std::move(query.avoidWayTypes),
                                      std::move(query.excludeWayTypes), query.departure, query.arrival,
                                      std::move(userRoles));
}

void CVDirectionsServiceInternal::routingWithQuery(CVDirectionsQuery query, Completion completion) {
    platform::Task::start([query = std::move(query)]() mutable { return routing(std::move(query)); },
                          [completion = std::move(completion)](platform::TaskResult<std::shared_ptr<CVRoute>> outcome) {
                              if (!completion) return;
                              if (outcome.error()) {
                                  completion(nullptr, errorObjectFor(outcome.error()));
                              } else {
                                  completion(std::move(outcome.get()), std::nullopt);
                              }
                          });
}

}  // namespace ambrell

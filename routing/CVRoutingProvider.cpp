#include "routing/CVRoutingProvider.h"

#include <utility>

#include "data/AmbrellLegacy.h"

namespace ambrell {

CVRoutingProvider::CVRoutingProvider(std::string solutionId, std::shared_ptr<CVRoutingService> service)
    : language(AmbrellLegacy::getLanguage()), solutionId(std::move(solutionId)), service_(std::move(service)) {}

platform::Awaitable<std::shared_ptr<CVRouteInternal>> CVRoutingProvider::route(
    CVPoint from, CVPoint to, std::optional<std::vector<CVPoint>> stops, bool optimize, std::string by,
    std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
    std::optional<Date> depart, std::optional<Date> arrive, std::optional<std::vector<CVUserRole>> userRoles) {
    // The web service reads z as the floor index.
    CVPoint origin(from.coordinate().latitude, from.coordinate().longitude, static_cast<double>(from.zIndex()));
    CVPoint destination(to.coordinate().latitude, to.coordinate().longitude, static_cast<double>(to.zIndex()));
    co_return co_await service_->route(std::move(origin), std::move(destination), std::move(stops), optimize,
                                       std::move(by), std::move(avoid), std::move(exclude), depart, arrive, solutionId,
                                       venue, std::move(userRoles));
}

}  // namespace ambrell

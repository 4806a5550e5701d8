#include "routing/CVDistanceMatrixProvider.h"

#include <string_view>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "foundation/CVDataProvider.h"
#include "routing/CVDirectionsRequest.h"

namespace ambrell {

std::optional<std::string> CVDistanceMatrixProvider::requestUrl(
    const std::string& solutionId, const std::string& graphId, const std::vector<std::string>& origins,
    const std::vector<std::string>& destinations, const std::string& travelMode,
    const std::optional<std::vector<CVHighway>>& avoid, const std::optional<std::vector<CVHighway>>& exclude,
    const std::optional<std::vector<CVUserRole>>& userRoles) {
    // An empty id would go out as an empty path segment, another path of the service.
    if (solutionId.empty()) return std::nullopt;
    std::string path = "/";
    path += CVDirectionsRequest::pathSegment(solutionId);
    path += "/api/distancematrix";
    auto request = CVDirectionsRequest::withPath(path);
    if (!request) return std::nullopt;
    request->add("v", "6");
    request->add("graphId", graphId);
    request->add("origins", origins, "|");
    request->add("destinations", destinations, "|");
    request->add("mode", travelMode);
    if (avoid) request->addHighways("avoid", *avoid);
    if (exclude) request->addHighways("exclude", *exclude);
    if (userRoles) request->addUserRoles("appUserRoleIds", *userRoles);
    return request->url();
}

platform::Awaitable<std::optional<CVDistanceMatrixResult>> CVDistanceMatrixProvider::distanceMatrix(
    std::vector<std::string> origins, std::vector<std::string> destinations, std::string travelMode,
    std::optional<std::vector<CVHighway>> avoid, std::optional<std::vector<CVHighway>> exclude,
    std::optional<Date> /*depart*/, std::optional<Date> /*arrive*/, std::optional<std::vector<CVUserRole>> userRoles) {
    if (origins.empty() || destinations.empty()) {
        CVLog::core().debug(
            "distanceMatrix(origins:destinations:travelMode:avoid:exclude:depart:arrive:userRoles:): Cannot request "
            "matrix when origins or destinations are empty");
        throw CVError(CVErrorCase::invalidRouteQuery);
    }
    // Read once: the caller may set the next graph while this request runs.
    const auto solution = solutionId;
    const auto graph = graphId;
    if (!solution || !graph) throw CVError(CVErrorCase::invalidRouteQuery);
    const auto url = requestUrl(*solution, *graph, origins, destinations, travelMode, avoid, exclude, userRoles);
    if (!url) co_return std::nullopt;
    const auto fetched = co_await CVDataProvider::data(*url, std::nullopt, std::nullopt, true);
    if (!fetched.data) co_return std::nullopt;
    co_return CVDistanceMatrixResult::decode(
        std::string_view(reinterpret_cast<const char*>(fetched.data->data()), fetched.data->size()));
}

}  // namespace ambrell

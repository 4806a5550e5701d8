#include "data/CVRouteNetworkSeams.h"

#include <mutex>

#include "Ambrell/CVErrorCodes.h"
#include "data/CVDataSetSeams.h"
#include "foundation/CVAXAPI.h"

namespace ambrell {

namespace {

struct InstalledRouteNetworkService {
    std::mutex mutex;
    std::shared_ptr<CVRouteNetworkServicing> service;
};

InstalledRouteNetworkService& installedRouteNetworkService() {
    static InstalledRouteNetworkService instance;
    return instance;
}

std::shared_ptr<CVRouteNetworkServicing> currentRouteNetworkService() {
    auto& state = installedRouteNetworkService();
    std::lock_guard lock(state.mutex);
    return state.service;
}

}  // namespace

void CVRouteNetworkSeams::setService(std::shared_ptr<CVRouteNetworkServicing> service) {
    auto& state = installedRouteNetworkService();
    std::lock_guard lock(state.mutex);
    // The old one leaves with the parameter, after the lock is released.
    state.service.swap(service);
}

bool CVRouteNetworkSeams::isCachedDataAvailableForSolutionId(std::string_view solutionId) {
    if (const auto service = currentRouteNetworkService())
        return service->isCachedDataAvailableForSolutionId(solutionId);
    const std::string url = CVAXAPI::sharedInstance()->graphSyncUrlForSolutionId(solutionId, std::nullopt);
    return CVDataSetSeams::pathForCachedUrl(url, solutionId).has_value();
}

void CVRouteNetworkSeams::getRouteNetworkForSolutionAsync(std::string solutionId, std::string venueId,
                                                          CVRouteNetworkServicing::Completion completion) {
    if (const auto service = currentRouteNetworkService()) {
        service->getRouteNetworkForSolutionAsync(std::move(solutionId), std::move(venueId), std::move(completion));
        return;
    }
    if (completion) completion(nullptr, routeNetworkUnavailableError());
}

std::size_t CVRouteNetworkSeams::networkCount(const std::shared_ptr<CVRouteNetworkData>& data) {
    if (!data) return 0;
    const auto service = currentRouteNetworkService();
    return service ? service->networkCount(*data) : 0;
}

std::shared_ptr<CVRouteNetworkData> CVRouteNetworkSeams::mergeRouteNetworks(
    const std::vector<std::shared_ptr<CVRouteNetworkData>>& graphs) {
    const auto service = currentRouteNetworkService();
    return service ? service->mergeRouteNetworks(graphs) : nullptr;
}

platform::NSError CVRouteNetworkSeams::routeNetworkUnavailableError() {
    platform::NSError error;
    error.domain = kAmbrellErrorDomain;
    error.code = AmbrellErrorCode::kRouteNetworkUnavailable;
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey),
                           std::string("The route network could be neither downloaded nor read"));
    return error;
}

void CVRouteNetworkSeams::resetForTesting() { setService(nullptr); }

}  // namespace ambrell

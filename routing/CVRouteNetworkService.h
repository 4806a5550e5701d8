#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "data/CVRouteNetworkSeams.h"
#include "platform/Error.h"

namespace ambrell {

namespace platform {
class DispatchQueue;
}
class CVRouteNetworkData;

// The one loader of a solution's route networks.
//
// The solution-wide load answers at once from the fastest place that has the
// document (the memory cache, the data set, the host app's resource
// "res/ax_sync_graph.json") and refreshes it from the web service behind the
// caller's back; the venue load always asks the web service, and falls back
// on the device's copies only when the download fails or its answer does not
// read as route networks (a proxy's login page, a body cut short).
//
// Every operation completes:
//   - on the main queue, asynchronously, exactly once per request, with the
//     data or with an error, never both and never neither; except the
//     venue load's refusal of its arguments, which completes synchronously
//     on the caller's thread;
//   - with errors of the library's domain: kRouteNetworkUnavailable
//     (101400, no user info) when the network can be neither downloaded nor
//     read, kInvalidParameter (101200, its text under "msg") for a refused
//     argument.
// Requests cannot be cancelled; the runtime's shutdown ends a download with
// kRouteNetworkUnavailable to a caller not yet answered.
//
// Loads run one at a time on the serial queue "com.ambrell.CVRouteNetworkService";
// the answer to a download is handled on the HTTP data provider's thread.
class CVRouteNetworkService {
public:
    using Completion = CVRouteNetworkServicing::Completion;

    CVRouteNetworkService() = delete;

    [[nodiscard]] static const platform::DispatchQueue& sharedRouteNetworkServiceQueue();

    // The solution-wide load for the bound API key.
    static void getRouteNetworkForCurrentSolutionWithCompletion(Completion completion);
    // The solution-wide load. A later refresh replaces the memory-cache entry
    // without calling the completion again.
    static void getRouteNetworkForSolution(std::optional<std::string> solutionId, Completion completion);
    // The venue load: false, and no load, when an argument is refused (no
    // completion: nothing is called; no or an empty solution id: the
    // completion gets kInvalidParameter at once).
    static bool getRouteNetworkForSolution(std::optional<std::string> solutionId, std::optional<std::string> venueId,
                                           Completion completion);
    static void getRouteNetworkForSolutionAsync(std::optional<std::string> solutionId, Completion completion);
    static void getRouteNetworkForSolutionAsync(std::optional<std::string> solutionId,
                                                std::optional<std::string> venueId, Completion completion);

    // The memory-cache keys: the plain "graph" sync URL (no language given, so
    // the current one applies), with the venue for the venue load.
    [[nodiscard]] static std::string cacheKeyForSolutionId(std::optional<std::string_view> solutionId);
    [[nodiscard]] static std::string cacheKeyForSolutionIdAndVenueId(std::optional<std::string_view> solutionId,
                                                                     std::optional<std::string_view> venueId);

    // Whether the solution's data set holds the solution-wide document. No side effects.
    [[nodiscard]] static bool isCachedDataAvailableForSolutionId(std::string_view solutionId);

    // Makes the content layer load route networks through this service.
    static void install();
};

// The service as the content layer sees it (CVRouteNetworkSeams).
class CVRouteNetworkServiceSeam final : public CVRouteNetworkServicing {
public:
    [[nodiscard]] bool isCachedDataAvailableForSolutionId(std::string_view solutionId) const override;
    void getRouteNetworkForSolutionAsync(std::string solutionId, std::string venueId, Completion completion) override;
    [[nodiscard]] std::size_t networkCount(const CVRouteNetworkData& data) const override;
    [[nodiscard]] std::shared_ptr<CVRouteNetworkData> mergeRouteNetworks(
        const std::vector<std::shared_ptr<CVRouteNetworkData>>& graphs) const override;
};

}  // namespace ambrell

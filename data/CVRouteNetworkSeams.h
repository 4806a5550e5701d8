#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace ambrell {

// The route networks of one load. Defined by the routing code above this
// layer; the content models only hand it around.
class CVRouteNetworkData;

// What the content layer asks of the route-network service, which lives above
// it. The routing code installs its service; until then the layer knows only
// what the data sets on disk tell (see CVRouteNetworkSeams).
class CVRouteNetworkServicing {
public:
    using Completion = std::function<void(std::shared_ptr<CVRouteNetworkData>, std::optional<platform::NSError>)>;

    virtual ~CVRouteNetworkServicing() = default;

    // Whether the solution's data set holds the route-network document. No side effects.
    [[nodiscard]] virtual bool isCachedDataAvailableForSolutionId(std::string_view solutionId) const = 0;
    // The venue's route networks, read from the data set or downloaded into
    // it.
    //   Completes: exactly once, on any thread.
    //   Errors: an error of the library's domain (kRouteNetworkUnavailable
    //     when they can be neither downloaded nor read).
    //   Cancelling: not possible; the runtime's shutdown ends a download with
    //     the same error.
    virtual void getRouteNetworkForSolutionAsync(std::string solutionId, std::string venueId,
                                                 Completion completion) = 0;
    // How many route networks the data holds (its `networks`).
    [[nodiscard]] virtual std::size_t networkCount(const CVRouteNetworkData& data) const = 0;
    // One data of the networks of every given one, in the given order (null
    // entries skipped); a later network of a graph id replaces an earlier one
    // in the look-up by lower-cased graph id.
    [[nodiscard]] virtual std::shared_ptr<CVRouteNetworkData> mergeRouteNetworks(
        const std::vector<std::shared_ptr<CVRouteNetworkData>>& graphs) const = 0;
};

class CVRouteNetworkSeams {
public:
    CVRouteNetworkSeams() = delete;

    // Null removes the installed one.
    static void setService(std::shared_ptr<CVRouteNetworkServicing> service);

    // The installed service's answer; without one, whether the data-set cache
    // manager has a file for the solution's "graph" sync URL (no language
    // given, so the current one applies) in the data set of that id.
    [[nodiscard]] static bool isCachedDataAvailableForSolutionId(std::string_view solutionId);
    // Without a service the completion gets routeNetworkUnavailableError() at once.
    static void getRouteNetworkForSolutionAsync(std::string solutionId, std::string venueId,
                                                CVRouteNetworkServicing::Completion completion);
    // No data, or no service to look inside it, holds no network.
    [[nodiscard]] static std::size_t networkCount(const std::shared_ptr<CVRouteNetworkData>& data);
    // Null without a service to merge them.
    [[nodiscard]] static std::shared_ptr<CVRouteNetworkData> mergeRouteNetworks(
        const std::vector<std::shared_ptr<CVRouteNetworkData>>& graphs);

    [[nodiscard]] static platform::NSError routeNetworkUnavailableError();

    // Test-only.
    static void resetForTesting();
};

}  // namespace ambrell

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "routing/Graph/CVAccessTokens.h"

namespace ambrell {

class CVPoint;
class CVRouteNetwork;
class CVRouteNetworkEntryPoint;

// All route networks of one load: the networks of a route-network document
// (the JSON array of the "graph" sync endpoint), or of several merged. It
// answers which network's area holds a point and which entry points of a
// network a user may take.
//
// Thread-safe: the network list and the look-up by graph id sit behind one
// lock. The networks themselves are not synchronised: a path search changes
// its graph's search state, so one network serves one search at a time.
class CVRouteNetworkData {
public:
    using Networks = std::vector<std::shared_ptr<CVRouteNetwork>>;
    // Lower-cased graph id to network.
    using NetworksByGraphId = std::map<std::string, std::shared_ptr<CVRouteNetwork>, std::less<>>;
    using AccessTokens = CVAccessTokens;
    using EntryPoints = std::vector<std::shared_ptr<CVRouteNetworkEntryPoint>>;

    CVRouteNetworkData() = default;
    explicit CVRouteNetworkData(Networks networks);

    // Parses a route-network document. JSON that does not read gives null and,
    // when `error` is given, the reader's error ("NSCocoaErrorDomain", 3840).
    // Each element of the array that is an object is offered as a network;
    // refused networks and other elements are left out, and a document that is
    // not an array holds no network (no error).
    [[nodiscard]] static std::shared_ptr<CVRouteNetworkData> initWithData(std::span<const std::uint8_t> data,
                                                                          platform::NSError* error = nullptr);
    // As initWithData, for a download that is to replace the stored copy: only
    // a top-level array reads (an empty one as a solution without networks).
    // Anything else, an error page or an object that merely parses, gives null
    // and an error, so that it never stands in for a network set.
    [[nodiscard]] static std::shared_ptr<CVRouteNetworkData> initWithDownloadedData(std::span<const std::uint8_t> data,
                                                                                    platform::NSError* error = nullptr);

    [[nodiscard]] Networks networks() const;
    // Also forgets the look-up by graph id, which is built again on next use.
    void setNetworks(Networks networks);

    // Built once, on first use, from the networks: a later network of a graph
    // id takes the place of an earlier one.
    [[nodiscard]] std::shared_ptr<const NetworksByGraphId> networkFromGraphId() const;
    void setNetworkFromGraphId(NetworksByGraphId networks);
    // The network of the graph id exactly as given (callers pass the lower-case form).
    [[nodiscard]] std::shared_ptr<CVRouteNetwork> networkForGraphId(std::string_view graphId) const;

    // The lower-cased graph id of the first network, in list order, whose area
    // holds the point; none when no area does.
    [[nodiscard]] std::optional<std::string> getGraphIdFromPoint(const CVPoint& point) const;
    // The entry points of the graph the tokens open, in the graph's order. An
    // unknown graph id, or a network without graph, has none.
    [[nodiscard]] EntryPoints networkEntryPointsForRoutingGraphId(std::string_view graphId,
                                                                  const AccessTokens& accessTokens) const;

    [[nodiscard]] std::string debugDescription() const;

private:
    mutable std::mutex mutex_;
    Networks networks_;
    mutable std::shared_ptr<const NetworksByGraphId> byGraphId_;
};

}  // namespace ambrell

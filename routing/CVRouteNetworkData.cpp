#include "routing/CVRouteNetworkData.h"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "Ambrell/CVGeometry.h"
#include "Ambrell/CVPoint.h"
#include "Ambrell/ErrorObjects.h"
#include "foundation/CVTextCase.h"
#include "routemodel/CVRouteNetworkEntryPoint.h"
#include "routing/CVRouteNetwork.h"
#include "routing/Graph/CVGraph.h"

namespace ambrell {

namespace json = boost::json;

CVRouteNetworkData::CVRouteNetworkData(Networks networks) : networks_(std::move(networks)) {}

namespace {

enum class TopLevel { anyValue, arrayOnly };

std::shared_ptr<CVRouteNetworkData> readDocument(std::span<const std::uint8_t> data, platform::NSError* error,
                                                 TopLevel topLevel) {
    json::error_code parseError;
    json::value document =
        json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), parseError);
    if (parseError) {
        if (error != nullptr) {
            // The platform's JSON reader reports malformed text with this code.
            *error = errorWithDescription("NSCocoaErrorDomain", 3840,
                                          fmt::format("The data is not valid JSON: {}", parseError.message()));
        }
        return nullptr;
    }
    auto* elements = document.if_array();
    if (elements == nullptr && topLevel == TopLevel::arrayOnly) {
        if (error != nullptr) {
            *error = errorWithDescription("NSCocoaErrorDomain", 3840,
                                          "The data is not a route-network document: its top level is not an array");
        }
        return nullptr;
    }
    CVRouteNetworkData::Networks networks;
    if (elements != nullptr) {
        for (auto& element : *elements) {
            auto* object = element.if_object();
            if (object == nullptr) continue;
            if (auto network = CVRouteNetwork::newWithDict(std::move(*object))) networks.push_back(std::move(network));
        }
    }
    return std::make_shared<CVRouteNetworkData>(std::move(networks));
}

}  // namespace

std::shared_ptr<CVRouteNetworkData> CVRouteNetworkData::initWithData(std::span<const std::uint8_t> data,
                                                                     platform::NSError* error) {
    return readDocument(data, error, TopLevel::anyValue);
}

std::shared_ptr<CVRouteNetworkData> CVRouteNetworkData::initWithDownloadedData(std::span<const std::uint8_t> data,
                                                                               platform::NSError* error) {
    return readDocument(data, error, TopLevel::arrayOnly);
}

CVRouteNetworkData::Networks CVRouteNetworkData::networks() const {
    std::lock_guard lock(mutex_);
    return networks_;
}

void CVRouteNetworkData::setNetworks(Networks networks) {
    std::lock_guard lock(mutex_);
    networks_ = std::move(networks);
    byGraphId_.reset();
}

std::shared_ptr<const CVRouteNetworkData::NetworksByGraphId> CVRouteNetworkData::networkFromGraphId() const {
    std::lock_guard lock(mutex_);
    if (!byGraphId_) {
        auto byGraphId = std::make_shared<NetworksByGraphId>();
        for (const auto& network : networks_) {
            if (network && network->graphId()) {
                byGraphId->insert_or_assign(lowercasedText(*network->graphId()), network);
            }
        }
        byGraphId_ = std::move(byGraphId);
    }
    return byGraphId_;
}

void CVRouteNetworkData::setNetworkFromGraphId(NetworksByGraphId networks) {
    std::lock_guard lock(mutex_);
    byGraphId_ = std::make_shared<const NetworksByGraphId>(std::move(networks));
}

std::shared_ptr<CVRouteNetwork> CVRouteNetworkData::networkForGraphId(std::string_view graphId) const {
    const auto byGraphId = networkFromGraphId();
    const auto found = byGraphId->find(graphId);
    return found != byGraphId->end() ? found->second : nullptr;
}

std::optional<std::string> CVRouteNetworkData::getGraphIdFromPoint(const CVPoint& point) const {
    const CLLocationCoordinate2D coordinate{point.latitude(), point.longitude()};
    for (const auto& network : networks()) {
        if (!network || !network->graphArea() || !network->graphId()) continue;
        if (network->graphArea()->containsPoint(coordinate)) return lowercasedText(*network->graphId());
    }
    return std::nullopt;
}

CVRouteNetworkData::EntryPoints CVRouteNetworkData::networkEntryPointsForRoutingGraphId(
    std::string_view graphId, const AccessTokens& accessTokens) const {
    EntryPoints entryPoints;
    const auto network = networkForGraphId(graphId);
    if (!network || !network->graph()) return entryPoints;
    for (const auto& node : network->graph()->entryPointNodes()) {
        if (!node || !node->isAccessibleWithAccessTokens(accessTokens)) continue;
        if (auto entryPoint = CVRouteNetworkEntryPoint::newWithEntryPointNode(node)) {
            entryPoints.push_back(std::move(entryPoint));
        }
    }
    return entryPoints;
}

std::string CVRouteNetworkData::debugDescription() const {
    const auto all = networks();
    auto text = fmt::format("<CVRouteNetworkData {}:\n  networks[{}]", static_cast<const void*>(this), all.size());
    for (const auto& network : all) {
        if (network) text += fmt::format("\n    {}", network->debugDescription());
    }
    return text + "\n>";
}

}  // namespace ambrell

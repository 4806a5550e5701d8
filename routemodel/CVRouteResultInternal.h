#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/fwd.hpp>

#include "routemodel/CVRouteInternal.h"

namespace ambrell {

// What the web service's directions endpoint answers: "routes" and "status".
class CVRouteResultInternal {
public:
    using Route = std::shared_ptr<CVRouteInternal>;

    CVRouteResultInternal() = default;

    // Throws CVRouteCodingError: text that is not JSON, a top level that is
    // no object, or a member of the wrong kind, with the member's key path.
    [[nodiscard]] static std::shared_ptr<CVRouteResultInternal> decode(std::string_view json);
    [[nodiscard]] static std::shared_ptr<CVRouteResultInternal> decodeValue(const boost::json::value& json);
    [[nodiscard]] boost::json::value encode() const;

    [[nodiscard]] const std::vector<Route>& routes() const { return routes_; }
    [[nodiscard]] std::vector<Route>& routes() { return routes_; }
    void setRoutes(std::vector<Route> routes) {
        routes_ = std::move(routes);
        routesPresent_ = true;
    }
    // Whether "routes" is written: it was read or set, or holds a route
    // (added through routes()). An empty result writes none.
    [[nodiscard]] bool hasRoutes() const { return routesPresent_ || !routes_.empty(); }
    [[nodiscard]] const std::optional<std::string>& status() const { return status_; }
    void setStatus(std::optional<std::string> status) { status_ = std::move(status); }

private:
    std::vector<Route> routes_;
    // An absent list reads as an empty one, yet a document that had the key
    // keeps it when written back.
    bool routesPresent_ = false;
    std::optional<std::string> status_;
};

}  // namespace ambrell

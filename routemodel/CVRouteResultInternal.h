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
    void setRoutes(std::vector<Route> routes) { routes_ = std::move(routes); }
    [[nodiscard]] const std::optional<std::string>& status() const { return status_; }
    void setStatus(std::optional<std::string> status) { status_ = std::move(status); }

private:
    std::vector<Route> routes_;
    std::optional<std::string> status_;
};

}  // namespace ambrell

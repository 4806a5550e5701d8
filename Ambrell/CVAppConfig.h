#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVMenuItem.h"

namespace ambrell {

// The solution's app data as hosts see it: theme colours ("#RRGGBB" texts),
// the app menus by name, venue images and free-form app settings.
class CVAppConfig {
public:
    using Menus = std::map<std::string, std::vector<std::shared_ptr<const CVMenuInfo>>>;

    virtual ~CVAppConfig() = default;

    [[nodiscard]] virtual std::optional<std::string> getColorPrimary() const = 0;
    [[nodiscard]] virtual std::optional<std::string> getColorPrimaryDark() const = 0;
    [[nodiscard]] virtual std::optional<std::string> getColorAccent() const = 0;
    [[nodiscard]] virtual Menus getMenuInfo() const = 0;
    [[nodiscard]] virtual boost::json::object getVenueImages() const = 0;
    [[nodiscard]] virtual boost::json::object getAppSettings() const = 0;
};

}  // namespace ambrell

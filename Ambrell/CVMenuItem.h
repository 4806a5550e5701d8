#pragma once

#include <optional>
#include <string>

namespace ambrell {

// One entry of an app menu of the solution's app data: the category it
// opens and its pictures.
class CVMenuInfo {
public:
    virtual ~CVMenuInfo() = default;

    [[nodiscard]] virtual std::optional<std::string> getCategoryKey() const = 0;
    [[nodiscard]] virtual std::optional<std::string> getMenuImageUrl() const = 0;
    [[nodiscard]] virtual std::optional<std::string> getIconUrl() const = 0;
};

}  // namespace ambrell

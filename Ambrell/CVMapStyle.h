#pragma once

#include <string>

namespace ambrell {

// One look of a venue's map tiles: the tile folder that holds it and the
// name shown to the user.
class CVMapStyle {
public:
    virtual ~CVMapStyle() = default;

    [[nodiscard]] virtual std::string getFolder() const = 0;
    [[nodiscard]] virtual std::string getDisplayName() const = 0;
};

}  // namespace ambrell

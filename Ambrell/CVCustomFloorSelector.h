#pragma once

#include <memory>
#include <optional>

namespace ambrell {

class CVBuilding;

// Told when the user picks another floor in a floor selector.
class CVFloorSelectorDelegate {
public:
    virtual ~CVFloorSelectorDelegate() = default;

    virtual void onFloorIndexChanged(double floorIndex) = 0;
};

// A floor selector the map shows over its map view; the host may give one of
// its own in place of the default. Used on the main thread.
class CVCustomFloorSelector {
public:
    virtual ~CVCustomFloorSelector() = default;

    virtual void onShow() = 0;
    virtual void onHide() = 0;

    // The building whose floors are offered, as last given.
    [[nodiscard]] virtual std::shared_ptr<CVBuilding> building() const = 0;
    virtual void setBuilding(const std::shared_ptr<CVBuilding>& building) = 0;

    // Held weakly.
    [[nodiscard]] virtual std::shared_ptr<CVFloorSelectorDelegate> delegate() const = 0;
    virtual void setDelegate(const std::weak_ptr<CVFloorSelectorDelegate>& delegate) = 0;

    // The selected floor index, if any.
    [[nodiscard]] virtual std::optional<double> floorIndex() const = 0;
    virtual void setFloorIndex(std::optional<double> floorIndex) = 0;

    // Takes the selector off the screen; a selector that has nothing to take
    // off may leave it.
    virtual void remove() {}
};

}  // namespace ambrell

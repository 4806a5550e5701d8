#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Ambrell/CVCustomClusterIcon.h"
#include "viewmodels/CVMapProvider.h"
#include "viewmodels/FontStyle.h"

namespace ambrell {

// What the view models read of the map control, which is built above them and
// implements this. Every member may be read from any thread.
class CVMapControlSeam {
public:
    virtual ~CVMapControlSeam() = default;

    // The adapter the map control draws through.
    [[nodiscard]] virtual std::shared_ptr<CVMapProvider> map() const = 0;
    [[nodiscard]] virtual bool showInfoWindowOnClickedLocation() const = 0;
    // The map state's current selection behaviour's showInfoWindow.
    [[nodiscard]] virtual bool selectionBehaviorShowsInfoWindow() const = 0;
    // The host's cluster images from the map state; null when it gave none.
    [[nodiscard]] virtual std::shared_ptr<CVCustomClusterIcon> customClusterIcon() const = 0;
    // The host's label font style from the map state, if it set one.
    [[nodiscard]] virtual std::optional<FontStyle> internalFontStyle() const = 0;
    // The id of the building the camera is in, if any.
    [[nodiscard]] virtual std::optional<std::string> currentBuildingId() const = 0;
    // The camera's zoom level and bearing in degrees at the moment of asking.
    [[nodiscard]] virtual double cameraZoom() const = 0;
    [[nodiscard]] virtual double cameraBearing() const = 0;
};

}  // namespace ambrell

#pragma once

#include <memory>

#include "viewmodels/CVMapProvider.h"

namespace ambrell {

class CVDirectionsRendererInternal;

// What the directions renderer and the user-position drawing ask of their map
// control, which implements this.
class CVMapControlDrawingSeam {
public:
    virtual ~CVMapControlDrawingSeam() = default;

    // The floor the map shows.
    [[nodiscard]] virtual int currentFloorIndex() const = 0;
    // Shows the floor. When that changes the map's floor, the current
    // directions renderer's floorChanged() runs on the main thread: before
    // this returns when called there, queued when called on another.
    virtual void selectWithFloorIndex(int floorIndex) = 0;
    // The adapter the map draws through; null when the map control is not
    // the library's own, which draws nothing through an adapter.
    [[nodiscard]] virtual std::shared_ptr<CVMapProvider> mapProvider() const = 0;
    // Makes the renderer the one told of floor changes; held weakly, since
    // the host owns its renderers.
    virtual void setCurrentDirectionsRenderer(std::weak_ptr<CVDirectionsRendererInternal> renderer) = 0;
};

}  // namespace ambrell

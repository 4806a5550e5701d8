#pragma once

#include <cstdint>
#include <memory>

#include "Ambrell/CVPositionResult.h"

namespace ambrell {

class CVBuilding;
class CVLocation;
class CVPoint;
class CVVenue;

// The members of CVMapControlDelegate a host may leave out.
enum class CVMapControlDelegateMember {
    cameraWillMove,
    didChangeCameraPosition,
    cameraIdle,
    didChangeSelectedVenue,
    didChangeSelectedBuilding,
    didChangeFloorIndex,
    // Selection and taps.
    didChangeSelectedLocation,
    didTapWithCoordinate,
    didTapIconWithLocation,
    didTapInfoWindowWithLocation,
    onPositionUpdate,
};

// What the map control tells its host. Every member is optional: the map
// control sends one only when respondsTo() says the host implements it.
// Called on the main thread, except the camera and tap members, which come on
// the adapter's thread.
class CVMapControlDelegate {
public:
    virtual ~CVMapControlDelegate() = default;

    [[nodiscard]] virtual bool respondsTo(CVMapControlDelegateMember /*member*/) const { return false; }

    virtual void cameraWillMove() {}
    // True when the host handles the camera change itself: the map then
    // does not follow it.
    virtual bool didChangeCameraPosition() { return false; }
    virtual void cameraIdle() {}
    virtual void didChangeSelectedVenue(const std::shared_ptr<CVVenue>& /*venue*/) {}
    virtual void didChangeSelectedBuilding(const std::shared_ptr<CVBuilding>& /*building*/) {}
    virtual void didChangeFloorIndex(std::int64_t /*floorIndex*/) {}

    // Selection and taps. A tap member answering true tells the map the host
    // handled the tap: the map then neither selects nor deselects.
    virtual void didChangeSelectedLocation(const std::shared_ptr<CVLocation>& /*location*/) {}
    // A tap on the map where nothing drawn was hit.
    virtual bool didTapWithCoordinate(const CVPoint& /*coordinate*/) { return false; }
    // A tap on a drawn location.
    virtual bool didTapIconWithLocation(const std::shared_ptr<CVLocation>& /*location*/) { return false; }
    virtual bool didTapInfoWindowWithLocation(const std::shared_ptr<CVLocation>& /*location*/) { return false; }
    // Each fix of the map's position provider.
    virtual void onPositionUpdate(const CVPositionResult& /*position*/) {}
};

}  // namespace ambrell

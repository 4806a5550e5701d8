#pragma once

#include <string>

#include "platform/Coordinate.h"
#include "viewmodels/CVRenderedFeatureType.h"

namespace ambrell {

// What the adapter tells of its camera. Called on any thread.
class CVCameraEventDelegate {
public:
    virtual ~CVCameraEventDelegate() = default;

    virtual void cameraWillMove() = 0;
    virtual void cameraChangedPosition() = 0;
    virtual void cameraIdle() = 0;
};

// What the adapter tells of taps, beside its camera events. Called on any
// thread.
class CVMapProviderDelegate : public CVCameraEventDelegate {
public:
    // A tap where no feature was hit.
    virtual void didTap(platform::CLLocationCoordinate2D coordinate) = 0;
    // A tap on a drawn feature of the location; true when it was consumed.
    virtual bool didTap(const std::string& locationId, CVRenderedFeatureType type) = 0;
    // True when the tap was consumed.
    virtual bool didTapInfoWindowOf(const std::string& locationId) = 0;
};

}  // namespace ambrell

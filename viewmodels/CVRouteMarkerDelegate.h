#pragma once

#include <string>

namespace ambrell {

// Told by the adapter's route renderer when the user taps one of the route's
// markers. The map control's directions renderer implements it.
class CVRouteMarkerDelegate {
public:
    virtual ~CVRouteMarkerDelegate() = default;

    // `tag` is the tapped marker's view-model id ("start_marker", "end_marker", "stop_2").
    virtual void onRouteMarkerClicked(const std::string& tag) = 0;
};

}  // namespace ambrell

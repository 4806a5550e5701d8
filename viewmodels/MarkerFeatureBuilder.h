#pragma once

#include <memory>
#include <optional>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "platform/runtime/Executor.h"
#include "viewmodels/FontStyle.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

// The bearing a flat label is drawn at so that it never reads upside down
// from the camera: the rule's bearing (its remainder by 360, keeping the
// sign), turned half round when it faces more than 90 degrees away from the
// camera's. Not reduced again: 10 under a camera at 200 gives 190.
[[nodiscard]] double uprightLabelBearing(double ruleBearing, double cameraBearing);

// Sets the view model's marker: the location's point with what the adapter
// needs to draw its icon and label and to sort, collide, cluster and tap it;
// stores the icon (with its live-data and rule badges) under data[icon], and
// opens the info window of a selected location when `showInfoWindow` allows.
// Without `fontStyle` the label is styled by the rule. Only the library's own
// locations get a marker; others leave the view model as it was. The rule
// and the view model must outlive the call.
platform::Awaitable<void> buildMarkerFeature(const CVLocation& location, std::shared_ptr<const CVDisplayRule> rule,
                                             std::optional<FontStyle> fontStyle, bool selected, bool showInfoWindow,
                                             ViewModel& viewModel, double zoom, double cameraBearing);

}  // namespace ambrell

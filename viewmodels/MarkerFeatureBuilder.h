#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "platform/Image.h"
#include "platform/runtime/Executor.h"
#include "viewmodels/CVViewModelFeature.h"
#include "viewmodels/CVViewModelFeatureGeometry.h"
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

// The same in two halves around the one step that may wait, the rule's icon,
// for callers that have it at hand: the draft holds the marker until its
// icon is known; finishing it with the icon (null when markerShowsIcon says
// none is shown) sets the marker and data[icon].
struct MarkerDraft {
    CVViewModelFeatureGeometry point;
    CVFeatureProperties properties;
    std::int64_t labelSize = 0;
};
// Whether the marker shows the rule's icon: always for a selected location,
// else in the icon's zoom range when the rule shows icons.
[[nodiscard]] bool markerShowsIcon(const CVDisplayRule& rule, bool selected, double zoom);
// None, leaving the view model as it was but for the info window, for a
// location that is not the library's or whose point cannot be a feature.
[[nodiscard]] std::optional<MarkerDraft> draftMarkerFeature(const CVLocation& location, const CVDisplayRule& rule,
                                                            const std::optional<FontStyle>& fontStyle, bool selected,
                                                            bool showInfoWindow, ViewModel& viewModel, double zoom,
                                                            double cameraBearing);
void finishMarkerFeature(MarkerDraft draft, const CVLocation& location, const CVDisplayRule& rule,
                         const std::shared_ptr<const platform::Image>& icon, double zoom, ViewModel& viewModel);

}  // namespace ambrell

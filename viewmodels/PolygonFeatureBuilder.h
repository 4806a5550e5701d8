#pragma once

#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

// Sets the view model's polygon: the location's outline, filled and stroked
// as the rule says, when the rule shows polygons at the zoom and the location
// is one of the library's with a polygon or multipolygon. Otherwise the view
// model is left as it was. Reads the screen's scale where it is called, on
// any thread.
void buildPolygonFeature(const CVLocation& location, const CVDisplayRule& rule, double zoom, ViewModel& viewModel);

}  // namespace ambrell

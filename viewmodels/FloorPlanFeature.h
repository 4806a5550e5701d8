#pragma once

#include "viewmodels/ViewModel.h"

namespace ambrell {

class CVLocation;
struct CVDerivedGeometry;

// The floor-plan builder, for a derived geometry of kind "floorplan": at
// zooms from 15 to 999 (both included) sets `floorPlanExtrusion` to the
// geometry's polygon or multipolygon, white with a grey (#6B7280) outline
// one unit wide, never clickable, whatever the display rule says.
void buildFloorPlan(const CVLocation& location, double zoom, const CVDerivedGeometry& derivedGeometry,
                    ViewModel& viewModel);

}  // namespace ambrell

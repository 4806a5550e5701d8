#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVFeatureType.h"
#include "platform/runtime/Executor.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

class CVDisplayRule;
class CVLocation;
struct CVDerivedGeometry;

// Which derived-geometry features a render builds: each is on unless the
// map hides its feature kind (floor plans 2, walls 3, extrusions 4).
struct DerivedGeometrySwitches {
    bool floorPlans = true;
    bool walls = true;
    bool featureExtrusions = true;

    [[nodiscard]] static DerivedGeometrySwitches hiding(const std::vector<CVFeatureType>& hiddenFeatures);
};

// The derived-geometry builder: the location's derived geometries of the
// loaded solution, in order, become its floor plan ("floorplan"), wall
// extrusion ("wall") and feature extrusion ("extrusion"), each when its
// switch is on; the last of a kind that yields a feature wins. Nothing before
// a solution's derived geometry has loaded.
void buildDerivedGeometryFeatures(const CVLocation& location, const CVDisplayRule& rule, double zoom,
                                  DerivedGeometrySwitches switches, ViewModel& viewModel);

// The wall and feature extrusion builders: when the rule shows the kind at
// the zoom and has its colour, the geometry in that colour (lightened or
// darkened by the rule's factor) at the rule's height in metres.
void buildWallExtrusion(const CVLocation& location, const CVDisplayRule& rule, double zoom,
                        const CVDerivedGeometry& derivedGeometry, ViewModel& viewModel);
void buildFeatureExtrusion(const CVLocation& location, const CVDisplayRule& rule, double zoom,
                           const CVDerivedGeometry& derivedGeometry, ViewModel& viewModel);

// The outline of a building drawn with the building rule: the location's
// polygon, unfilled, stroked in the rule's colour and width (in points of the
// main screen); nothing without a stroke colour or when the rule hides
// polygons at the zoom.
void buildOutlinePolygon(const CVLocation& location, const CVDisplayRule& rule, double zoom, ViewModel& viewModel);

// The view model of a building (base type 4), for the producer's
// per-location step: drawn with the solution's building rule when the map is
// in no building and the building's parent is unknown, or when the map is in
// the building's parent; with its own rule otherwise. Only derived-geometry
// features and, with the building rule, the outline; none without a rule.
// `currentBuildingId` is the map control's current building, none when the
// map control is gone or in no building. Completes on the caller's executor
// after asking the entry object for the parent; the location must live until
// then.
[[nodiscard]] platform::Awaitable<std::optional<ViewModel>> buildingViewModel(
    const CVLocation& location, std::optional<std::string> currentBuildingId, double zoom,
    DerivedGeometrySwitches switches);

}  // namespace ambrell

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Image.h"
#include "viewmodels/ViewModel.h"

namespace ambrell {

class CVDisplayRule;
class CVLocation;

// The largest side, in pixels, a 2D model image gets at the zoom out of the
// adapter's `resolutionLimit`: all of it at zoom 21 and 22 and at every zoom
// of 17 or more that is not a whole 17 to 20, half at 19 and 20, a quarter at
// 17 and 18, an eighth below 17; at least 1.
[[nodiscard]] std::int64_t model2DPixelBudget(std::int64_t resolutionLimit, double zoom);

// The 2D model builder, for a location whose rule shows its 2D model at the
// zoom. `realizedImage` is the rule's 2D model image as realised for
// `resolutionLimit` (null when it could not be had: an error is logged and
// nothing changes). Stores the image, scaled to the zoom's budget, under
// data[model2D] (removed when no image results) and sets `model2D`: a point at
// the location's position with the model's id ("<location id>/2D"), bearing,
// size in metres, kind, clickability and, with an image, its scale.
void buildModel2D(const CVLocation& location, const CVDisplayRule& rule,
                  const std::shared_ptr<const platform::Image>& realizedImage, std::int64_t resolutionLimit,
                  double zoom, ViewModel& viewModel);

// The 3D model builder. When the rule shows its 3D model at the zoom and the
// current data set can keep the model file, sets `model3D` (a point at the
// location's position whose "model3dUri" names the local copy, "file:/"
// followed by its path) and starts the file's download unless it is there.
// Nothing without a model URL, a valid one or a current data set.
void buildModel3D(const CVLocation& location, const CVDisplayRule& rule, ViewModel& viewModel, double zoom);

// The model URL as it is requested and cached: every space written "%20";
// none when the result is empty or no URL.
[[nodiscard]] std::optional<std::string> model3DUrl(const std::string& model);

}  // namespace ambrell

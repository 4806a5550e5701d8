#pragma once

#include <memory>

#include "Ambrell/CVMapConfig.h"
#include "viewmodels/CVMapProvider.h"

namespace ambrell {

// The adapter slot every map configuration shares: one for the process,
// empty at first. The host fills it before it makes a map control, which
// takes the adapter it finds there; a later change leaves existing map
// controls alone. Safe from any thread.
[[nodiscard]] std::shared_ptr<CVMapProvider> mapProvider(const CVMapConfig& config);
void setMapProvider(const CVMapConfig& config, std::shared_ptr<CVMapProvider> provider);

}  // namespace ambrell

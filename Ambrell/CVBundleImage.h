#pragma once

#include <memory>
#include <string_view>

#include "platform/Image.h"

namespace ambrell {

// The framework's own image of the name ("stop-pin", "next", "steps", ...),
// at the scale it was drawn for; null for a name the framework has no image
// of. The images are built into the library, so no resource folder is
// needed. Shared and never changed: callers draw copies. Any thread.
[[nodiscard]] std::shared_ptr<const platform::Image> bundleImage(std::string_view name);

}  // namespace ambrell

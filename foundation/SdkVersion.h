#pragma once

#include <string>

namespace ambrell {

// The library's own short version string ("major.minor.patch"), sent to the
// web service with every request and stamped on stored data.
const std::string& sdkVersion();

}  // namespace ambrell

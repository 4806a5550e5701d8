#pragma once

#include <span>
#include <string_view>

namespace ambrell::bundle_resources {

// One PNG of Ambrell/resources, compiled in: the file "name@2x.png" is the
// image `name` at scale 2.
struct Resource {
    std::string_view name;
    double scale = 1;
    std::span<const unsigned char> png;
};

// Every image, generated from the resources folder when the build is configured.
[[nodiscard]] std::span<const Resource> images();

}  // namespace ambrell::bundle_resources

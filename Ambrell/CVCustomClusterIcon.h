#pragma once

#include <memory>
#include <string>

#include "platform/Image.h"

namespace ambrell {

// The host app's source of cluster images: when the map has one, clusters
// show its image instead of the drawn count disc.
class CVCustomClusterIcon {
public:
    virtual ~CVCustomClusterIcon() = default;

    // The image for a cluster of `size` locations of the type. Null hides
    // the cluster: the map shows no marker for it, and does not fall back to
    // the drawn count disc.
    [[nodiscard]] virtual std::shared_ptr<const platform::Image> clusterIconForType(const std::string& type,
                                                                                    int size) = 0;
};

}  // namespace ambrell

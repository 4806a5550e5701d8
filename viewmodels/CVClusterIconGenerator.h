#pragma once

#include <cstdint>
#include <memory>

#include "platform/CGSize.h"
#include "platform/Color.h"
#include "platform/Image.h"

namespace ambrell {

// Draws a cluster's image: the location type's icon at the top left of a
// canvas 1.2 times `clusterIconSize`, overlapped on its right by a disc of
// `colorOfCluster` with a thin white ring and the count in white bold, drawn
// smaller when it would not fit inside the disc.
class CVClusterIconGenerator {
public:
    CVClusterIconGenerator(CGSize clusterIconSize, std::int64_t clusterCount, platform::Color colorOfCluster,
                           std::shared_ptr<const platform::Image> iconOfLocationType);

    [[nodiscard]] CGSize clusterIconSize() const { return clusterIconSize_; }
    void setClusterIconSize(CGSize size) { clusterIconSize_ = size; }
    [[nodiscard]] std::int64_t clusterCount() const { return clusterCount_; }
    void setClusterCount(std::int64_t count) { clusterCount_ = count; }
    [[nodiscard]] const platform::Color& colorOfCluster() const { return colorOfCluster_; }
    void setColorOfCluster(platform::Color color) { colorOfCluster_ = color; }
    [[nodiscard]] const std::shared_ptr<const platform::Image>& iconOfLocationType() const {
        return iconOfLocationType_;
    }
    void setIconOfLocationType(std::shared_ptr<const platform::Image> icon) { iconOfLocationType_ = std::move(icon); }

    // The image at `scale` pixels per point (the main screen's by default);
    // null when no canvas of that size can be made (an empty or unusable size).
    [[nodiscard]] std::shared_ptr<const platform::Image> generate() const;
    [[nodiscard]] std::shared_ptr<const platform::Image> generate(double scale) const;

private:
    CGSize clusterIconSize_;
    std::int64_t clusterCount_;
    platform::Color colorOfCluster_;
    std::shared_ptr<const platform::Image> iconOfLocationType_;
};

}  // namespace ambrell

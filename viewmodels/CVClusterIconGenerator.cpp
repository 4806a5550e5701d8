#include "viewmodels/CVClusterIconGenerator.h"

#include <string>

#include "platform/Screen.h"
#include "platform/Text.h"
#include "viewmodels/ImageCanvas.h"

namespace ambrell {

CVClusterIconGenerator::CVClusterIconGenerator(CGSize clusterIconSize, std::int64_t clusterCount,
                                               platform::Color colorOfCluster,
                                               std::shared_ptr<const platform::Image> iconOfLocationType)
    : clusterIconSize_(clusterIconSize),
      clusterCount_(clusterCount),
      colorOfCluster_(colorOfCluster),
      iconOfLocationType_(std::move(iconOfLocationType)) {}

std::shared_ptr<const platform::Image> CVClusterIconGenerator::generate() const {
    return generate(platform::Screen::scale());
}

std::shared_ptr<const platform::Image> CVClusterIconGenerator::generate(double scale) const {
    const double width = clusterIconSize_.width;
    const double height = clusterIconSize_.height;
    auto canvas = ImageCanvas::create(CGSize{1.2 * width, 1.2 * height}, scale);
    if (!canvas) return nullptr;

    const double disc = 0.6 * width;
    if (iconOfLocationType_) canvas->drawImage(*iconOfLocationType_, {0, 0, width, height});
    // The white disc half a point larger all round rings the count disc.
    canvas->fillEllipse({0.6 * width - 0.5, 0.12 * height - 0.5, disc + 1, disc + 1},
                        platform::Color::fromRGBA(1, 1, 1));
    canvas->fillEllipse({0.6 * width, 0.12 * height, disc, disc}, colorOfCluster_);
    // Centred across the disc, from a sixteenth of it down.
    canvas->drawCentredText(std::to_string(clusterCount_), platform::Font::boldSystemFont(disc * 0.7),
                            {0.6 * width, 0.12 * height + disc * 0.0625, disc, disc},
                            platform::Color::fromRGBA(1, 1, 1));
    return std::make_shared<const platform::Image>(std::move(*canvas).image());
}

}  // namespace ambrell

#include "viewmodels/CVClusterIconGenerator.h"

#include <string>

#include "platform/Screen.h"
#include "platform/Text.h"
#include "viewmodels/ImageCanvas.h"

namespace ambrell {

namespace cluster_icon_generator {
namespace {

// The width of a count that is too wide for the disc, as a share of the disc.
constexpr double kFittedCountWidth = 0.9;

}  // namespace
}  // namespace cluster_icon_generator

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
    const std::string count = std::to_string(clusterCount_);
    platform::Font font = platform::Font::boldSystemFont(disc * 0.7);
    double top = 0.12 * height + disc * 0.0625;
    const double countWidth = platform::measureText(count, font).width;
    if (countWidth > disc) {
        // From three digits on the count would spill over the icon, white on
        // a light map, and off the image's edge: it is drawn smaller, a tenth
        // narrower than the disc and centred on it, so that even its corners
        // stay inside the round.
        font.size *= cluster_icon_generator::kFittedCountWidth * disc / countWidth;
        top = 0.12 * height + (disc - platform::measureText(count, font).height) / 2;
    }
    canvas->drawCentredText(count, font, {0.6 * width, top, disc, disc}, platform::Color::fromRGBA(1, 1, 1));
    return std::make_shared<const platform::Image>(std::move(*canvas).image());
}

}  // namespace ambrell

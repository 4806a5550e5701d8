#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVRouteStopIconProvider.h"
#include "platform/Color.h"

namespace ambrell {

// The library's stop icon: the framework's "stop-pin" recoloured once to a
// chosen colour, which can carry the stop's number. Accessors may be called
// from any thread.
class CVDefaultRouteStopIconConfig : public CVRouteStopIconProvider {
public:
    // The pin's own colour, "#EF4444".
    [[nodiscard]] static platform::Color pinColor();

    // Loads the pin and recolours it to `color`: the pixels of exactly the
    // pin's colour become `color`, premultiplied, its components held to
    // 0...1; edge pixels blending the pin with transparency keep theirs.
    CVDefaultRouteStopIconConfig(bool numbered, std::optional<std::string> label, platform::Color color);

    // A stored config carries nothing: one read back has no image (so stops
    // using it get no marker), is numbered, has no label and is red. The
    // document is not read.
    [[nodiscard]] static std::shared_ptr<CVDefaultRouteStopIconConfig> decode(const boost::json::value& document);
    // Writes nothing: an empty object.
    [[nodiscard]] boost::json::value encode() const;

    [[nodiscard]] std::shared_ptr<const platform::Image> image() const override;
    void setImage(std::shared_ptr<const platform::Image> image);
    [[nodiscard]] bool numbered() const;
    void setNumbered(bool numbered);
    [[nodiscard]] std::optional<std::string> label() const;
    void setLabel(std::optional<std::string> label);
    // The colour chosen when made; setting it does not recolour the image.
    [[nodiscard]] platform::Color color() const;
    void setColor(platform::Color color);

    // The image redrawn at 28 x 33 points with `number` in white bold 14
    // point text, centred 2 points above the middle (without the number when
    // not numbered); null without an image.
    [[nodiscard]] std::shared_ptr<const platform::Image> numberedImage(int number) const;

private:
    struct Decoded {};
    explicit CVDefaultRouteStopIconConfig(Decoded);

    mutable std::mutex mutex_;
    std::shared_ptr<const platform::Image> image_;
    bool numbered_ = true;
    std::optional<std::string> label_;
    platform::Color color_{1, 0, 0, 1};
};

}  // namespace ambrell

#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CGRect.h"
#include "platform/Color.h"

namespace ambrell::platform {

class View;

// A node of the drawing tree under the views: a rectangle with a background,
// rounded corners, opacity and sublayers, placed in its superlayer by its
// position and anchor point. Every view draws through one; a view's subviews'
// layers are its layer's sublayers, in the subviews' order. Views and layers
// belong to the main thread.
class Layer : public std::enable_shared_from_this<Layer> {
public:
    Layer() = default;
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;
    virtual ~Layer();

    // The rectangle in the superlayer that position, anchor point and bounds
    // size make; setting it moves the position and resizes the bounds.
    [[nodiscard]] CGRect frame() const;
    void setFrame(const CGRect& frame);
    // The layer's own coordinate space: its origin is the point of that space
    // at the layer's top-left corner (a scrolled view moves it).
    [[nodiscard]] const CGRect& bounds() const { return bounds_; }
    void setBounds(const CGRect& bounds) { bounds_ = bounds; }
    [[nodiscard]] CGPoint position() const { return position_; }
    void setPosition(CGPoint position) { position_ = position; }
    // In units of the bounds size; (0.5, 0.5), the centre, unless set.
    [[nodiscard]] CGPoint anchorPoint() const { return anchorPoint_; }
    void setAnchorPoint(CGPoint anchorPoint) { anchorPoint_ = anchorPoint; }

    [[nodiscard]] const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> color) { backgroundColor_ = color; }
    [[nodiscard]] double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius; }
    // Clips the contents and the sublayers to the (rounded) bounds.
    [[nodiscard]] bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool masks) { masksToBounds_ = masks; }
    // 0 to 1; applies to the layer and everything in it.
    [[nodiscard]] double opacity() const { return opacity_; }
    void setOpacity(double opacity) { opacity_ = opacity; }
    [[nodiscard]] bool isHidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }
    [[nodiscard]] bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    [[nodiscard]] const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    // The shadow is kept for the host's compositor; the image renderer draws
    // none, since a shadow falls outside the bounds it renders.
    [[nodiscard]] const Color& shadowColor() const { return shadowColor_; }
    void setShadowColor(const Color& color) { shadowColor_ = color; }
    [[nodiscard]] double shadowOpacity() const { return shadowOpacity_; }
    void setShadowOpacity(double opacity) { shadowOpacity_ = opacity; }
    [[nodiscard]] CGSize shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }
    [[nodiscard]] double shadowRadius() const { return shadowRadius_; }
    void setShadowRadius(double radius) { shadowRadius_ = radius; }

    [[nodiscard]] const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
    [[nodiscard]] std::shared_ptr<Layer> superlayer() const;
    // Adding a layer takes it out of its old superlayer first. Indices past
    // the end append.
    void addSublayer(const std::shared_ptr<Layer>& layer);
    void insertSublayer(const std::shared_ptr<Layer>& layer, std::size_t index);
    void removeFromSuperlayer();

    // The view this layer draws for, if any; the view clears it when it goes.
    [[nodiscard]] View* delegate() const { return delegate_; }

private:
    CGRect bounds_;
    CGPoint position_;
    CGPoint anchorPoint_{0.5, 0.5};
    std::optional<Color> backgroundColor_;
    double cornerRadius_ = 0;
    bool masksToBounds_ = false;
    double opacity_ = 1;
    bool hidden_ = false;
    bool opaque_ = false;
    std::string name_;
    Color shadowColor_{0, 0, 0, 1};
    double shadowOpacity_ = 0;
    CGSize shadowOffset_{0, -3};
    double shadowRadius_ = 3;
    std::vector<std::shared_ptr<Layer>> sublayers_;
    Layer* superlayer_ = nullptr;
    View* delegate_ = nullptr;

    friend class View;
};

// A layer filled with a linear gradient from startPoint to endPoint (in units
// of the bounds, top to bottom unless set), through `colors` at `locations`
// (0 to 1; spread evenly when empty or of another count).
class GradientLayer : public Layer {
public:
    [[nodiscard]] const std::vector<Color>& colors() const { return colors_; }
    void setColors(std::vector<Color> colors) { colors_ = std::move(colors); }
    [[nodiscard]] const std::vector<double>& locations() const { return locations_; }
    void setLocations(std::vector<double> locations) { locations_ = std::move(locations); }
    [[nodiscard]] CGPoint startPoint() const { return startPoint_; }
    void setStartPoint(CGPoint point) { startPoint_ = point; }
    [[nodiscard]] CGPoint endPoint() const { return endPoint_; }
    void setEndPoint(CGPoint point) { endPoint_ = point; }

private:
    std::vector<Color> colors_;
    std::vector<double> locations_;
    CGPoint startPoint_{0.5, 0};
    CGPoint endPoint_{0.5, 1};
};

// Straight-edged outlines, in the coordinates of the layer that draws them.
class Path {
public:
    void moveTo(CGPoint point);
    // Starts at the point when no figure is open.
    void lineTo(CGPoint point);
    void closePath();

    struct Figure {
        std::vector<CGPoint> points;
        bool closed = false;

        friend bool operator==(const Figure&, const Figure&) = default;
    };
    [[nodiscard]] const std::vector<Figure>& figures() const { return figures_; }
    [[nodiscard]] bool isEmpty() const { return figures_.empty(); }

    friend bool operator==(const Path&, const Path&) = default;

private:
    std::vector<Figure> figures_;
};

// A layer that fills and strokes a path (non-zero winding). Filled black and
// not stroked unless set.
class ShapeLayer : public Layer {
public:
    [[nodiscard]] const std::optional<Path>& path() const { return path_; }
    void setPath(std::optional<Path> path) { path_ = std::move(path); }
    [[nodiscard]] const std::optional<Color>& fillColor() const { return fillColor_; }
    void setFillColor(std::optional<Color> color) { fillColor_ = color; }
    [[nodiscard]] const std::optional<Color>& strokeColor() const { return strokeColor_; }
    void setStrokeColor(std::optional<Color> color) { strokeColor_ = color; }
    [[nodiscard]] double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width) { lineWidth_ = width; }

private:
    std::optional<Path> path_;
    std::optional<Color> fillColor_ = Color{0, 0, 0, 1};
    std::optional<Color> strokeColor_;
    double lineWidth_ = 1;
};

}  // namespace ambrell::platform

#include "platform/Layer.h"

#include <algorithm>

namespace ambrell::platform {

Layer::~Layer() {
    for (const auto& sublayer : sublayers_) sublayer->superlayer_ = nullptr;
}

CGRect Layer::frame() const {
    return CGRect{
        {position_.x - anchorPoint_.x * bounds_.size.width, position_.y - anchorPoint_.y * bounds_.size.height},
        bounds_.size};
}

void Layer::setFrame(const CGRect& frame) {
    bounds_.size = frame.size;
    position_ = {frame.origin.x + anchorPoint_.x * frame.size.width,
                 frame.origin.y + anchorPoint_.y * frame.size.height};
}

std::shared_ptr<Layer> Layer::superlayer() const {
    return superlayer_ != nullptr ? superlayer_->weak_from_this().lock() : nullptr;
}

void Layer::addSublayer(const std::shared_ptr<Layer>& layer) { insertSublayer(layer, sublayers_.size()); }

void Layer::insertSublayer(const std::shared_ptr<Layer>& layer, std::size_t index) {
    if (!layer || layer.get() == this) return;
    // A layer cannot hold one of its own ancestors.
    for (const Layer* ancestor = superlayer_; ancestor != nullptr; ancestor = ancestor->superlayer_) {
        if (ancestor == layer.get()) return;
    }
    const auto keep = layer;
    layer->removeFromSuperlayer();
    index = std::min(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), keep);
    keep->superlayer_ = this;
}

void Layer::removeFromSuperlayer() {
    if (superlayer_ == nullptr) return;
    auto& siblings = superlayer_->sublayers_;
    superlayer_ = nullptr;
    // Erasing may drop the last reference to this layer: nothing of it is
    // touched afterwards.
    const auto found =
        std::find_if(siblings.begin(), siblings.end(), [this](const auto& l) { return l.get() == this; });
    if (found != siblings.end()) siblings.erase(found);
}

void Path::moveTo(CGPoint point) { figures_.push_back(Figure{{point}, false}); }

void Path::lineTo(CGPoint point) {
    if (figures_.empty() || figures_.back().closed) {
        const CGPoint start = figures_.empty() ? point : figures_.back().points.front();
        figures_.push_back(Figure{{start}, false});
        if (start == point) return;
    }
    figures_.back().points.push_back(point);
}

void Path::closePath() {
    if (!figures_.empty()) figures_.back().closed = true;
}

}  // namespace ambrell::platform

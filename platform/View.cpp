#include "platform/View.h"

#include <algorithm>

namespace ambrell::platform {

View::View(const CGRect& frame) : layer_(std::make_shared<Layer>()) {
    layer_->delegate_ = this;
    layer_->setFrame(frame);
    layer_->setBounds(CGRect{{0, 0}, frame.size});
}

View::~View() {
    layer_->delegate_ = nullptr;
    for (const auto& subview : subviews_) subview->superview_ = nullptr;
}

void View::setFrame(const CGRect& frame) {
    if (frame.size != layer_->bounds().size) setNeedsLayout();
    layer_->setFrame(frame);
}

void View::setBounds(const CGRect& bounds) {
    if (bounds.size != layer_->bounds().size) setNeedsLayout();
    // The frame keeps its centre, as the anchor point sits there.
    layer_->setBounds(bounds);
}

std::shared_ptr<View> View::superview() const {
    return superview_ != nullptr ? superview_->weak_from_this().lock() : nullptr;
}

void View::addSubview(const std::shared_ptr<View>& view) {
    if (!view || view.get() == this) return;
    for (const View* ancestor = superview_; ancestor != nullptr; ancestor = ancestor->superview_) {
        if (ancestor == view.get()) return;
    }
    const auto keep = view;
    if (keep->superview_ != nullptr) keep->removeFromSuperview();
    subviews_.push_back(keep);
    keep->superview_ = this;
    layer_->addSublayer(keep->layer_);
    setNeedsLayout();
    keep->didMoveToSuperview();
}

void View::removeFromSuperview() {
    if (superview_ == nullptr) return;
    // The superview may hold the last reference to this view.
    const auto self = weak_from_this().lock();
    auto& siblings = superview_->subviews_;
    superview_ = nullptr;
    layer_->removeFromSuperlayer();
    const auto found =
        std::find_if(siblings.begin(), siblings.end(), [this](const auto& v) { return v.get() == this; });
    if (found != siblings.end()) siblings.erase(found);
    if (self) didMoveToSuperview();
}

void View::addConstraint(const std::shared_ptr<LayoutConstraint>& constraint) {
    if (!constraint || std::find(constraints_.begin(), constraints_.end(), constraint) != constraints_.end()) return;
    constraints_.push_back(constraint);
    setNeedsLayout();
}

void View::removeConstraint(const std::shared_ptr<LayoutConstraint>& constraint) {
    const auto found = std::find(constraints_.begin(), constraints_.end(), constraint);
    if (found == constraints_.end()) return;
    constraints_.erase(found);
    setNeedsLayout();
}

void View::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    // Layout may add or remove subviews: walk a copy.
    const auto subviews = subviews_;
    for (const auto& subview : subviews) subview->layoutIfNeeded();
}

void View::invalidateIntrinsicContentSize() {
    setNeedsLayout();
    if (superview_ != nullptr) superview_->setNeedsLayout();
}

std::shared_ptr<LayoutConstraint> LayoutConstraint::equal(const std::shared_ptr<View>& item, LayoutAttribute attribute,
                                                          const std::shared_ptr<View>& other,
                                                          LayoutAttribute otherAttribute, double constant) {
    auto constraint = std::make_shared<LayoutConstraint>();
    constraint->firstItem = item;
    constraint->firstAttribute = attribute;
    constraint->secondItem = other;
    constraint->secondAttribute = otherAttribute;
    constraint->constant = constant;
    return constraint;
}

std::shared_ptr<LayoutConstraint> LayoutConstraint::equalToConstant(const std::shared_ptr<View>& item,
                                                                    LayoutAttribute attribute, double constant) {
    auto constraint = std::make_shared<LayoutConstraint>();
    constraint->firstItem = item;
    constraint->firstAttribute = attribute;
    constraint->constant = constant;
    return constraint;
}

}  // namespace ambrell::platform

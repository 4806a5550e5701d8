#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/CGRect.h"
#include "platform/Color.h"
#include "platform/Layer.h"
#include "platform/LayoutConstraint.h"

namespace ambrell::platform {

// A rectangle of the screen in a retained tree: frame in its superview,
// bounds, subviews, hidden flag, alpha, background colour and the layer that
// draws it. Views are made with std::make_shared and belong to the main
// thread; a superview holds its subviews, and a subview's link back is
// cleared when the superview goes.
class View : public std::enable_shared_from_this<View> {
public:
    // What intrinsicContentSize() answers for a dimension the view has no
    // size of its own in.
    static constexpr double noIntrinsicMetric = -1;

    explicit View(const CGRect& frame = {});
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    virtual ~View();

    [[nodiscard]] CGRect frame() const { return layer_->frame(); }
    void setFrame(const CGRect& frame);
    [[nodiscard]] CGRect bounds() const { return layer_->bounds(); }
    void setBounds(const CGRect& bounds);

    [[nodiscard]] const std::shared_ptr<Layer>& layer() const { return layer_; }

    // Null when the superview is not held by a shared pointer.
    [[nodiscard]] std::shared_ptr<View> superview() const;
    [[nodiscard]] const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    // Adding a view takes it out of its old superview first; the view then
    // hears didMoveToSuperview(). Adding a view to itself or to one of its
    // own subviews is ignored.
    void addSubview(const std::shared_ptr<View>& view);
    void removeFromSuperview();
    virtual void didMoveToSuperview() {}

    [[nodiscard]] bool isHidden() const { return layer_->isHidden(); }
    void setHidden(bool hidden) { layer_->setHidden(hidden); }
    [[nodiscard]] double alpha() const { return layer_->opacity(); }
    void setAlpha(double alpha) { layer_->setOpacity(alpha); }
    [[nodiscard]] const std::optional<Color>& backgroundColor() const { return layer_->backgroundColor(); }
    virtual void setBackgroundColor(std::optional<Color> color) { layer_->setBackgroundColor(color); }
    [[nodiscard]] bool isOpaque() const { return layer_->isOpaque(); }
    void setOpaque(bool opaque) { layer_->setOpaque(opaque); }
    [[nodiscard]] bool clipsToBounds() const { return layer_->masksToBounds(); }
    void setClipsToBounds(bool clips) { layer_->setMasksToBounds(clips); }
    [[nodiscard]] bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
    [[nodiscard]] const EdgeInsets& layoutMargins() const { return layoutMargins_; }
    void setLayoutMargins(const EdgeInsets& margins) { layoutMargins_ = margins; }
    // The part of the bounds that bars and rounded screen corners leave free,
    // as insets; none by default.
    [[nodiscard]] const EdgeInsets& safeAreaInsets() const { return safeAreaInsets_; }
    void setSafeAreaInsets(const EdgeInsets& insets) { safeAreaInsets_ = insets; }

    // Constraints kept as records (see LayoutConstraint).
    [[nodiscard]] bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizingMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates) { translatesAutoresizingMask_ = translates; }
    [[nodiscard]] const std::vector<std::shared_ptr<LayoutConstraint>>& constraints() const { return constraints_; }
    // A null constraint or one already added is ignored.
    void addConstraint(const std::shared_ptr<LayoutConstraint>& constraint);
    void removeConstraint(const std::shared_ptr<LayoutConstraint>& constraint);

    // Layout runs when asked: setNeedsLayout() marks the view, and
    // layoutIfNeeded() runs layoutSubviews() on it and then on its subviews,
    // each only when marked. A new subview and a resize mark the view.
    void setNeedsLayout() { needsLayout_ = true; }
    [[nodiscard]] bool needsLayout() const { return needsLayout_; }
    void layoutIfNeeded();
    virtual void layoutSubviews() {}

    [[nodiscard]] virtual CGSize intrinsicContentSize() const { return {noIntrinsicMetric, noIntrinsicMetric}; }
    // Tells the superview's layout that the intrinsic size changed.
    void invalidateIntrinsicContentSize();

private:
    std::shared_ptr<Layer> layer_;
    View* superview_ = nullptr;
    std::vector<std::shared_ptr<View>> subviews_;
    std::vector<std::shared_ptr<LayoutConstraint>> constraints_;
    EdgeInsets layoutMargins_{8, 8, 8, 8};
    EdgeInsets safeAreaInsets_;
    bool userInteractionEnabled_ = true;
    bool translatesAutoresizingMask_ = true;
    bool needsLayout_ = true;
};

}  // namespace ambrell::platform

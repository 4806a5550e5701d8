#pragma once

#include <memory>

#include "platform/View.h"

namespace ambrell::platform {

class ScrollView;

// Told of every change of a scroll view's content offset.
class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView& scrollView) = 0;
};

enum class ScrollIndicatorStyle { Default, Black, White };

// A view whose subviews lie on a content area of contentSize, of which the
// part at contentOffset shows (the offset is the bounds origin). Scrolling
// is immediate: an animated scroll lands at once, as a test wants it.
class ScrollView : public View {
public:
    // Clips its content to its bounds.
    explicit ScrollView(const CGRect& frame = {});

    [[nodiscard]] CGSize contentSize() const { return contentSize_; }
    void setContentSize(CGSize size) { contentSize_ = size; }
    [[nodiscard]] CGPoint contentOffset() const { return bounds().origin; }
    // Tells the delegate when the offset changes.
    void setContentOffset(CGPoint offset, bool animated = false);

    [[nodiscard]] std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<ScrollViewDelegate>& delegate) { delegate_ = delegate; }

    [[nodiscard]] bool showsVerticalScrollIndicator() const { return showsVerticalIndicator_; }
    void setShowsVerticalScrollIndicator(bool shows) { showsVerticalIndicator_ = shows; }
    [[nodiscard]] ScrollIndicatorStyle indicatorStyle() const { return indicatorStyle_; }
    void setIndicatorStyle(ScrollIndicatorStyle style) { indicatorStyle_ = style; }

private:
    CGSize contentSize_;
    std::weak_ptr<ScrollViewDelegate> delegate_;
    bool showsVerticalIndicator_ = true;
    ScrollIndicatorStyle indicatorStyle_ = ScrollIndicatorStyle::Default;
};

}  // namespace ambrell::platform

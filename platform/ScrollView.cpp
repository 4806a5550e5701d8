#include "platform/ScrollView.h"

namespace ambrell::platform {

ScrollView::ScrollView(const CGRect& frame) : View(frame) { setClipsToBounds(true); }

void ScrollView::setContentOffset(CGPoint offset, bool /*animated*/) {
    CGRect moved = bounds();
    if (moved.origin == offset) return;
    moved.origin = offset;
    setBounds(moved);
    if (const auto listener = delegate()) listener->scrollViewDidScroll(*this);
}

}  // namespace ambrell::platform

#include "platform/ImageView.h"

namespace ambrell::platform {

void ImageView::setImage(std::optional<Image> image) {
    image_ = std::move(image);
    invalidateIntrinsicContentSize();
}

CGSize ImageView::intrinsicContentSize() const {
    if (!image_) return {noIntrinsicMetric, noIntrinsicMetric};
    return {image_->width() / image_->scale(), image_->height() / image_->scale()};
}

}  // namespace ambrell::platform

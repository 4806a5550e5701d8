#include "mapcontrol/CVDynamicContentSizeHelper.h"

#include <array>
#include <optional>
#include <string_view>

#include "Ambrell/CVLog.h"
#include "platform/ContentSizeCategory.h"

namespace ambrell {

namespace dynamic_content_size {
namespace {

constexpr std::array<std::string_view, 13> kNames = {
    "CVDynamicTextSize_Unknown",
    "CVDynamicTextSize_XS",
    "CVDynamicTextSize_S",
    "CVDynamicTextSize_M",
    "CVDynamicTextSize_L",
    "CVDynamicTextSize_XL",
    "CVDynamicTextSize_XXL",
    "CVDynamicTextSize_XXXL",
    "CVDynamicTextSize_Accessibility_M",
    "CVDynamicTextSize_Accessibility_L",
    "CVDynamicTextSize_Accessibility_XL",
    "CVDynamicTextSize_Accessibility_XXL",
    "CVDynamicTextSize_Accessibility_XXXL",
};

// The name under which observers of the size are told of an update, on the
// helper's own centre.
const platform::NotificationName& sizeUpdatedName() {
    static const platform::NotificationName name{"dynamicTextSize"};
    return name;
}

std::optional<CVDynamicTextSize> sizeForCategory(platform::ContentSizeCategory category) {
    using platform::ContentSizeCategory;
    switch (category) {
        case ContentSizeCategory::ExtraSmall: return CVDynamicTextSize::XS;
        case ContentSizeCategory::Small: return CVDynamicTextSize::S;
        case ContentSizeCategory::Medium: return CVDynamicTextSize::M;
        case ContentSizeCategory::Large: return CVDynamicTextSize::L;
        case ContentSizeCategory::ExtraLarge: return CVDynamicTextSize::XL;
        case ContentSizeCategory::ExtraExtraLarge: return CVDynamicTextSize::XXL;
        case ContentSizeCategory::ExtraExtraExtraLarge: return CVDynamicTextSize::XXXL;
        case ContentSizeCategory::AccessibilityMedium: return CVDynamicTextSize::Accessibility_M;
        case ContentSizeCategory::AccessibilityLarge: return CVDynamicTextSize::Accessibility_L;
        case ContentSizeCategory::AccessibilityExtraLarge: return CVDynamicTextSize::Accessibility_XL;
        case ContentSizeCategory::AccessibilityExtraExtraLarge: return CVDynamicTextSize::Accessibility_XXL;
        case ContentSizeCategory::AccessibilityExtraExtraExtraLarge: return CVDynamicTextSize::Accessibility_XXXL;
        case ContentSizeCategory::Unspecified: break;
    }
    return std::nullopt;
}

}  // namespace
}  // namespace dynamic_content_size

CVDynamicContentSizeHelper& CVDynamicContentSizeHelper::sharedInstance() {
    // Never destroyed: objects may stop observing it while statics are torn
    // down.
    static auto* shared = new CVDynamicContentSizeHelper();
    return *shared;
}

CVDynamicContentSizeHelper::CVDynamicContentSizeHelper() {
    updateContentSize();
    categoryToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::ContentSize::didChangeNotification(), [this](const platform::Notification&) { updateContentSize(); });
}

CVDynamicTextSize CVDynamicContentSizeHelper::dynamicTextSize() const {
    const std::lock_guard lock(mutex_);
    return dynamicTextSize_;
}

void CVDynamicContentSizeHelper::setDynamicTextSize(CVDynamicTextSize size) {
    CVDynamicTextSize old{};
    {
        const std::lock_guard lock(mutex_);
        old = dynamicTextSize_;
        dynamicTextSize_ = size;
    }
    if (old != size) {
        CVLog::core().debug("{} {}", "-[CVDynamicContentSizeHelper setDynamicTextSize:]",
                            "CVDynamicContentSizeHelper: " + nameForTextSize(old) + " => " + nameForTextSize(size));
    }
    observers_.post(dynamic_content_size::sizeUpdatedName());
}

CVDynamicContentSizeHelper::UpdateBlock CVDynamicContentSizeHelper::updateBlock() const {
    const std::lock_guard lock(mutex_);
    return updateBlock_;
}

void CVDynamicContentSizeHelper::setUpdateBlock(UpdateBlock block) {
    const std::lock_guard lock(mutex_);
    updateBlock_ = std::move(block);
}

void CVDynamicContentSizeHelper::updateContentSize() {
    const auto mapped = dynamic_content_size::sizeForCategory(platform::ContentSize::preferredCategory());
    const CVDynamicTextSize size = mapped ? *mapped : dynamicTextSize();
    if (const auto block = updateBlock()) block(size);
    setDynamicTextSize(size);
}

std::string CVDynamicContentSizeHelper::nameForTextSize(CVDynamicTextSize size) {
    const auto value = static_cast<std::uint64_t>(size);
    if (value < dynamic_content_size::kNames.size()) return std::string(dynamic_content_size::kNames[value]);
    return "CVDynamicTextSize=" + std::to_string(value);
}

platform::NotificationCenter::ObserverToken CVDynamicContentSizeHelper::observeDynamicTextSize(Observer observer) {
    return observers_.addObserver(dynamic_content_size::sizeUpdatedName(),
                                  [this, observer = std::move(observer)](const platform::Notification&) {
                                      if (observer) observer(dynamicTextSize());
                                  });
}

}  // namespace ambrell

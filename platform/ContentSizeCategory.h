#pragma once

#include "platform/NotificationCenter.h"

namespace ambrell::platform {

// The user's preferred size of text, as the platform's accessibility
// settings name it.
enum class ContentSizeCategory {
    Unspecified,
    ExtraSmall,
    Small,
    Medium,
    Large,
    ExtraLarge,
    ExtraExtraLarge,
    ExtraExtraExtraLarge,
    AccessibilityMedium,
    AccessibilityLarge,
    AccessibilityExtraLarge,
    AccessibilityExtraExtraLarge,
    AccessibilityExtraExtraExtraLarge,
};

// The process-wide preferred content size category, which the host sets from
// its platform's setting. Any thread.
class ContentSize {
public:
    // Posted on the default notification centre, on the setting thread and
    // after the new value is stored, when the category changes.
    [[nodiscard]] static const NotificationName& didChangeNotification();

    // Large until the host sets another.
    [[nodiscard]] static ContentSizeCategory preferredCategory() noexcept;
    static void setPreferredCategory(ContentSizeCategory category);
};

}  // namespace ambrell::platform

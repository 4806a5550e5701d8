#include "platform/ContentSizeCategory.h"

#include <mutex>

namespace ambrell::platform {

namespace content_size_category {
namespace {

struct Setting {
    std::mutex mutex;
    ContentSizeCategory category = ContentSizeCategory::Large;
};

Setting& setting() {
    static Setting shared;
    return shared;
}

}  // namespace
}  // namespace content_size_category

const NotificationName& ContentSize::didChangeNotification() {
    static const NotificationName name{"UIContentSizeCategoryDidChangeNotification"};
    return name;
}

ContentSizeCategory ContentSize::preferredCategory() noexcept {
    auto& setting = content_size_category::setting();
    const std::lock_guard lock(setting.mutex);
    return setting.category;
}

void ContentSize::setPreferredCategory(ContentSizeCategory category) {
    auto& setting = content_size_category::setting();
    {
        const std::lock_guard lock(setting.mutex);
        if (setting.category == category) return;
        setting.category = category;
    }
    // Observers run outside the lock, so they may read the category again.
    NotificationCenter::defaultCenter().post(didChangeNotification());
}

}  // namespace ambrell::platform

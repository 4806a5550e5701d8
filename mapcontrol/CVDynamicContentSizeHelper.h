#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/NotificationCenter.h"

namespace ambrell {

// The user's preferred text size as a small number; values past the last
// named one are kept as they are.
enum class CVDynamicTextSize : std::uint64_t {
    Unknown = 0,
    XS = 1,
    S = 2,
    M = 3,
    L = 4,
    XL = 5,
    XXL = 6,
    XXXL = 7,
    Accessibility_M = 8,
    Accessibility_L = 9,
    Accessibility_XL = 10,
    Accessibility_XXL = 11,
    Accessibility_XXXL = 12,
};

// Follows the platform's preferred content size category and publishes it as
// a CVDynamicTextSize that objects observe. One per process.
class CVDynamicContentSizeHelper {
public:
    using UpdateBlock = std::function<void(CVDynamicTextSize)>;
    using Observer = std::function<void(CVDynamicTextSize)>;

    // Made on first use, once even when first asked from several threads at
    // once; it then reads the category and follows its change notification.
    static CVDynamicContentSizeHelper& sharedInstance();

    CVDynamicContentSizeHelper(const CVDynamicContentSizeHelper&) = delete;
    CVDynamicContentSizeHelper& operator=(const CVDynamicContentSizeHelper&) = delete;

    // Unknown before the first update.
    [[nodiscard]] CVDynamicTextSize dynamicTextSize() const;
    // Stores the size (logging a change) and then tells every observer, also
    // when the size did not change. Observers run on the calling thread,
    // outside the helper's lock.
    void setDynamicTextSize(CVDynamicTextSize size);

    // Called with the size at every update, before the observers hear of it.
    [[nodiscard]] UpdateBlock updateBlock() const;
    void setUpdateBlock(UpdateBlock block);

    // Reads the preferred category again; one the table does not know keeps
    // the current size.
    void updateContentSize();

    // "CVDynamicTextSize_XS" and so on; "CVDynamicTextSize=13" past the table.
    [[nodiscard]] static std::string nameForTextSize(CVDynamicTextSize size);

    // Calls the observer with the current size after each setDynamicTextSize()
    // until the token goes; once the token is reset the observer is never
    // called again.
    [[nodiscard]] platform::NotificationCenter::ObserverToken observeDynamicTextSize(Observer observer);

private:
    CVDynamicContentSizeHelper();

    mutable std::mutex mutex_;
    CVDynamicTextSize dynamicTextSize_ = CVDynamicTextSize::Unknown;
    UpdateBlock updateBlock_;
    platform::NotificationCenter observers_;
    platform::NotificationCenter::ObserverToken categoryToken_;
};

}  // namespace ambrell

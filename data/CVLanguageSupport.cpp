#include "data/CVLanguageSupport.h"

#include <algorithm>
#include <mutex>

#include "Ambrell/CVLog.h"
#include "platform/UserDefaults.h"
#include "platform/runtime/MainQueue.h"

namespace ambrell {

namespace {

constexpr std::string_view kLanguageKey = "ax-language";
constexpr std::string_view kDefaultLanguageKey = "ax-default-language";
constexpr std::string_view kAvailableLanguagesKey = "ax-available-languages";

// Compare and write happen as one step, so two threads setting the same
// language announce one change, not two.
std::mutex& languageMutex() {
    static std::mutex mutex;
    return mutex;
}

platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

void writeOrRemove(std::string_view key, std::optional<std::string_view> value) {
    if (value) {
        defaults().setString(key, *value);
    } else {
        defaults().removeObjectForKey(key);
    }
}

}  // namespace

const platform::NotificationName& kNotificationAmbrellLanguageChanged() {
    static const platform::NotificationName name{"kNotificationAmbrellLanguageChanged"};
    return name;
}

bool CVLanguageSupport::ax_setLanguage(std::optional<std::string_view> language) {
    {
        std::lock_guard lock(languageMutex());
        const auto current = ax_getLanguage();
        if (current && language && *current == *language) return false;
        writeOrRemove(kLanguageKey, language);
        // The defaults refuse texts they could not read back (invalid UTF-8):
        // nothing changed then, so nothing is announced.
        const auto stored = ax_getLanguage();
        if (stored != language) {
            CVLog::core().error("The content language was not stored: the text is not valid UTF-8");
            return false;
        }
    }
    platform::MainQueue::shared().async(
        [] { platform::NotificationCenter::defaultCenter().post(kNotificationAmbrellLanguageChanged()); });
    return true;
}

std::optional<std::string> CVLanguageSupport::ax_getLanguage() { return defaults().stringForKey(kLanguageKey); }

void CVLanguageSupport::ax_setDefaultLanguage(std::optional<std::string_view> language) {
    writeOrRemove(kDefaultLanguageKey, language);
}

std::optional<std::string> CVLanguageSupport::ax_getDefaultLanguage() {
    return defaults().stringForKey(kDefaultLanguageKey);
}

void CVLanguageSupport::ax_setAvailableLanguages(const std::optional<std::vector<std::string>>& languages) {
    if (languages) {
        defaults().setStringArray(kAvailableLanguagesKey, *languages);
    } else {
        defaults().removeObjectForKey(kAvailableLanguagesKey);
    }
}

std::optional<std::vector<std::string>> CVLanguageSupport::ax_getAvailableLanguages() {
    return defaults().stringArrayForKey(kAvailableLanguagesKey);
}

bool CVLanguageSupport::ax_isLanguageAvailable(std::string_view language) {
    const auto languages = ax_getAvailableLanguages();
    return languages && std::find(languages->begin(), languages->end(), language) != languages->end();
}

void CVLanguageSupport::ax_switchToDefaultLanguage() { ax_setLanguage(ax_getDefaultLanguage()); }

}  // namespace ambrell

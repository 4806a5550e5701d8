#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NotificationCenter.h"

namespace ambrell {

// Posted, with no object, on the main queue after each change of the current
// content language; the new value is stored by then.
[[nodiscard]] const platform::NotificationName& kNotificationAmbrellLanguageChanged();

// The content language ("lr" of every sync URL), the solution's default
// language and the languages it offers, kept in the standard user defaults
// under "ax-language", "ax-default-language" and "ax-available-languages".
// Safe from any thread.
class CVLanguageSupport {
public:
    CVLanguageSupport() = delete;

    // False, with nothing written or posted, when the stored language already
    // equals the new one (or the user defaults refuse the text). Otherwise
    // writes it (none removes the key), announces the change and answers true;
    // a missing stored language never equals anything.
    static bool ax_setLanguage(std::optional<std::string_view> language);
    [[nodiscard]] static std::optional<std::string> ax_getLanguage();

    // None removes the key.
    static void ax_setDefaultLanguage(std::optional<std::string_view> language);
    [[nodiscard]] static std::optional<std::string> ax_getDefaultLanguage();

    // None removes the key.
    static void ax_setAvailableLanguages(const std::optional<std::vector<std::string>>& languages);
    [[nodiscard]] static std::optional<std::vector<std::string>> ax_getAvailableLanguages();

    // False while no list is stored.
    [[nodiscard]] static bool ax_isLanguageAvailable(std::string_view language);

    // ax_setLanguage() with the default language: with no default stored, the
    // current language is removed.
    static void ax_switchToDefaultLanguage();
};

}  // namespace ambrell

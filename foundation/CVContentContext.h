#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVUserRole.h"

namespace ambrell {

// What the service foundation reads of the layers above it: the API key and
// language the content layer's core state is bound to, and the user roles the
// entry object applies. Those layers install their readers when they come to
// life; until then there is no key, no stored language and no role.
class CVContentContext {
public:
    using TextReader = std::function<std::optional<std::string>()>;
    using UserRolesReader = std::function<std::vector<CVUserRole>()>;

    static void setApiKeyReader(TextReader reader);
    static void setLanguageReader(TextReader reader);
    static void setUserRolesReader(UserRolesReader reader);

    // The bound API key, if any.
    static std::optional<std::string> apiKey();
    // The current content language, "en" when none is stored.
    static std::string language();
    static std::vector<CVUserRole> userRoles();

    // Removes every installed reader.
    static void resetForTesting();
};

}  // namespace ambrell

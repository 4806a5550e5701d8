#pragma once

#include <string>
#include <string_view>

namespace ambrell::platform {

// The host app's translations of the library's English texts: the resources
// folder (Paths::resources()) may hold "Localizable.json", one object from
// English text to translated text. A missing or unreadable table, a missing
// key or a value that is not a text gives the English text back. The table is
// read again when the resources folder or the file changes. Any thread.
[[nodiscard]] std::string localizedString(std::string_view key);

}  // namespace ambrell::platform

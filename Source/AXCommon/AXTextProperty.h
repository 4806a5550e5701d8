#pragma once

#include <string>
#include <utility>

namespace ambrell {

// One searchable text of a location, in one language.
struct AXTextProperty {
    std::string language;
    std::string key;
    std::string value;

    [[nodiscard]] static AXTextProperty TextPropertyWithLanguage(std::string language, std::string key,
                                                                 std::string value) {
        return {std::move(language), std::move(key), std::move(value)};
    }

    friend bool operator==(const AXTextProperty&, const AXTextProperty&) = default;
};

}  // namespace ambrell

#pragma once

#include <compare>
#include <string>

namespace ambrell {

// A URL property of a model: the text of a valid URL reference, kept as
// written. Properties of this type import from JSON strings only and export
// as their text.
struct JSONURL {
    std::string absoluteString;

    friend bool operator==(const JSONURL&, const JSONURL&) = default;
    friend auto operator<=>(const JSONURL&, const JSONURL&) = default;
};

}  // namespace ambrell

#pragma once

#include <string>
#include <string_view>
#include <vector>

// How texts become comparable for search. Queries and stored texts go
// through the same functions, so "cafe", "CAFÉ" and "Cafe\u0301" all meet.
namespace ambrell::axsearch {

// Compatibility decomposition, case folding and removal of combining marks:
// "Straße" becomes "strasse", "Café" becomes "cafe".
// Throws std::invalid_argument when the text is not valid UTF-8.
[[nodiscard]] std::string foldedSearchText(std::string_view text);

// The folded text split into words on spaces and punctuation; no empty words.
// Throws std::invalid_argument when the text is not valid UTF-8.
[[nodiscard]] std::vector<std::string> searchTokens(std::string_view text);

// A property key compared without case (no other folding: keys are names,
// not prose). Throws std::invalid_argument when the key is not valid UTF-8.
[[nodiscard]] std::string foldedKey(std::string_view key);

}  // namespace ambrell::axsearch

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/fwd.hpp>
#include <boost/json/storage_ptr.hpp>

namespace ambrell {

// Nesting deeper than this is refused. GeoJSON needs a handful of levels
// (a multipolygon's coordinates are four deep); the bound keeps a hostile
// document from exhausting memory or stack.
inline constexpr std::size_t kJSONMaxNestingDepth = 512;

// Parses one JSON document strictly: standard JSON only (no comments, no
// trailing commas), valid UTF-8, at most kJSONMaxNestingDepth levels, no
// number beyond the range of a double, no key twice in one object, nothing
// but blanks after the document. On failure answers none and, when asked,
// says why in `failure`. The values are allocated from `storage`.
[[nodiscard]] std::optional<boost::json::value> parseJSON(std::string_view text, std::string* failure = nullptr,
                                                          boost::json::storage_ptr storage = {});

}  // namespace ambrell

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

// Why a text is no JSON document: the parser's reason and the byte offset
// at which it gave up.
struct JSONParseFailure {
    std::string reason;
    std::size_t offset = 0;
};

// Parses one JSON document strictly: standard JSON only (no comments, no
// trailing commas), valid UTF-8, at most kJSONMaxNestingDepth levels, no
// number beyond the range of a double, nothing but blanks after the
// document. A key repeated in one object keeps its last value. On failure
// answers none and says why in `failure`. The values are allocated from
// `storage`.
[[nodiscard]] std::optional<boost::json::value> parseJSON(std::string_view text, JSONParseFailure& failure,
                                                          boost::json::storage_ptr storage = {});
// The same, giving only the reason, when asked.
[[nodiscard]] std::optional<boost::json::value> parseJSON(std::string_view text, std::string* failure = nullptr,
                                                          boost::json::storage_ptr storage = {});

}  // namespace ambrell

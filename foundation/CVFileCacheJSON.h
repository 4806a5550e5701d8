#pragma once

#include <optional>
#include <string_view>

#include <boost/json/value.hpp>

#include "foundation/CVFileCache.h"

// Kept apart from CVFileCache.h so that only the callers that read JSON pay
// for Boost.JSON's headers.
namespace ambrell {

// The URL's cached file parsed as JSON (whatever its top-level kind). None when
// nothing is cached for the URL; none, after logging, when the file cannot be
// read or is not JSON.
[[nodiscard]] std::optional<boost::json::value> dictionaryFromCachedFileForUrl(const CVFileCache& cache,
                                                                               std::string_view url);

}  // namespace ambrell

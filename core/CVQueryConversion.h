#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Ambrell/CVQuery.h"
#include "Source/AXCommon/AXFilter.h"
#include "Source/AXCommon/AXQuery.h"

namespace ambrell {

// The public query and filter in the search engine's terms. Text ids,
// category keys and type names become their 32-bit search-engine ids, so
// they match in any letter case; an empty list stays empty (matching
// nothing), an absent one stays absent. Results are ordered by relevance.
[[nodiscard]] AXQuery axQueryFrom(const CVQuery& query);
[[nodiscard]] AXFilter axFilterFrom(const CVFilter& filter);
// As above, with the location ids of the filter turned into engine ids by
// `locationEngineId` (a location whose hash another one held is stored
// under an id of its own). Parent, category and type ids stay hashes.
[[nodiscard]] AXFilter axFilterFrom(const CVFilter& filter,
                                    const std::function<std::int32_t(const std::string&)>& locationEngineId);

}  // namespace ambrell

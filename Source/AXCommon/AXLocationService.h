#pragma once

#include "Source/AXCommon/AXFilter.h"
#include "Source/AXCommon/AXLocation.h"
#include "Source/AXCommon/AXQuery.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace ambrell {

// The in-memory location store behind every location search: text search
// with case and diacritic folding, filtering and ranking. Calls are
// synchronous; one thread at a time (the location service actor) may use it.
//
// Results are deterministic: every ordering ends with store order, the
// order in which ids were first added (an update keeps an id's place).
class AXLocationService {
public:
    [[nodiscard]] static AXLocationService create();

    AXLocationService();
    AXLocationService(AXLocationService&&) noexcept;
    AXLocationService& operator=(AXLocationService&&) noexcept;
    ~AXLocationService();

    // Upsert by location id. A location with text that is not UTF-8 or with a
    // non-finite coordinate or altitude is refused: it is neither added nor
    // does it replace the stored location of its id, while the rest of the
    // batch goes in. Returns the ids of the refused locations, in batch order
    // (empty when everything went in). A large batch is tokenised on the
    // shared thread pool's threads besides the caller's; the store is the
    // same as one thread would build.
    std::vector<std::int32_t> addOrUpdateLocations(const std::vector<AXLocation>& locations);
    // The same, taking the records over rather than copying them.
    std::vector<std::int32_t> addOrUpdateLocations(std::vector<AXLocation>&& locations);
    // Unknown ids are ignored.
    void removeLocationsWithIds(const std::vector<std::int32_t>& locationIds);
    void removeAllLocations();
    [[nodiscard]] std::size_t count() const;

    // The ids of the matching locations, ordered, skipped and taken as the
    // filter says. Throws std::invalid_argument for query text that is not
    // UTF-8 or for a non-finite `near` point or filter box.
    [[nodiscard]] std::vector<std::int32_t> locationIdsForQuery(const AXQuery& query, const AXFilter& filter) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "Source/AXCommon/AXLocationService.h"
#include "data/CVEntrySeams.h"
#include "data/CVLocationInternal.h"

namespace ambrell::test {

// The entry object's location search as path optimisation reaches it: each
// filter's bounds, floor, take and status flags are answered from the given
// locations through the search engine's location store, on a pool thread.
// Counts the searches and keeps their filters.
class StoreLocationSearch final : public CVEntryObjectSeam {
public:
    using Locations = std::vector<std::shared_ptr<CVLocationInternal>>;

    explicit StoreLocationSearch(const Locations& locations);

    // The sample solution's locations, as its web service serves them in English.
    [[nodiscard]] static Locations sampleLocations();

    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& /*location*/) const override {
        return nullptr;
    }
    void locationsWithQuery(std::optional<CVQuery> query, CVFilter filter,
                            std::function<void(std::vector<std::shared_ptr<CVLocation>>)> completion) const override;

    [[nodiscard]] std::size_t searchCount() const { return searches_.load(); }
    [[nodiscard]] std::vector<CVFilter> filters() const;

private:
    mutable std::mutex mutex_;
    mutable AXLocationService store_;
    std::unordered_map<std::int32_t, std::shared_ptr<CVLocationInternal>> byId_;
    mutable std::vector<CVFilter> filters_;
    mutable std::atomic<std::size_t> searches_ = 0;
};

// Installs the search as the entry object for its lifetime.
class ScopedLocationSearch {
public:
    explicit ScopedLocationSearch(const StoreLocationSearch::Locations& locations)
        : search_(std::make_shared<StoreLocationSearch>(locations)) {
        CVEntryObjectSeam::install(search_);
    }
    ~ScopedLocationSearch() { CVEntryObjectSeam::install(nullptr); }
    ScopedLocationSearch(const ScopedLocationSearch&) = delete;
    ScopedLocationSearch& operator=(const ScopedLocationSearch&) = delete;

    [[nodiscard]] const StoreLocationSearch& operator*() const { return *search_; }
    [[nodiscard]] const StoreLocationSearch* operator->() const { return search_.get(); }

private:
    std::shared_ptr<StoreLocationSearch> search_;
};

}  // namespace ambrell::test

#include "tests/routing/StoreLocationSearch.h"

#include <cmath>
#include <stdexcept>

#include <boost/asio/post.hpp>

#include "platform/FileSystem.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/SampleSolutionService.h"

namespace ambrell::test {

StoreLocationSearch::StoreLocationSearch(const Locations& locations) {
    std::vector<AXLocation> records;
    for (const auto& location : locations) {
        if (!location) continue;
        records.push_back(location->axLocation());
        byId_[records.back().locationId] = location;
    }
    (void)store_.addOrUpdateLocations(records);
}

StoreLocationSearch::Locations StoreLocationSearch::sampleLocations() {
    const auto bytes =
        platform::readFile(SampleSolutionService::committedSample() / "service" / "sync" / "locations_en.json");
    if (!bytes) throw std::runtime_error("the sample solution has no locations document");
    CVLocationDataset dataset;
    if (!dataset.initWithData(*bytes) || !dataset.list) throw std::runtime_error("the sample's locations do not read");
    return *dataset.list;
}

void StoreLocationSearch::locationsWithQuery(
    std::optional<CVQuery> /*query*/, CVFilter filter,
    std::function<void(std::vector<std::shared_ptr<CVLocation>>)> completion) const {
    ++searches_;
    {
        std::lock_guard lock(mutex_);
        filters_.push_back(filter);
    }
    boost::asio::post(platform::ThreadPool::shared().executor(),
                      [this, filter = std::move(filter), completion = std::move(completion)] {
                          AXFilter engineFilter;
                          if (filter.bounds) {
                              const auto southWest = filter.bounds->southWest();
                              const auto northEast = filter.bounds->northEast();
                              engineFilter.bounds = AXCoordinateBounds::CoordinateBoundsWithNortheast(
                                  AXCoordinate::CoordinateWithLat(northEast.latitude, northEast.longitude),
                                  AXCoordinate::CoordinateWithLat(southWest.latitude, southWest.longitude));
                          }
                          if (filter.floorIndex) engineFilter.floor = static_cast<int>(std::lround(*filter.floorIndex));
                          engineFilter.take = filter.take;
                          engineFilter.skip = filter.skip;
                          engineFilter.ignoreSearchableStatus = filter.ignoreSearchableStatus;
                          engineFilter.ignoreActiveStatus = filter.ignoreActiveStatus;
                          std::vector<std::shared_ptr<CVLocation>> found;
                          {
                              std::lock_guard lock(mutex_);
                              for (const auto id : store_.locationIdsForQuery(AXQuery{}, engineFilter)) {
                                  if (const auto location = byId_.find(id); location != byId_.end())
                                      found.push_back(location->second);
                              }
                          }
                          completion(std::move(found));
                      });
}

std::vector<CVFilter> StoreLocationSearch::filters() const {
    std::lock_guard lock(mutex_);
    return filters_;
}

}  // namespace ambrell::test

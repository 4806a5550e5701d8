#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVGeometry.h"
#include "data/CVBuildingInternal.h"
#include "platform/Error.h"
#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

// Told of a provider's answers, on the main queue. Every callback is optional.
class CVBuildingProviderDelegate {
public:
    virtual ~CVBuildingProviderDelegate() = default;
    // Before the request's completion.
    virtual void onBuildingsReady(const std::vector<std::shared_ptr<CVBuildingInternal>>& /*buildings*/) {}
    // Before the request's completion.
    virtual void onBuildingDetailsReady(const std::shared_ptr<CVBuildingInternal>& /*building*/) {}
    // After the request's completion; null when no building lies within the bounds.
    virtual void onBuildingWithinBoundsReady(const std::shared_ptr<CVBuildingInternal>& /*building*/) {}
};

// Loads the buildings of one venue (the "buildings" sync document with a
// venue filter) into the memory cache, under a key of the provider's venue,
// and answers look-ups by id and by bounds from that list. A list request
// always asks the web service first; only when that fails does it answer
// what is held: the memory entry, else the data set's copy of the URL, else
// the host app's resource (restricted to the venue), so that a venue whose
// data set is complete loads offline.
//
// Made with std::make_shared: a request keeps its provider alive until it has
// answered. Thread-safe. Requests and look-ups of every provider start on one
// serial queue (queue()); a download's outcome is read on the HTTP data
// provider's thread; answers and delegate calls go to the main queue.
class CVBuildingProvider : public std::enable_shared_from_this<CVBuildingProvider> {
public:
    using Buildings = std::vector<std::shared_ptr<CVBuildingInternal>>;
    // On error the list is empty.
    using BuildingsCompletion = std::function<void(Buildings, std::optional<platform::NSError>)>;
    // On error the building is null.
    using BuildingCompletion =
        std::function<void(std::shared_ptr<CVBuildingInternal>, std::optional<platform::NSError>)>;

    explicit CVBuildingProvider(std::string venueId);
    [[nodiscard]] static std::shared_ptr<CVBuildingProvider> initWithVenueId(std::string venueId);

    [[nodiscard]] std::string venueId() const;
    void setVenueId(std::string venueId);
    void setDelegate(std::weak_ptr<CVBuildingProviderDelegate> delegate);
    [[nodiscard]] std::shared_ptr<CVBuildingProviderDelegate> delegate() const;
    // Kept for the owner; no operation reads it.
    [[nodiscard]] std::optional<CVGeoBounds> coordinateBounds() const;
    void setCoordinateBounds(std::optional<CVGeoBounds> bounds);

    // The memory-cache key of the provider's own venue, whatever venue a
    // request names in its URL.
    [[nodiscard]] std::string buildingsCacheKeyForSolutionId(std::optional<std::string_view> solutionId,
                                                             std::string_view language) const;

    // The list of `requestVenueId` ("all" for the whole solution), stored
    // under the provider's key.
    //   Completes: on the main queue, the delegate's onBuildingsReady first,
    //     only after the download has ended.
    //   Errors: 100410 when the download failed and nothing is held; 100310
    //     when the downloaded file does not read and nothing is held, or, on
    //     a 304 with nothing in memory, the earlier copy does not read. What
    //     is held (the memory entry, the data set's copies, the host app's
    //     resource) answers a download that does not read as it answers a
    //     failed one.
    //   Cancelling: not possible.
    void getBuildingsAsync(std::string requestVenueId, std::optional<std::string> solutionId, std::string language,
                           BuildingsCompletion completion = {});
    // The first building of the list with the id; the list is fetched ("all")
    // when it is not in memory.
    //   Completes: on the main queue, the delegate's onBuildingDetailsReady
    //     first. Without a solution id, or when the list fetch fails, the
    //     completion is never called.
    //   Errors: 100300 when the list has no building with the id.
    //   Cancelling: not possible.
    void getBuildingDetailsAsync(std::string buildingId, std::optional<std::string> solutionId, std::string language,
                                 BuildingCompletion completion = {});
    // The first building of the list whose bounding box meets the bounds;
    // the list is fetched ("all") when it is not in memory.
    //   Completes: on the main queue, then the delegate's
    //     onBuildingWithinBoundsReady. When the list fetch fails, the
    //     completion is never called.
    //   Errors: none meets the bounds: an error with no domain, code or user info.
    //   Cancelling: not possible.
    void getBuildingWithinBoundsAsync(CVGeoBounds bounds, std::optional<std::string> solutionId, std::string language,
                                      BuildingCompletion completion = {});

    // The forms for the bound API key and the current language; the list is
    // requested for "all".
    void getBuildingsWithCompletion(BuildingsCompletion completion);
    void getBuildingWithId(std::string buildingId, BuildingCompletion completion = {});
    void getBuildingWithinBounds(CVGeoBounds bounds, BuildingCompletion completion = {});
    void getBuildings();

    // "com.ambrell.CVBuildingProvider", shared by every instance.
    [[nodiscard]] static const platform::DispatchQueue& queue();

private:
    // This provider, or a stand-in with its venue and delegate when no shared
    // pointer owns it.
    [[nodiscard]] std::shared_ptr<CVBuildingProvider> retained();
    // Runs `use` on the class queue with the list under the provider's key;
    // when it is not in memory, fetches it ("all") once and runs `use` only
    // when the fetch answered without error.
    static void withBuildingList(const std::shared_ptr<CVBuildingProvider>& self, std::optional<std::string> solutionId,
                                 std::string language, std::function<void(const Buildings&)> use);
    // The delegate (when `self` is still there), then the completion, on the main queue.
    static void answerBuildings(const std::shared_ptr<CVBuildingProvider>& self, Buildings buildings,
                                BuildingsCompletion completion);

    mutable std::mutex mutex_;
    std::string venueId_;
    std::weak_ptr<CVBuildingProviderDelegate> delegate_;
    std::optional<CVGeoBounds> coordinateBounds_;
};

}  // namespace ambrell

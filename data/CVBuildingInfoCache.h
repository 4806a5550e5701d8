#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/CVBuildingInternal.h"
#include "platform/Error.h"

namespace ambrell {

class CVVenueProvider;

// The solution's building list, fetched once through a venue provider, with
// two maps made from it on first read: building by administrative id (lower
// case) and floor name by floor index. For code that turns administrative ids
// and floor numbers into buildings and names. Made with std::make_shared.
//
// Thread-safe. A fetch asked for while one runs does not start another: its
// completion waits for the running one. Every completion is called exactly
// once, with the cache:
//   Completes: on the main queue when it waited for a fetch; at once, on the
//     caller's thread, when the cache was already loaded (or failed).
//   Errors: the building fetch's error is in error() (buildings() then stays
//     empty); the completion is called all the same.
//   Cancelling: not possible; a new set-up for another solution or language
//     leaves a running fetch to call its completions without storing its list.
// The fetch uses the API key and language bound in the core state, not the
// cache's own solution id and language.
class CVBuildingInfoCache : public std::enable_shared_from_this<CVBuildingInfoCache> {
public:
    using Completion = std::function<void(const std::shared_ptr<CVBuildingInfoCache>&)>;
    using Buildings = std::vector<std::shared_ptr<CVBuildingInternal>>;
    using BuildingsById = std::map<std::string, std::shared_ptr<CVBuildingInternal>>;
    using FloorNames = std::map<double, std::string>;

    // None without a solution id; otherwise a cache set up for the solution
    // and language (setupWithSolutionId).
    [[nodiscard]] static std::shared_ptr<CVBuildingInfoCache> newWithSolutionId(std::optional<std::string> solutionId,
                                                                                std::optional<std::string> language,
                                                                                Completion completion = {});
    [[nodiscard]] static std::shared_ptr<CVBuildingInfoCache> initWithSolutionId(std::optional<std::string> solutionId,
                                                                                 std::optional<std::string> language,
                                                                                 Completion completion = {});

    // Nothing without a solution id or a language. A cache loaded without
    // error for the same ones only calls back; otherwise it empties and
    // fetches again.
    void setupWithSolutionId(std::optional<std::string> solutionId, std::optional<std::string> language,
                             Completion completion = {});
    void fetchBuildings(Completion completion = {});

    // None before a fetch; empty while one runs.
    [[nodiscard]] std::optional<Buildings> buildings() const;
    // Also drops both maps, to be made again from the new list.
    void setBuildings(std::optional<Buildings> buildings);
    [[nodiscard]] std::optional<std::string> solutionId() const;
    void setSolutionId(std::optional<std::string> solutionId);
    [[nodiscard]] std::optional<std::string> language() const;
    void setLanguage(std::optional<std::string> language);
    [[nodiscard]] std::optional<platform::NSError> error() const;
    void setError(std::optional<platform::NSError> error);

    // None while buildings() is none. A later building or floor with the same
    // key replaces an earlier one.
    [[nodiscard]] std::optional<BuildingsById> buildingFromBuildingId();
    [[nodiscard]] std::optional<FloorNames> floorNameFromFloorNumber();
    // Made on first read and kept.
    [[nodiscard]] std::shared_ptr<CVVenueProvider> venueProvider();

private:
    // The completions waiting for one fetch.
    using Waiting = std::vector<Completion>;

    void finishFetch(const std::shared_ptr<Waiting>& waiting, std::uint64_t generation, Buildings buildings,
                     std::optional<platform::NSError> error);

    mutable std::mutex mutex_;
    std::optional<std::string> solutionId_;
    std::optional<std::string> language_;
    std::optional<platform::NSError> error_;
    std::optional<Buildings> buildings_;
    std::optional<BuildingsById> buildingFromBuildingId_;
    std::optional<FloorNames> floorNameFromFloorNumber_;
    std::shared_ptr<CVVenueProvider> venueProvider_;
    // The running fetch's completions; null when none runs. A set-up that
    // empties the cache starts a new generation, whose answer alone is kept.
    std::shared_ptr<Waiting> waiting_;
    std::uint64_t generation_ = 0;
};

}  // namespace ambrell

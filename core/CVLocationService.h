#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Ambrell/CVLocation.h"
#include "Ambrell/CVLocationSource.h"
#include "Ambrell/CVQuery.h"
#include "Source/AXCommon/AXLocationService.h"
#include "foundation/CVThreadSafeDictionary.h"
#include "foundation/CVWeakRef.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// Keeps the search engine's location store in step with the location
// sources of one load, and answers location searches from it. The engine,
// the sources and the observers are touched only on LocationServiceActor;
// the id map is readable from any thread. Sources and observers are held
// weakly. Every awaitable below hops to the actor itself, so it may be
// called from anywhere, and completes on the caller's executor: a caller off
// the actor is never continued on it. Cancelling a call before it reaches
// the actor drops it; once there it runs to its end.
class CVLocationService : public CVLocationsObserver, public std::enable_shared_from_this<CVLocationService> {
public:
    using LocationMap = CVThreadSafeDictionary<std::int32_t, std::shared_ptr<CVLocation>>;

    static std::shared_ptr<CVLocationService> create();

    // Remembers the source, observes it and takes in the locations it
    // already has. A source added twice is kept once. Errors: none.
    platform::Awaitable<void> addLocationSource(std::shared_ptr<CVLocationSource> source);
    // The registered sources that are still alive, in registration order.
    platform::Awaitable<std::vector<std::shared_ptr<CVLocationSource>>> locationSources();
    // Told of every source's updates and deletions (not of status changes).
    // Held weakly; an observer added twice is still told once.
    platform::Awaitable<void> addObserver(std::shared_ptr<CVLocationsObserver> observer);
    // The matching locations in the engine's order; ids the map no longer
    // holds are skipped. Errors: none; a query the engine refuses (text that
    // is not UTF-8, a point or box that is not finite) is logged and answers
    // no locations.
    platform::Awaitable<std::vector<std::shared_ptr<CVLocation>>> locationsForQuery(CVQuery query, CVFilter filter);
    // Empties the store and the id map, stops observing and forgets the
    // sources, and clears the readable-id index. Observers are kept.
    platform::Awaitable<void> reset();

    // Holds the changes the sources tell from now until the matching
    // release, which queues them in their order, updates in a row taken in
    // as one batch: a load holds them while its venues load, so that the
    // engine indexes all their locations at once. Holds nest; any thread.
    void holdChanges();
    // Ends a hold. Completes on the caller's executor once the held changes
    // are in the store and told to the observers. Errors: none. Cancelling:
    // the changes are still taken in.
    platform::Awaitable<void> releaseChanges();

    // Synchronous, any thread: the location of that id (compared without
    // case, as search-engine ids are), or null. A different location that
    // shares the id's 32-bit search-engine id is not answered.
    [[nodiscard]] std::shared_ptr<CVLocation> locationWithLocationId(const std::string& locationId) const;
    // Search-engine id to location; written on LocationServiceActor only.
    [[nodiscard]] const LocationMap& axLocationIdToCVLocationMap() const { return locationMap_; }
    // Any thread: the search-engine id the location of that id is stored
    // under. It is the id's hash, unless another location already held that
    // hash when this one came: then it is a free id of its own, so that
    // neither replaces the other.
    [[nodiscard]] std::int32_t engineIdOf(const std::string& locationId) const;

    // Called by the sources from their own threads; the work is queued on
    // LocationServiceActor in arrival order. Updates of library locations go
    // to the engine and the id map (other location classes are skipped),
    // then every update to the observers; deletions likewise. Changes from a
    // source that is not registered (any more, after a reset) are dropped.
    // Locations the engine refuses are logged by id; the rest go in.
    // Status changes are not passed on.
    void onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onLocationsDelete(const std::vector<std::string>& locationIds,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onStatusChange(CVLocationSourceStatus status, const std::shared_ptr<CVLocationSource>& source) override;

    CVLocationService(const CVLocationService&) = delete;
    CVLocationService& operator=(const CVLocationService&) = delete;
    ~CVLocationService() override;

private:
    CVLocationService();

    // The bodies of the calls above, run on LocationServiceActor.
    static platform::Awaitable<void> addLocationSourceOnActor(std::shared_ptr<CVLocationService> self,
                                                              std::shared_ptr<CVLocationSource> source);
    static platform::Awaitable<std::vector<std::shared_ptr<CVLocationSource>>> locationSourcesOnActor(
        std::shared_ptr<CVLocationService> self);
    static platform::Awaitable<void> addObserverOnActor(std::shared_ptr<CVLocationService> self,
                                                        std::shared_ptr<CVLocationsObserver> observer);
    struct Search {
        AXQuery query;
        AXFilter filter;
    };
    static platform::Awaitable<std::vector<std::shared_ptr<CVLocation>>> locationsForQueryOnActor(
        std::shared_ptr<CVLocationService> self, std::shared_ptr<const Search> search);
    static platform::Awaitable<void> resetOnActor(std::shared_ptr<CVLocationService> self);
    static platform::Awaitable<void> settledOnActor();

    // A change a source told: an update, or a deletion of ids.
    struct Change {
        std::vector<std::shared_ptr<CVLocation>> locations;
        std::vector<std::string> locationIds;
        bool isDeletion = false;
        std::shared_ptr<CVLocationSource> source;
    };
    // Queues the change on the actor, or keeps it while changes are held.
    void submit(Change change);

    // All on LocationServiceActor.
    // The engine id for the location, whose id hashes to `hash`, given to it
    // now when the hash is taken by another location (held, or earlier in
    // the same batch).
    std::int32_t claimEngineId(const std::string& locationId, std::int32_t hash,
                               const std::unordered_map<std::int32_t, std::string_view>& batch);
    // The engine id given to the location in place of its hash, if any.
    [[nodiscard]] std::optional<std::int32_t> probedIdOf(const std::string& locationId) const;
    void releaseEngineId(const std::string& locationId);
    [[nodiscard]] bool isRegistered(const std::shared_ptr<CVLocationSource>& source) const;
    // Changes of registered sources to the store, then to the observers.
    void apply(const std::vector<Change>& changes);
    // Answers the locations the engine refused, which are not passed on.
    std::unordered_set<const CVLocation*> ingest(const std::vector<std::shared_ptr<CVLocation>>& locations);
    static std::vector<std::shared_ptr<CVLocation>> without(const std::vector<std::shared_ptr<CVLocation>>& locations,
                                                            const std::unordered_set<const CVLocation*>& refused);
    void remove(const std::vector<std::string>& locationIds);
    [[nodiscard]] std::vector<std::shared_ptr<CVLocationsObserver>> liveObservers() const;
    void resetNow();

    AXLocationService engine_;
    LocationMap locationMap_;
    std::vector<std::weak_ptr<CVLocationSource>> sources_;
    std::vector<CVWeakRef<CVLocationsObserver>> observers_;
    // Lower-cased location id to engine id, for the locations whose hash
    // was taken; written on LocationServiceActor, read anywhere.
    mutable std::mutex probedMutex_;
    std::unordered_map<std::string, std::int32_t> probedIds_;
    std::mutex heldMutex_;
    int holds_ = 0;
    std::vector<Change> held_;
};

}  // namespace ambrell

#include "core/CVLocationService.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "Ambrell/CVLog.h"
#include "core/CVQueryConversion.h"
#include "data/AmbrellLegacy.h"
#include "data/CVLocationInternal.h"
#include "data/CVLocationSourceIndex.h"
#include "foundation/CVInternalStringUtils.h"
#include "foundation/CVTextCase.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/SpreadOverPool.h"

namespace ambrell {

namespace {

constexpr std::string_view kUpdateOperation = "-[CVLocationService onLocationsUpdate:source:]";
constexpr std::string_view kQueryOperation = "-[CVLocationService locationsForQuery:filter:]";

// Enough records to pay for handing them to another thread.
constexpr std::size_t kRecordsPerRange = 256;

platform::Actor& actor() { return platform::LocationServiceActor::shared(); }

// Runs a job of the service on its actor, after the jobs queued before it.
template <typename Job>
void queueOnActor(Job job) {
    boost::asio::post(actor().executor(), std::move(job));
}

}  // namespace

std::shared_ptr<CVLocationService> CVLocationService::create() {
    return std::shared_ptr<CVLocationService>(new CVLocationService());
}

CVLocationService::CVLocationService() : engine_(AXLocationService::create()), locationMap_("Ambrell.LocationMap") {}

CVLocationService::~CVLocationService() = default;

// Each call hops to the actor through a named coroutine that owns its
// arguments: a capturing lambda in the awaited expression would be a
// temporary, which g++ 12 does not reliably destroy exactly once.
platform::Awaitable<void> CVLocationService::addLocationSource(std::shared_ptr<CVLocationSource> source) {
    return actor().run(addLocationSourceOnActor(shared_from_this(), std::move(source)));
}

platform::Awaitable<std::vector<std::shared_ptr<CVLocationSource>>> CVLocationService::locationSources() {
    return actor().run(locationSourcesOnActor(shared_from_this()));
}

platform::Awaitable<void> CVLocationService::addObserver(std::shared_ptr<CVLocationsObserver> observer) {
    return actor().run(addObserverOnActor(shared_from_this(), std::move(observer)));
}

platform::Awaitable<std::vector<std::shared_ptr<CVLocation>>> CVLocationService::locationsForQuery(CVQuery query,
                                                                                                   CVFilter filter) {
    // Converted here, on the caller's thread: the filter is read once, and
    // the coroutine gets one shared value to hold rather than aggregates.
    const auto engineId = [this](const std::string& locationId) { return engineIdOf(locationId); };
    auto search = std::make_shared<const Search>(Search{axQueryFrom(query), axFilterFrom(filter, engineId)});
    return actor().run(locationsForQueryOnActor(shared_from_this(), std::move(search)));
}

platform::Awaitable<void> CVLocationService::reset() { return actor().run(resetOnActor(shared_from_this())); }

void CVLocationService::holdChanges() {
    std::lock_guard lock(heldMutex_);
    ++holds_;
}

platform::Awaitable<void> CVLocationService::releaseChanges() {
    // Now, not when the awaitable is first resumed: a caller cancelled
    // before that must not leave the changes held.
    std::vector<Change> held;
    {
        std::lock_guard lock(heldMutex_);
        if (holds_ > 0 && --holds_ == 0) held.swap(held_);
    }
    if (!held.empty()) queueOnActor([self = shared_from_this(), held = std::move(held)] { self->apply(held); });
    // Behind the held changes, so they are in when this completes.
    return actor().run(settledOnActor());
}

platform::Awaitable<void> CVLocationService::settledOnActor() { co_return; }

platform::Awaitable<void> CVLocationService::addLocationSourceOnActor(std::shared_ptr<CVLocationService> self,
                                                                      std::shared_ptr<CVLocationSource> source) {
    if (!source || self->isRegistered(source)) co_return;
    std::erase_if(self->sources_, [](const auto& known) { return known.expired(); });
    self->sources_.push_back(source);
    source->addLocationsObserver(self);
    const auto current = source->getLocations();
    if (current.empty()) co_return;
    const auto taken = without(current, self->ingest(current));
    for (const auto& observer : self->liveObservers()) observer->onLocationsUpdate(taken, source);
}

platform::Awaitable<std::vector<std::shared_ptr<CVLocationSource>>> CVLocationService::locationSourcesOnActor(
    std::shared_ptr<CVLocationService> self) {
    std::vector<std::shared_ptr<CVLocationSource>> alive;
    for (const auto& source : self->sources_) {
        if (auto strong = source.lock()) alive.push_back(std::move(strong));
    }
    co_return alive;
}

platform::Awaitable<void> CVLocationService::addObserverOnActor(std::shared_ptr<CVLocationService> self,
                                                                std::shared_ptr<CVLocationsObserver> observer) {
    if (!observer) co_return;
    auto& observers = self->observers_;
    std::erase_if(observers, [](const auto& entry) { return !entry.value(); });
    const bool known = std::ranges::any_of(observers, [&](const auto& entry) { return entry.value() == observer; });
    if (!known) observers.emplace_back(observer);
    co_return;
}

platform::Awaitable<std::vector<std::shared_ptr<CVLocation>>> CVLocationService::locationsForQueryOnActor(
    std::shared_ptr<CVLocationService> self, std::shared_ptr<const Search> search) {
    std::vector<std::int32_t> ids;
    try {
        ids = self->engine_.locationIdsForQuery(search->query, search->filter);
    } catch (const std::invalid_argument& refusal) {
        CVLog::core().error("{} [E] Search refused, no locations answered: {}", kQueryOperation, refusal.what());
    }
    std::vector<std::shared_ptr<CVLocation>> locations;
    locations.reserve(ids.size());
    for (const auto id : ids) {
        if (auto location = self->locationMap_.getValue(id)) locations.push_back(std::move(*location));
    }
    co_return locations;
}

platform::Awaitable<void> CVLocationService::resetOnActor(std::shared_ptr<CVLocationService> self) {
    self->resetNow();
    co_return;
}

std::shared_ptr<CVLocation> CVLocationService::locationWithLocationId(const std::string& locationId) const {
    auto found = locationMap_.getValue(engineIdOf(locationId));
    if (!found || !*found || !equalsIgnoringCase((*found)->getLocationId(), locationId)) return nullptr;
    return std::move(*found);
}

void CVLocationService::onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                                          const std::shared_ptr<CVLocationSource>& source) {
    submit(Change{locations, {}, false, source});
}

void CVLocationService::onLocationsDelete(const std::vector<std::string>& locationIds,
                                          const std::shared_ptr<CVLocationSource>& source) {
    submit(Change{{}, locationIds, true, source});
}

void CVLocationService::submit(Change change) {
    {
        std::lock_guard lock(heldMutex_);
        if (holds_ > 0) {
            held_.push_back(std::move(change));
            return;
        }
    }
    queueOnActor(
        [self = shared_from_this(), changes = std::vector<Change>{std::move(change)}] { self->apply(changes); });
}

void CVLocationService::apply(const std::vector<Change>& changes) {
    for (std::size_t first = 0; first < changes.size();) {
        if (changes[first].isDeletion) {
            const auto& change = changes[first++];
            if (!isRegistered(change.source)) continue;
            remove(change.locationIds);
            for (const auto& observer : liveObservers()) observer->onLocationsDelete(change.locationIds, change.source);
            continue;
        }
        // Updates in a row go to the engine as one batch, each then to the
        // observers on its own.
        auto end = first;
        std::vector<std::shared_ptr<CVLocation>> batch;
        for (; end < changes.size() && !changes[end].isDeletion; ++end) {
            if (isRegistered(changes[end].source)) {
                batch.insert(batch.end(), changes[end].locations.begin(), changes[end].locations.end());
            }
        }
        const auto refused = ingest(batch);
        for (; first < end; ++first) {
            const auto& change = changes[first];
            if (!isRegistered(change.source)) continue;
            const auto taken = without(change.locations, refused);
            for (const auto& observer : liveObservers()) observer->onLocationsUpdate(taken, change.source);
        }
    }
}

std::vector<std::shared_ptr<CVLocation>> CVLocationService::without(
    const std::vector<std::shared_ptr<CVLocation>>& locations, const std::unordered_set<const CVLocation*>& refused) {
    std::vector<std::shared_ptr<CVLocation>> taken;
    taken.reserve(locations.size());
    for (const auto& location : locations) {
        if (location && !refused.contains(location.get())) taken.push_back(location);
    }
    return taken;
}

void CVLocationService::onStatusChange(CVLocationSourceStatus /*status*/,
                                       const std::shared_ptr<CVLocationSource>& /*source*/) {}

bool CVLocationService::isRegistered(const std::shared_ptr<CVLocationSource>& source) const {
    if (!source) return false;
    return std::ranges::any_of(sources_, [&](const auto& known) { return known.lock() == source; });
}

std::unordered_set<const CVLocation*> CVLocationService::ingest(
    const std::vector<std::shared_ptr<CVLocation>>& locations) {
    std::vector<std::shared_ptr<CVLocationInternal>> ours;
    ours.reserve(locations.size());
    for (const auto& location : locations) {
        if (auto internal = std::dynamic_pointer_cast<CVLocationInternal>(location))
            ours.push_back(std::move(internal));
    }
    // A record is built from its own location alone, so a large batch's are
    // built on several threads; their ids are then claimed in batch order.
    std::vector<AXLocation> records(ours.size());
    const std::string language = AmbrellLegacy::getLanguage();
    platform::spreadOverPool(ours.size(), kRecordsPerRange, [&](std::size_t first, std::size_t end) {
        for (std::size_t index = first; index < end; ++index) records[index] = ours[index]->axLocation(language);
    });
    // Engine id to location id of the records of this batch, which the map
    // does not hold yet.
    std::unordered_map<std::int32_t, std::string_view> batch;
    batch.reserve(ours.size());
    std::vector<std::int32_t> ids(ours.size());
    for (std::size_t index = 0; index < ours.size(); ++index) {
        // The record's id is the hash of the location's id.
        const auto id = claimEngineId(ours[index]->locationId, records[index].locationId, batch);
        batch.try_emplace(id, ours[index]->locationId);
        records[index].locationId = id;
        ids[index] = id;
    }
    const auto refusedIds = engine_.addOrUpdateLocations(std::move(records));
    const std::unordered_set<std::int32_t> refused(refusedIds.begin(), refusedIds.end());

    std::vector<std::string> refusedNames;
    std::unordered_set<const CVLocation*> left;
    // The map takes the batch in one write at the end; until then, the ids
    // taken so far count as held (collected only once a record is refused).
    std::vector<std::pair<std::int32_t, std::shared_ptr<CVLocation>>> taken;
    taken.reserve(ours.size());
    std::unordered_set<std::int32_t> takenIds;
    std::size_t noted = 0;
    for (std::size_t index = 0; index < ours.size(); ++index) {
        const auto& location = ours[index];
        const auto id = ids[index];
        if (refused.contains(id)) {
            refusedNames.push_back(location->locationId);
            left.insert(location.get());
            // An id given for this record alone is free again; one the
            // location is already stored under stays.
            for (; noted < taken.size(); ++noted) takenIds.insert(taken[noted].first);
            if (!takenIds.contains(id) && !locationMap_.getValue(id).has_value()) releaseEngineId(location->locationId);
            continue;
        }
        taken.emplace_back(id, location);
    }
    locationMap_.setValues(std::move(taken));
    if (!refusedNames.empty()) {
        CVLog::core().error("{} [E] The search engine refused {} location(s), which are not searchable: {}",
                            kUpdateOperation, refusedNames.size(), fmt::join(refusedNames, ", "));
    }
    return left;
}

void CVLocationService::remove(const std::vector<std::string>& locationIds) {
    std::vector<std::int32_t> ids;
    ids.reserve(locationIds.size());
    for (const auto& locationId : locationIds) {
        const auto id = engineIdOf(locationId);
        // Another location under a colliding id is not the one deleted.
        if (const auto held = locationMap_.getValue(id);
            held && *held && !equalsIgnoringCase((*held)->getLocationId(), locationId)) {
            continue;
        }
        locationMap_.remove(id);
        ids.push_back(id);
        releaseEngineId(locationId);
    }
    engine_.removeLocationsWithIds(ids);
}

std::optional<std::int32_t> CVLocationService::probedIdOf(const std::string& locationId) const {
    std::lock_guard lock(probedMutex_);
    if (!probedIds_.empty()) {
        if (const auto found = probedIds_.find(lowercasedText(locationId)); found != probedIds_.end()) {
            return found->second;
        }
    }
    return std::nullopt;
}

std::int32_t CVLocationService::engineIdOf(const std::string& locationId) const {
    if (const auto probed = probedIdOf(locationId)) return *probed;
    return CVInternalStringUtils::hashOf(locationId);
}

std::int32_t CVLocationService::claimEngineId(const std::string& locationId, std::int32_t hash,
                                              const std::unordered_map<std::int32_t, std::string_view>& batch) {
    const auto id = probedIdOf(locationId).value_or(hash);
    const auto holder = [&](std::int32_t engineId) -> std::optional<std::string> {
        if (const auto claimed = batch.find(engineId); claimed != batch.end()) return std::string(claimed->second);
        if (const auto held = locationMap_.getValue(engineId); held && *held) return (*held)->getLocationId();
        return std::nullopt;
    };
    const auto other = holder(id);
    if (!other || equalsIgnoringCase(*other, locationId)) return id;

    // Hashes are spread evenly, so the next free one is a step or two away.
    auto free = id;
    do {
        free = free == std::numeric_limits<std::int32_t>::max() ? 0 : free + 1;
    } while (holder(free).has_value());
    CVLog::core().debug("{} Location {} shares its search id {} with location {}; it is stored under {}",
                        kUpdateOperation, locationId, id, *other, free);
    std::lock_guard lock(probedMutex_);
    probedIds_.insert_or_assign(lowercasedText(locationId), free);
    return free;
}

void CVLocationService::releaseEngineId(const std::string& locationId) {
    std::lock_guard lock(probedMutex_);
    if (!probedIds_.empty()) probedIds_.erase(lowercasedText(locationId));
}

std::vector<std::shared_ptr<CVLocationsObserver>> CVLocationService::liveObservers() const {
    std::vector<std::shared_ptr<CVLocationsObserver>> alive;
    for (const auto& entry : observers_) {
        auto observer = entry.value();
        if (observer && std::ranges::find(alive, observer) == alive.end()) alive.push_back(std::move(observer));
    }
    return alive;
}

void CVLocationService::resetNow() {
    auto self = shared_from_this();
    for (const auto& known : sources_) {
        if (const auto source = known.lock()) source->removeLocationsObserver(self);
    }
    sources_.clear();
    engine_.removeAllLocations();
    locationMap_.removeAll();
    {
        std::lock_guard lock(probedMutex_);
        probedIds_.clear();
    }
    CVLocationSourceIndex::clear();
}

}  // namespace ambrell

#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Ambrell/AmbrellShared.h"
// A host that reaches the directions service through the entry object gets
// its whole type with this header.
#include "core/CVSubsystemSeams.h"
#include "data/CVEntrySeams.h"
#include "foundation/CVThreadSafeDictionary.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class AsyncSemaphore;
class CVAppData;
class CVDerivedGeometryCollection;
class CVImageProviderImpl;
class CVLocationService;
class CVMapConfig;
class CVMapControlling;
class CVSolutionInternal;
class CVVenueHandler;
class CVVenueInternal;
class CVVenueLocationSource;
class CVVenueProvider;

// The SDK's entry object: loads a solution for an API key (venue by venue,
// each through a venue handler and its location source), keeps what the
// load made (location service, display rules, loaded graph and geometry),
// answers the host's searches and look-ups, and forwards the locations of
// every source it observes to the display-rule manager.
//
// Loads, reloads, resets, role changes and venue additions each take a turn,
// in the order they were asked for, and run whole one after the other: an
// operation never sees another's half-done state. The content providers answer
// on the main queue, which must be running. Every member is safe from any
// thread.
class AmbrellInternal : public AmbrellShared,
                        public CVEntryObjectSeam,
                        public CVLocationsObserver,
                        public std::enable_shared_from_this<AmbrellInternal> {
public:
    using VenueHandlers = CVThreadSafeDictionary<std::string, std::shared_ptr<CVVenueHandler>>;

    // The process's one, as CVAmbrell::shared() answers it.
    [[nodiscard]] static std::shared_ptr<AmbrellInternal> shared();
    // A new one; only the shared one is installed until another loads.
    [[nodiscard]] static std::shared_ptr<AmbrellInternal> create();
    ~AmbrellInternal() override;

    // Makes this object the one the content layer and the service
    // foundation ask (API key, language, venue handlers, display rules, user
    // roles). Every load does it too.
    void installSeams();

    // AmbrellShared.
    void load(std::optional<std::string> apiKey, std::optional<std::vector<std::string>> venueIds,
              ErrorCompletion completion) override;
    void reload(ErrorCompletion completion) override;
    void reset(ErrorCompletion completion) override;
    void addVenuesToSyncWithVenueIds(std::vector<std::string> venueIds, ErrorCompletion completion) override;
    [[nodiscard]] bool ready() const override;
    [[nodiscard]] std::string sdkVersion() const override;
    [[nodiscard]] std::optional<std::string> apiKey() const override;
    [[nodiscard]] std::vector<CVUserRole> userRoles() const override;
    void setUserRoles(std::vector<CVUserRole> userRoles) override;
    // The same; the completion follows the reload of the venues' locations
    // (the first failure, as an error object, when one fails).
    void setUserRoles(std::vector<CVUserRole> userRoles, ErrorCompletion completion);
    [[nodiscard]] std::vector<CVUserRole> availableUserRoles() const override;
    void locationsWithQuery(std::optional<CVQuery> query, CVFilter filter, LocationsCompletion completion) override;
    [[nodiscard]] std::shared_ptr<CVLocation> locationWithLocationId(const std::string& locationId) const override;
    // Looked up on LocationServiceActor, which owns the location service's map.
    void parentOfLocation(const CVLocation& location,
                          std::function<void(std::shared_ptr<CVLocation>)> completion) const override;
    void venuesWithCompletionHandler(VenuesCompletion completion) const override;
    void buildingWithId(std::string buildingId, BuildingCompletion completion) const override;
    void registerLocationSources(const std::vector<std::shared_ptr<CVLocationSource>>& sources) override;
    // The same; the completion follows their registration with the location
    // service (at once without one).
    void registerLocationSources(const std::vector<std::shared_ptr<CVLocationSource>>& sources,
                                 ErrorCompletion completion) override;
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForType(const std::string& typeName) const override;
    // Null for a raw value outside 0 to 6.
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int rawType) const override;
    void setLanguage(const std::string& language) override;
    [[nodiscard]] std::string language() const override;
    void setAccessToken(std::optional<std::string> accessToken) override;
    [[nodiscard]] std::optional<std::string> accessToken() const override;
    void setEventLoggingDisabled(bool disabled) override;
    [[nodiscard]] bool eventLoggingDisabled() const override;
    void setPositionProvider(std::shared_ptr<CVPositionProvider> provider) override;
    [[nodiscard]] std::shared_ptr<CVPositionProvider> positionProvider() const override;
    void fetchAuthenticationDetails(AuthCallback callback) override;
    void isOfflineDataAvailable(std::optional<std::string> apiKey, std::function<void(bool)> completion) override;
    [[nodiscard]] std::shared_ptr<CVDataSetCacheManager> dataSetCacheManager() const override;

    // The same search, for the layers below that reach it through the seam.
    void locationsWithQuery(std::optional<CVQuery> query, CVFilter filter,
                            std::function<void(std::vector<std::shared_ptr<CVLocation>>)> completion) const override;

    // The search of locationsWithQuery(), without its usage event.
    void internalLocationsLookupWithQuery(std::optional<CVQuery> query, CVFilter filter,
                                          LocationsCompletion completion) const;

    // Display rules of the current load; nothing (null) without a manager.
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override;
    // Writes the rule under the location's id.
    void setWithDisplayRule(std::shared_ptr<CVDisplayRule> rule, const CVLocation& location) const override;

    // Locations of the observed sources (venue and host sources) go to the
    // display-rule manager, each change in a task of its own on
    // LocationServiceActor. Status changes are not used.
    void onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onLocationsDelete(const std::vector<std::string>& locationIds,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onStatusChange(CVLocationSourceStatus status, const std::shared_ptr<CVLocationSource>& source) override;

    // A new map control when ready, else null.
    [[nodiscard]] std::shared_ptr<CVMapControlling> createMapControl(
        std::shared_ptr<const CVMapConfig> mapConfig) const;
    // Held weakly. A newly set one gets the position provider, observes every
    // venue source (queued on the source's queue) and host source, and is
    // refreshed; setting the same one again changes nothing.
    void setActiveMapControlInstance(const std::shared_ptr<CVMapControlling>& mapControl);
    [[nodiscard]] std::shared_ptr<CVMapControlling> activeMapControlInstance() const;
    // The same, for the layers below the map control.
    [[nodiscard]] std::shared_ptr<CVActiveMapControl> activeMapControl() const override;

    // What the current load made; null (or empty) before a load and after a
    // reset. The location service alone outlives a reset, emptied, until the
    // next load replaces it.
    [[nodiscard]] std::shared_ptr<CVLocationService> locationService() const;
    [[nodiscard]] std::shared_ptr<CVDisplayRuleManaging> displayRuleManager() const;
    [[nodiscard]] std::shared_ptr<const CVDerivedGeometryCollection> loadedDerivedGeometry() const override;
    [[nodiscard]] std::shared_ptr<CVAppData> appData() const;
    [[nodiscard]] std::vector<std::shared_ptr<CVDataField>> categories() const;
    [[nodiscard]] const VenueHandlers& venueHandlers() const { return venueHandlers_; }
    [[nodiscard]] std::shared_ptr<CVVenueHandler> venueHandlerForVenueId(const std::string& venueId) const override;
    // The solution the content layer holds, or null.
    [[nodiscard]] std::shared_ptr<CVSolutionInternal> solution() const override;
    // Live for the process, whatever the loads and resets.
    [[nodiscard]] std::shared_ptr<const CVImageProviderProtocol> imageProvider() const override;
    [[nodiscard]] const std::shared_ptr<CVVenueProvider>& venueProvider() const { return venueProvider_; }
    [[nodiscard]] const std::shared_ptr<AsyncSemaphore>& loadingSemaphore() const { return loadingSemaphore_; }
    // Made on first use by the registered factory; null while none is registered.
    [[nodiscard]] std::shared_ptr<CVDirectionsServicing> directionsService();

private:
    struct Turn;
    struct State;

    AmbrellInternal();

    using Operation = std::function<platform::Awaitable<void>()>;

    // This operation's turn and the one before it (null for none).
    std::pair<std::shared_ptr<Turn>, std::shared_ptr<Turn>> nextTurn();
    // Runs the operation on LoadingActor or LocationServiceActor once the
    // earlier turn has ended, calls the completion with the outcome, and
    // then ends its own turn.
    static platform::Awaitable<void> runInTurn(std::shared_ptr<Turn> previous, std::shared_ptr<Turn> mine,
                                               bool onLoadingActor, Operation operation, ErrorCompletion completion);
    // The same in a task of its own.
    void inTurn(bool onLoadingActor, Operation operation, ErrorCompletion completion);

    // The steps; each runs within a turn and keeps its object alive.
    static platform::Awaitable<void> loadNow(std::shared_ptr<AmbrellInternal> self, std::optional<std::string> apiKey,
                                             std::optional<std::vector<std::string>> venueIds);
    static platform::Awaitable<void> loadContent(std::shared_ptr<AmbrellInternal> self, std::string apiKey,
                                                 std::optional<std::vector<std::string>> venueIds);
    static platform::Awaitable<void> reloadNow(std::shared_ptr<AmbrellInternal> self);
    static platform::Awaitable<void> resetNow(std::shared_ptr<AmbrellInternal> self);
    // Under the loading semaphore, for each id without a handler: its
    // source and handler, registered and observed, then loaded. The first
    // failure is thrown once the others have loaded, or at once when asked.
    static platform::Awaitable<void> loadVenues(std::shared_ptr<AmbrellInternal> self,
                                                std::vector<std::string> venueIds, bool stopAtFirstFailure);
    static platform::Awaitable<void> applyUserRoles(std::shared_ptr<AmbrellInternal> self,
                                                    std::vector<CVUserRole> userRoles);
    static platform::Awaitable<void> addVenuesNow(std::shared_ptr<AmbrellInternal> self,
                                                  std::vector<std::string> venueIds);
    static platform::Awaitable<void> registerWithLocationService(
        std::shared_ptr<CVLocationService> service, std::vector<std::shared_ptr<CVLocationSource>> sources);
    // False only when the web service answers 403.
    static platform::Awaitable<bool> apiKeyIsValid(std::string apiKey);
    // A venue whose load failed keeps no handler, so the venue list leaves
    // it out and the next addition loads it again; what its source had told
    // is taken back.
    void forgetFailedVenue(const std::shared_ptr<CVVenueHandler>& handler,
                           const std::shared_ptr<CVVenueLocationSource>& source,
                           const std::shared_ptr<CVLocationService>& service);
    // The merged networks of every handler, to the core state, and the
    // geometry of every handler, in venue order.
    void publishLoadedGraphAndGeometry();
    // The handlers of the loaded venues, in the order they were made.
    [[nodiscard]] std::vector<std::shared_ptr<CVVenueHandler>> loadedHandlers() const;
    void observeWithMapControl(const std::shared_ptr<CVMapControlling>& mapControl);
    void noteClusteringSwitch();
    void search(std::optional<CVQuery> query, CVFilter filter, bool recordEvent, LocationsCompletion completion) const;

    const std::shared_ptr<CVImageProviderImpl> imageProvider_;
    const std::shared_ptr<CVVenueProvider> venueProvider_;
    const std::shared_ptr<AsyncSemaphore> loadingSemaphore_;
    VenueHandlers venueHandlers_{"Ambrell.VenueLoaders"};

    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;  // guarded by mutex_
    std::shared_ptr<Turn> lastTurn_;
};

}  // namespace ambrell

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Ambrell/CVAuthDetails.h"
#include "Ambrell/CVDisplayRule.h"
#include "Ambrell/CVLocation.h"
#include "Ambrell/CVLocationSource.h"
#include "Ambrell/CVPositionProvider.h"
#include "Ambrell/CVQuery.h"
#include "Ambrell/CVUserRole.h"
#include "Ambrell/CVVenue.h"
#include "platform/Error.h"

namespace ambrell {

class CVDataSetCacheManager;

// What a host does with the SDK: load a solution with an API key, reload or
// reset it, search and look up its content, apply user roles, feed its own
// location sources and forward its settings. The one object implementing it
// is reached through CVAmbrell::shared().
//
// The host's main thread must run platform::MainQueue::shared().run(): the
// content providers answer through the main queue inside every load, search
// and look-up, so without the loop none of them completes.
//
// Completion handlers are called exactly once, from the task that did the
// work: never on the main queue and never on the SDK's internal executors,
// so a handler may block or start the next call; it must not wait for a
// load, reload, reset or role change asked for after its own, which begins
// only once the handler has returned. Errors reach them as error
// objects; CVError cases arrive in the domain "Ambrell.CVError" with the
// case's raw value as the code (errorObjectFor() of Ambrell/ErrorObjects.h).
// The look-ups' handlers take no error: one whose work failed or was cut
// short (by the runtime's shutdown, say) gets nothing (an empty list, null,
// false), and the cause is logged as an error.
class AmbrellShared {
public:
    using ErrorCompletion = std::function<void(std::optional<platform::NSError>)>;
    using LocationsCompletion = std::function<void(std::vector<std::shared_ptr<CVLocation>>)>;
    using VenuesCompletion = std::function<void(std::vector<std::shared_ptr<CVVenue>>)>;
    using BuildingCompletion = std::function<void(std::shared_ptr<CVBuilding>)>;
    using AuthCallback = std::function<void(std::shared_ptr<const CVAuthDetails>, std::optional<platform::NSError>)>;

    AmbrellShared() = default;
    AmbrellShared(const AmbrellShared&) = delete;
    AmbrellShared& operator=(const AmbrellShared&) = delete;
    virtual ~AmbrellShared() = default;

    // Loads the solution of the key: every venue, or the given ones in the
    // given order. Loads, reloads and role changes run one at a time in the
    // order they were asked for; each gets its own completion.
    //   Errors: CVError.invalidApiKey for an empty key or one the web service
    //     rejects (nothing stays loaded); CVError.dataUnavailable when the
    //     solution or a venue cannot be had. A key check that cannot reach
    //     the web service counts as passed.
    //   Cancelling: not possible; a reset() asked for later undoes it once it has ended.
    virtual void load(std::optional<std::string> apiKey, std::optional<std::vector<std::string>> venueIds,
                      ErrorCompletion completion) = 0;
    // load() again with the current key and the last venue ids;
    // CVError.invalidApiKey when nothing was loaded.
    virtual void reload(ErrorCompletion completion) = 0;
    // Forgets everything loaded (the host's location sources, user roles and
    // position provider stay). Runs in turn with the loads.
    virtual void reset(ErrorCompletion completion) = 0;
    // Adds venues to the loaded solution; the first venue that fails gives
    // CVError.dataUnavailable, the others still load.
    virtual void addVenuesToSyncWithVenueIds(std::vector<std::string> venueIds, ErrorCompletion completion) = 0;

    [[nodiscard]] virtual bool ready() const = 0;
    [[nodiscard]] virtual std::string sdkVersion() const = 0;
    [[nodiscard]] virtual std::optional<std::string> apiKey() const = 0;

    // The roles applied; setting them reloads the venues' locations (in turn
    // with the loads), so that locations only some roles may see come and go.
    [[nodiscard]] virtual std::vector<CVUserRole> userRoles() const = 0;
    virtual void setUserRoles(std::vector<CVUserRole> userRoles) = 0;
    // The roles the solution offers, as fetched by the last load.
    [[nodiscard]] virtual std::vector<CVUserRole> availableUserRoles() const = 0;

    // Search. No query matches every location; before a load the answer is empty.
    virtual void locationsWithQuery(std::optional<CVQuery> query, CVFilter filter, LocationsCompletion completion) = 0;
    // The loaded location of the id, or null. Synchronous, any thread.
    [[nodiscard]] virtual std::shared_ptr<CVLocation> locationWithLocationId(const std::string& locationId) const = 0;
    // The loaded venues, in the order of the solution's venue list.
    virtual void venuesWithCompletionHandler(VenuesCompletion completion) const = 0;
    // The building of that id among the loaded venues' buildings, or null.
    virtual void buildingWithId(std::string buildingId, BuildingCompletion completion) const = 0;

    // The host's own location sources: searchable and drawn like the venues'
    // locations, kept across loads and resets. Held weakly.
    virtual void registerLocationSources(const std::vector<std::shared_ptr<CVLocationSource>>& sources) = 0;
    // The same; the completion follows their registration with the loaded
    // solution's search (at once before a load), so a search asked for from
    // it finds their locations.
    //   Errors: the search's failure to take a source, as an error object.
    //   Cancelling: not possible.
    virtual void registerLocationSources(const std::vector<std::shared_ptr<CVLocationSource>>& sources,
                                         ErrorCompletion completion) = 0;

    // The rule the map applies, or null before a load.
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> displayRuleForType(const std::string& typeName) const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int rawType) const = 0;

    // Settings, kept by the content layer.
    virtual void setLanguage(const std::string& language) = 0;
    [[nodiscard]] virtual std::string language() const = 0;
    virtual void setAccessToken(std::optional<std::string> accessToken) = 0;
    [[nodiscard]] virtual std::optional<std::string> accessToken() const = 0;
    virtual void setEventLoggingDisabled(bool disabled) = 0;
    [[nodiscard]] virtual bool eventLoggingDisabled() const = 0;
    virtual void setPositionProvider(std::shared_ptr<CVPositionProvider> provider) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVPositionProvider> positionProvider() const = 0;
    virtual void fetchAuthenticationDetails(AuthCallback callback) = 0;
    // Whether the bound key's content can be had offline; the key given is
    // not used. Completes once, from a task of the SDK.
    virtual void isOfflineDataAvailable(std::optional<std::string> apiKey, std::function<void(bool)> completion) = 0;
    [[nodiscard]] virtual std::shared_ptr<CVDataSetCacheManager> dataSetCacheManager() const = 0;
};

}  // namespace ambrell

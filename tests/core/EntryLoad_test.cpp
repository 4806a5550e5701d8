// The entry object's load, reload and reset end to end on the sample
// solution's loopback web service: online, offline right after a data-set
// synchronisation and offline from the app's bundled resources; the API-key
// check; failures; loads that overlap.

#include <gtest/gtest.h>

#include "Ambrell/CVError.h"
#include "core/CVAmbrell.h"
#include "data/AmbrellLegacy.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"
#include "data/CVVenueProvider.h"
#include "foundation/AsyncSemaphore.h"
#include "foundation/CVAXAPI.h"
#include "tests/core/EntryTesting.h"

namespace ambrell::entry_load_test {
namespace {

using test::kHarbour;
using test::kMeridian;
using test::TokenRouteNetworks;

bool isCVError(const std::optional<platform::NSError>& error, CVErrorCase errorCase) {
    return error && error->domain == "Ambrell.CVError" && error->code == static_cast<int>(errorCase);
}

class EntryLoad : public test::EntryFixture {
protected:
    // What a complete load of the sample leaves.
    void expectEverythingLoaded() {
        EXPECT_TRUE(entry_->ready());
        EXPECT_EQ(entry_->apiKey(), id());
        EXPECT_EQ(entry_->venueHandlers().count(), 2U);
        const auto sources = venueSources();
        ASSERT_EQ(sources.size(), 2U);
        for (const auto& source : sources) EXPECT_EQ(source->getStatus(), CVLocationSourceStatus::available);

        // Every location of every venue can be found, by id and by search.
        const auto locations = venueLocations();
        ASSERT_GT(locations.size(), 435U);
        for (const auto& location : locations) {
            ASSERT_EQ(entry_->locationWithLocationId(location->getLocationId()), location) << location->getLocationId();
            // Indoor locations find their floors, also after a reset.
            if (location->isIndoors()) {
                EXPECT_NE(dynamic_cast<const CVLocationInternal&>(*location).parentId(), std::nullopt)
                    << location->getLocationId();
            }
        }
        CVFilter everything;
        everything.ignoreActiveStatus = everything.ignoreSearchableStatus = true;
        EXPECT_EQ(search(std::nullopt, everything, true).size(), locations.size());

        // One merged graph of both venues, in venue order, went to the core state.
        EXPECT_EQ(TokenRouteNetworks::textOf(AmbrellLegacy::getLoadedGraph()), "merged:" + kMeridian + "," + kHarbour);
        ASSERT_TRUE(entry_->loadedDerivedGeometry());
        EXPECT_EQ(entry_->loadedDerivedGeometry()->floor().size(), 12U);

        // The display rules follow the sources.
        ASSERT_TRUE(manager());
        EXPECT_EQ(manager()->events.events(), std::vector<std::string>{"types"});
        EXPECT_TRUE(test::waitFor([&] { return manager()->ruledCount() == locations.size(); }, test::kBound));
        EXPECT_EQ(entry_->categories().size(), 5U);
        EXPECT_TRUE(entry_->appData());
        EXPECT_EQ(entry_->availableUserRoles().size(), 3U);
        EXPECT_EQ(entry_->language(), "en");
    }

    // Nothing can be downloaded and the app carries nothing.
    void goOfflineWithoutBundle() {
        service_.stop();
        setOnline(false);
        platform::Paths::setResourcesFolder(emptyResources_.path());
        CVOfflineBundleHelper::resetForTesting();
    }

    test::TempDirectory emptyResources_;
};

TEST_F(EntryLoad, LoadsEveryVenueOnlineAndGatesTheMapControlOnReadiness) {
    EXPECT_EQ(CVAmbrell::shared(), AmbrellInternal::shared());
    EXPECT_EQ(CVAmbrell::createMapControl(nullptr), nullptr);
    EXPECT_EQ(entry_->createMapControl(nullptr), nullptr);
    EXPECT_EQ(entry_->locationWithLocationId(kMeridian), nullptr);
    EXPECT_TRUE(search(CVQuery{}).empty());

    EXPECT_EQ(loadSample(), std::nullopt);
    expectEverythingLoaded();
    EXPECT_EQ(CVEntryObjectSeam::installed().get(), static_cast<const CVEntryObjectSeam*>(entry_.get()));
    EXPECT_EQ(CVMemoryCache::venueCache().count(), 2U);
    EXPECT_EQ(requestsToKeyCheck(), 1U);
    EXPECT_NE(entry_->createMapControl(nullptr), nullptr);
    EXPECT_TRUE(logs_.sink().contains("Load finished in "));
    EXPECT_EQ(entry_->loadingSemaphore()->value(), 1);
}

TEST_F(EntryLoad, LoadsOfflineRightAfterADataSetSynchronisation) {
    ASSERT_EQ(loadSample(), std::nullopt);
    const auto online = venueLocations().size();
    synchronizeDataSet();
    goOfflineWithoutBundle();

    // The key check cannot reach the web service: the key counts as valid.
    EXPECT_EQ(completed([&](auto done) { entry_->reload(done); }), std::nullopt);
    expectEverythingLoaded();
    EXPECT_EQ(venueLocations().size(), online);
}

TEST_F(EntryLoad, LoadsOfflineInAFreshContainerFromTheBundledResources) {
    service_.stop();
    setOnline(false);
    EXPECT_EQ(loadSample(), std::nullopt);
    expectEverythingLoaded();
}

TEST_F(EntryLoad, TheKeyCheckRejectsOnlyA403AndNeverWaitsForASession) {
    // No key: refused before any request.
    EXPECT_TRUE(isCVError(load(std::nullopt), CVErrorCase::invalidApiKey));
    EXPECT_TRUE(isCVError(load(""), CVErrorCase::invalidApiKey));
    EXPECT_TRUE(service_.web().requests().empty());

    // Without a session token, which the check does not wait for.
    CVAXAPI::sharedInstance()->setSessionToken(std::nullopt);
    service_.web().respond(keyCheckPath(), {403, "", {}});
    EXPECT_TRUE(isCVError(loadSample(), CVErrorCase::invalidApiKey));
    EXPECT_EQ(requestsToKeyCheck(), 1U);
    EXPECT_EQ(service_.web().requestsTo("/sync/solutions").size(), 0U);
    EXPECT_FALSE(entry_->ready());
    EXPECT_EQ(entry_->apiKey(), std::nullopt);
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), std::nullopt);

    // Any other answer counts as valid.
    service_.web().respond(keyCheckPath(), {500, "", {}});
    EXPECT_EQ(loadSample(), std::nullopt);
    EXPECT_TRUE(entry_->ready());
}

TEST_F(EntryLoad, TheKeyCheckSendsTheKeyAsOnePathSegment) {
    // Unescaped, "#" would end the path and "?" begin a query: the check
    // would go elsewhere, fail, and so count as passed.
    const std::string key = "key #1?x=y";
    (void)load(key);
    std::vector<test::RecordedRequest> checks;
    for (const auto& request : service_.web().requests()) {
        if (request.path.ends_with("/api/validateapikey")) checks.push_back(request);
    }
    ASSERT_EQ(checks.size(), 1U);
    EXPECT_EQ(checks[0].target, "/key%20%231%3Fx=y/api/validateapikey");
    EXPECT_EQ(checks[0].path, "/" + key + "/api/validateapikey");
    EXPECT_EQ(checks[0].query, "");
}

TEST_F(EntryLoad, AFailingVenueFailsWithDataUnavailableAndTheNextLoadStillRuns) {
    EXPECT_TRUE(
        isCVError(load(id(), std::vector<std::string>{kMeridian, "no-such-venue"}), CVErrorCase::dataUnavailable));
    EXPECT_FALSE(entry_->ready());
    // The venues before the failing one stay until the next reset.
    EXPECT_NE(entry_->venueHandlerForVenueId(kMeridian), nullptr);
    EXPECT_EQ(entry_->loadingSemaphore()->value(), 1);

    EXPECT_EQ(load(id(), std::vector<std::string>{kHarbour, kHarbour}), std::nullopt);
    EXPECT_TRUE(entry_->ready());
    EXPECT_EQ(entry_->venueHandlers().keys(), std::vector<std::string>{kHarbour});
    EXPECT_EQ(TokenRouteNetworks::textOf(AmbrellLegacy::getLoadedGraph()), "merged:" + kHarbour);
}

TEST_F(EntryLoad, AMissingSolutionFailsWithDataUnavailable) {
    platform::Paths::setResourcesFolder(emptyResources_.path());
    CVOfflineBundleHelper::resetForTesting();
    service_.web().respond("/sync/solutions", {404, "", {}});
    EXPECT_TRUE(isCVError(loadSample(), CVErrorCase::dataUnavailable));
    EXPECT_FALSE(entry_->ready());
    EXPECT_EQ(entry_->venueHandlers().count(), 0U);
    EXPECT_EQ(entry_->loadingSemaphore()->value(), 1);
}

TEST_F(EntryLoad, LoadsStartedTogetherEndOneAfterTheOtherWithTheLastOnesState) {
    test::EventRecorder order;
    auto ended = std::make_shared<std::atomic<int>>(0);
    const auto finish = [&order, ended](std::string name) {
        return [&order, ended, name](const std::optional<platform::NSError>& error) {
            order.add(name + (error ? " failed" : ""));
            ++*ended;
        };
    };
    entry_->load(id(), std::nullopt, finish("all"));
    entry_->load(id(), std::vector<std::string>{kHarbour}, finish("harbour"));
    entry_->reset(finish("reset"));
    entry_->load(id(), std::vector<std::string>{kMeridian}, finish("meridian"));
    ASSERT_TRUE(test::waitFor([&] { return ended->load() == 4; }, test::kBound));
    EXPECT_EQ(order.events(), (std::vector<std::string>{"all", "harbour", "reset", "meridian"}));
    EXPECT_TRUE(entry_->ready());
    EXPECT_EQ(entry_->venueHandlers().keys(), std::vector<std::string>{kMeridian});
    EXPECT_EQ(TokenRouteNetworks::textOf(AmbrellLegacy::getLoadedGraph()), "merged:" + kMeridian);
    EXPECT_EQ(managersMade(), 3U);
}

TEST_F(EntryLoad, AResetUndoesTheLoadAndAReloadRedoesIt) {
    const std::vector<CVUserRole> roles{{"03ba1974a75c6d96f78e78d4", "Staff"}};
    entry_->setUserRoles(roles);
    ASSERT_EQ(loadSample(), std::nullopt);
    const auto service = entry_->locationService();
    const auto venueProvider = entry_->venueProvider();
    const auto loaded = venueLocations().size();

    EXPECT_EQ(completed([&](auto done) { entry_->reset(done); }), std::nullopt);
    EXPECT_FALSE(entry_->ready());
    EXPECT_EQ(entry_->displayRuleManager(), nullptr);
    EXPECT_EQ(AmbrellLegacy::getLoadedGraph(), nullptr);
    EXPECT_EQ(entry_->loadedDerivedGeometry(), nullptr);
    EXPECT_EQ(entry_->venueHandlers().count(), 0U);
    EXPECT_EQ(entry_->apiKey(), std::nullopt);
    EXPECT_EQ(entry_->appData(), nullptr);
    EXPECT_EQ(AmbrellLegacy::getAmbrellAPIKey(), std::nullopt);
    EXPECT_EQ(AmbrellLegacy::solution(), nullptr);
    EXPECT_EQ(service->axLocationIdToCVLocationMap().count(), 0U);
    EXPECT_EQ(entry_->locationWithLocationId(kMeridian), nullptr);
    EXPECT_EQ(CVMemoryCache::venueCache().count(), 0U);
    // Asked once, and not waited for: its unsubscriptions are still under way.
    EXPECT_TRUE(test::waitFor([&] { return liveData_->calls.load() >= 2; }));
    EXPECT_EQ(liveData_->calls.load(), 2);  // the load's own reset, then this one
    EXPECT_EQ(liveData_->ended.load(), 0);
    // Kept: the venue provider and the roles.
    EXPECT_EQ(entry_->venueProvider(), venueProvider);
    EXPECT_EQ(entry_->userRoles(), roles);

    EXPECT_TRUE(isCVError(completed([&](auto done) { entry_->reload(done); }), CVErrorCase::invalidApiKey));
    ASSERT_EQ(loadSample(), std::nullopt);
    EXPECT_EQ(completed([&](auto done) { entry_->reload(done); }), std::nullopt);
    expectEverythingLoaded();
    EXPECT_EQ(venueLocations().size(), loaded);
    EXPECT_NE(entry_->locationService(), service);
    EXPECT_NE(service_.web().lastRequest("/sync/locations")->query.find("appUserRoleIds=03ba1974a75c6d96f78e78d4"),
              std::string::npos);
}

}  // namespace
}  // namespace ambrell::entry_load_test

// What the loaded entry object serves: searches and look-ups, display rules,
// user-role changes, venues added later, the host's own location sources and
// the active map control.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "Ambrell/CVError.h"
#include "core/CVAmbrell.h"
#include "data/AmbrellLegacy.h"
#include "data/CVBuildingCollection.h"
#include "data/CVLocationInternal.h"
#include "data/CVModelCache.h"
#include "data/CVVenueProvider.h"
#include "foundation/AsyncSemaphore.h"
#include "foundation/CVAXAPI.h"
#include "foundation/SdkVersion.h"
#include "platform/runtime/Actor.h"
#include "tests/core/EntryTesting.h"

namespace ambrell::entry_services_test {
namespace {

using test::kHarbour;
using test::kMeridian;

class Provider : public CVPositionProvider {};

class FactoryMadeDirections : public CVDirectionsServicing {
public:
    void routingWithQuery(CVDirectionsQuery /*query*/, Completion completion) override {
        completion(nullptr, std::nullopt);
    }
};

// The route networks of the sample's venues, or, while `failing` is set, the
// error of a route-network service that cannot be reached.
class SwitchedRouteNetworks : public test::TokenRouteNetworks {
public:
    void getRouteNetworkForSolutionAsync(std::string solutionId, std::string venueId, Completion completion) override {
        if (failing) return completion(nullptr, CVRouteNetworkSeams::routeNetworkUnavailableError());
        TokenRouteNetworks::getRouteNetworkForSolutionAsync(std::move(solutionId), std::move(venueId),
                                                            std::move(completion));
    }
    std::atomic<bool> failing{false};
};

class EntryServices : public test::EntryFixture {
protected:
    void SetUp() override { ASSERT_EQ(loadSample(), std::nullopt); }

    std::optional<platform::NSError> applyRoles(std::vector<CVUserRole> roles) {
        return completed([&](auto done) { entry_->setUserRoles(roles, done); });
    }
    // Flushes the registrations queued on the venue sources.
    void flushSourceQueues() const {
        for (const auto& source : venueSources()) source->queue().sync([] {});
    }
    [[nodiscard]] std::shared_ptr<test::FakeMapControl> makeMapControl() const {
        return std::dynamic_pointer_cast<test::FakeMapControl>(entry_->createMapControl(nullptr));
    }
    [[nodiscard]] std::vector<std::string> loadedVenueIds() const {
        auto venues = std::make_shared<std::promise<std::vector<std::string>>>();
        entry_->venuesWithCompletionHandler([venues](auto list) {
            std::vector<std::string> ids;
            for (const auto& venue : list) ids.push_back(venue->getVenueId());
            venues->set_value(ids);
        });
        auto answer = venues->get_future();
        if (answer.wait_for(test::kBound) != std::future_status::ready) {
            ADD_FAILURE() << "no venue list";
            return {};
        }
        return answer.get();
    }
    // How often the solution-wide building list holds a building of that name.
    [[nodiscard]] std::size_t listedBuildings(const std::string& name) const {
        const auto key = CVVenueProvider::buildingsCacheKeyForSolutionId(id(), "en");
        const auto held = CVModelCache::memoryCache()->objectForKey<CVBuildingCollection>(key);
        if (!held) return 0;
        return static_cast<std::size_t>(std::ranges::count_if(
            held->buildings, [&name](const auto& building) { return building && building->name == name; }));
    }
    // Every venue source told the map control `times` updates, no other source any.
    void expectUpdatesFromEachVenueSource(const test::FakeMapControl& mapControl, int times) const {
        std::map<const CVLocationSource*, int> expected;
        for (const auto& source : venueSources()) expected[source.get()] = times;
        EXPECT_EQ(mapControl.updates(), expected);
    }
};

TEST_F(EntryServices, SearchesRecordTheirUsageEventOnlyThroughThePublicCall) {
    const auto any = venueLocations().back();
    auto thread = std::make_shared<std::promise<std::pair<bool, bool>>>();
    entry_->locationsWithQuery(CVQuery{any->getName(), {}, std::nullopt}, CVFilter{}, [thread](auto) {
        thread->set_value(
            {platform::MainQueue::shared().isCurrent(), platform::LocationServiceActor::shared().isCurrent()});
    });
    EXPECT_EQ(thread->get_future().get(), std::make_pair(false, false));

    CVFilter byId;
    byId.locations = std::vector<std::string>{any->getLocationId()};
    byId.ignoreActiveStatus = byId.ignoreSearchableStatus = true;
    EXPECT_EQ(test::idsOf(search(std::nullopt, byId, true)), any->getLocationId());
    byId.locations = std::vector<std::string>{};
    EXPECT_TRUE(search(std::nullopt, byId).empty());

    const auto events = usageEvents();
    EXPECT_EQ(countOf(events, "search/search_performed query=" + any->getName()), 1U);
    EXPECT_EQ(countOf(events, "search/search_performed"), 1U);
}

// The content layer and routing reach the same search through the entry
// object's seam, answered off the main queue and off the actor.
TEST_F(EntryServices, TheLayersBelowSearchThroughTheSeam) {
    const auto any = venueLocations().back();
    const auto seam = CVEntryObjectSeam::installed();
    ASSERT_EQ(seam.get(), static_cast<const CVEntryObjectSeam*>(entry_.get()));
    CVFilter byId;
    byId.locations = std::vector<std::string>{any->getLocationId()};
    byId.ignoreActiveStatus = byId.ignoreSearchableStatus = true;
    auto answer = std::make_shared<std::promise<std::tuple<std::string, bool, bool>>>();
    seam->locationsWithQuery(std::nullopt, byId, [answer](std::vector<std::shared_ptr<CVLocation>> found) {
        answer->set_value({found.size() == 1 ? found.front()->getLocationId() : std::string(),
                           platform::MainQueue::shared().isCurrent(),
                           platform::LocationServiceActor::shared().isCurrent()});
    });
    auto answered = answer->get_future();
    ASSERT_EQ(answered.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(answered.get(), std::make_tuple(any->getLocationId(), false, false));
    EXPECT_EQ(countOf(usageEvents(), "search/search_performed"), 1U);
}

TEST_F(EntryServices, AnswersALocationsParentFromTheLocationServicesActor) {
    const auto parentOf = [&](const CVLocation& location) {
        auto answer = std::make_shared<std::promise<std::pair<std::shared_ptr<CVLocation>, bool>>>();
        entry_->parentOfLocation(location, [answer](std::shared_ptr<CVLocation> parent) {
            answer->set_value({std::move(parent), platform::LocationServiceActor::shared().isCurrent()});
        });
        auto answered = answer->get_future();
        EXPECT_EQ(answered.wait_for(test::kBound), std::future_status::ready);
        return answered.get();
    };
    const auto& held = entry_->locationService()->axLocationIdToCVLocationMap();
    // The parent is the loaded location under the parent id, if any.
    const auto locations = venueLocations();
    for (std::size_t index = 0; index < locations.size() && index < 20; ++index) {
        const auto* internal = dynamic_cast<const CVLocationInternal*>(locations[index].get());
        ASSERT_NE(internal, nullptr);
        const auto expected = held.getValue(internal->axParentId()).value_or(nullptr);
        const auto [parent, onActor] = parentOf(*locations[index]);
        EXPECT_EQ(parent, expected) << locations[index]->getLocationId();
        EXPECT_TRUE(onActor);
    }
    // A location that was never loaded has none.
    const CVLocationInternal loose(CVPoint(55.0, 12.0), "loose");
    EXPECT_EQ(parentOf(loose).first, nullptr);
}

TEST_F(EntryServices, LooksUpVenuesBuildingsAndRules) {
    EXPECT_EQ(entry_->locationWithLocationId("no-such-location"), nullptr);
    EXPECT_EQ(loadedVenueIds(), (std::vector<std::string>{kMeridian, kHarbour}));
    for (const auto& [buildingId, found] : std::vector<std::pair<std::string, bool>>{
             {"606667171a86ff30705826b3", true}, {"", false}, {"no-such-building", false}}) {
        auto building = std::make_shared<std::promise<std::shared_ptr<CVBuilding>>>();
        entry_->buildingWithId(buildingId, [building](auto answer) { building->set_value(answer); });
        const auto answer = building->get_future().get();
        EXPECT_EQ(answer != nullptr, found) << buildingId;
        if (answer) {
            EXPECT_EQ(answer->getBuildingId(), buildingId);
        }
    }

    const auto rule = std::make_shared<CVDisplayRule>();
    manager()->setRule("type meeting room", rule);
    manager()->setRule("fixed 4", rule);
    EXPECT_EQ(entry_->displayRuleForType("Meeting Room"), rule);
    EXPECT_EQ(entry_->displayRuleForDisplayRuleType(4), rule);
    EXPECT_EQ(entry_->displayRuleForDisplayRuleType(5), nullptr);
    EXPECT_EQ(entry_->displayRuleForDisplayRuleType(7), nullptr);
    EXPECT_EQ(entry_->displayRuleForDisplayRuleType(-1), nullptr);
    const auto location = venueLocations().back();
    entry_->setWithDisplayRule(rule, *location);
    EXPECT_EQ(entry_->displayRuleForLocation(*location), rule);
    EXPECT_EQ(CVEntryObjectSeam::installed()->displayRuleForLocation(*location), rule);

    EXPECT_EQ(completed([&](auto done) { entry_->reset(done); }), std::nullopt);
    EXPECT_EQ(entry_->displayRuleForLocation(*location), nullptr);
    EXPECT_EQ(entry_->displayRuleForType("Meeting Room"), nullptr);
}

TEST_F(EntryServices, ForwardsTheHostsSettingsToTheCoreState) {
    EXPECT_EQ(entry_->sdkVersion(), sdkVersion());
    entry_->setAccessToken("token");
    EXPECT_EQ(AmbrellLegacy::accessToken(), "token");
    EXPECT_EQ(entry_->accessToken(), "token");
    entry_->setEventLoggingDisabled(true);
    EXPECT_TRUE(AmbrellLegacy::eventLoggingDisabled());
    entry_->setEventLoggingDisabled(false);
    EXPECT_FALSE(entry_->eventLoggingDisabled());
    EXPECT_EQ(entry_->dataSetCacheManager(), AmbrellLegacy::dataSetCacheManager());
    // The app carries the sample; the key given is not looked at.
    auto offline = std::make_shared<std::promise<bool>>();
    entry_->isOfflineDataAvailable("another-key", [offline](bool available) { offline->set_value(available); });
    EXPECT_TRUE(offline->get_future().get());
    // The load's language stays until the next load.
    entry_->setLanguage("da");
    EXPECT_EQ(AmbrellLegacy::getLanguage(), "da");
    EXPECT_EQ(entry_->language(), "en");
}

TEST_F(EntryServices, ARoleChangeReloadsTheVenuesLocationsAndTheirRules) {
    // The web service shows the role two of the venue's locations fewer.
    const std::vector<CVUserRole> roles{{"6aed2240e3491d3c66f9e353", "Visitor"}};
    const auto hidden = serveLocationsHiding(2, "MERIDIAN", roles);
    const auto before = venueLocations().size();
    ASSERT_NE(entry_->locationWithLocationId(hidden[0]), nullptr);

    EXPECT_EQ(applyRoles(roles), std::nullopt);
    EXPECT_EQ(entry_->userRoles(), roles);
    EXPECT_EQ(venueLocations().size(), before - 2);
    EXPECT_TRUE(test::waitFor([&] { return entry_->locationWithLocationId(hidden[0]) == nullptr; }));
    EXPECT_TRUE(test::waitFor([&] { return !manager()->hasRulesFor(hidden[1]); }));
    EXPECT_EQ(manager()->removed(), hidden);

    EXPECT_EQ(applyRoles({}), std::nullopt);
    EXPECT_EQ(venueLocations().size(), before);
    EXPECT_TRUE(test::waitFor([&] { return entry_->locationWithLocationId(hidden[0]) != nullptr; }));
}

TEST_F(EntryServices, AddedVenuesLoadIntoTheLoadedSolution) {
    ASSERT_EQ(load(id(), std::vector<std::string>{kMeridian}), std::nullopt);
    const auto held = entry_->locationService()->axLocationIdToCVLocationMap().count();
    EXPECT_EQ(completed([&](auto done) {
                  entry_->addVenuesToSyncWithVenueIds({kHarbour, kMeridian}, done);
              }),
              std::nullopt);
    EXPECT_EQ(entry_->venueHandlers().count(), 2U);
    EXPECT_EQ(test::TokenRouteNetworks::textOf(AmbrellLegacy::getLoadedGraph()),
              "merged:" + kMeridian + "," + kHarbour);
    EXPECT_NE(entry_->locationWithLocationId(kHarbour), nullptr);
    // The rules of what was held are dropped one by one; the new venue's are made.
    EXPECT_TRUE(test::waitFor([&] { return manager()->removed().size() == held; }));
    EXPECT_TRUE(test::waitFor([&] { return manager()->hasRulesFor(kHarbour); }));

    EXPECT_TRUE(entry_->venueHandlerForVenueId(kHarbour));
    const auto error = completed([&](auto done) { entry_->addVenuesToSyncWithVenueIds({"no-such-venue"}, done); });
    EXPECT_EQ(error.value_or(platform::NSError{}).code, static_cast<int>(CVErrorCase::dataUnavailable));
    EXPECT_EQ(entry_->loadingSemaphore()->value(), 1);
}

TEST_F(EntryServices, AnAddedVenueThatFailedIsLeftOutAndLoadsOnTheNextAdd) {
    const auto routes = std::make_shared<SwitchedRouteNetworks>();
    CVRouteNetworkSeams::setService(routes);
    ASSERT_EQ(load(id(), std::vector<std::string>{kMeridian}), std::nullopt);
    const auto listedBefore = listedBuildings("Harbour House");
    const auto add = [this] {
        return completed([&](auto done) { entry_->addVenuesToSyncWithVenueIds({kHarbour}, done); });
    };

    // The route network comes last: the venue's buildings and locations were
    // there when it failed.
    routes->failing = true;
    EXPECT_EQ(add().value_or(platform::NSError{}).code, static_cast<int>(CVErrorCase::dataUnavailable));
    EXPECT_EQ(entry_->venueHandlerForVenueId(kHarbour), nullptr);
    EXPECT_EQ(loadedVenueIds(), std::vector<std::string>{kMeridian});
    EXPECT_EQ(entry_->locationWithLocationId(kHarbour), nullptr) << "its locations are taken back";
    EXPECT_EQ(listedBuildings("Harbour House"), listedBefore) << "its buildings are taken back";
    EXPECT_EQ(test::TokenRouteNetworks::textOf(AmbrellLegacy::getLoadedGraph()), "merged:" + kMeridian);

    routes->failing = false;
    EXPECT_EQ(add(), std::nullopt);
    EXPECT_NE(entry_->venueHandlerForVenueId(kHarbour), nullptr);
    EXPECT_EQ(loadedVenueIds(), (std::vector<std::string>{kMeridian, kHarbour}));
    EXPECT_NE(entry_->locationWithLocationId(kHarbour), nullptr);
    EXPECT_EQ(listedBuildings("Harbour House"), listedBefore + 1);
    EXPECT_EQ(test::TokenRouteNetworks::textOf(AmbrellLegacy::getLoadedGraph()),
              "merged:" + kMeridian + "," + kHarbour);
    EXPECT_TRUE(test::waitFor([&] { return manager()->hasRulesFor(kHarbour); }));
    EXPECT_EQ(entry_->loadingSemaphore()->value(), 1);
}

TEST_F(EntryServices, TheDirectionsServiceFactoryMayReadTheEntryObject) {
    std::atomic<int> made{0};
    CVSubsystemSeams::setDirectionsServiceFactory([this, &made]() -> std::shared_ptr<CVDirectionsServicing> {
        ++made;
        // Made for the loaded key; never while the entry object holds its lock.
        if (entry_->apiKey() != id() || entry_->language() != "en") return nullptr;
        return std::make_shared<FactoryMadeDirections>();
    });
    // On a thread of its own: a factory called under the lock would hang it.
    auto first = std::async(std::launch::async, [this] { return entry_->directionsService(); });
    ASSERT_EQ(first.wait_for(test::kBound), std::future_status::ready) << "the factory deadlocked";
    const auto service = first.get();
    EXPECT_NE(service, nullptr);
    EXPECT_EQ(entry_->directionsService(), service) << "made once";
    EXPECT_EQ(made.load(), 1);
}

TEST_F(EntryServices, HostSourcesAreSearchableRuledAndOutliveResetsAndReloads) {
    auto person = test::pointOfInterest("person-1", "Ada");
    auto source = std::make_shared<test::HostSource>(std::vector<std::shared_ptr<CVLocation>>{person});
    EXPECT_EQ(completed([&](auto done) { entry_->registerLocationSources({source}, done); }), std::nullopt);
    EXPECT_EQ(entry_->locationWithLocationId("person-1"), person);
    EXPECT_EQ(countOf(usageEvents(), "location_sources/location_sources_registered count=1"), 1U);

    auto moved = test::pointOfInterest("person-2", "Grace");
    source->update({moved});
    EXPECT_TRUE(test::waitFor([&] { return entry_->locationWithLocationId("person-2") != nullptr; }));
    EXPECT_TRUE(test::waitFor([&] { return manager()->hasRulesFor("person-2"); }));

    EXPECT_EQ(completed([&](auto done) { entry_->reset(done); }), std::nullopt);
    EXPECT_EQ(entry_->locationWithLocationId("person-1"), nullptr);
    EXPECT_EQ(loadSample(), std::nullopt);
    EXPECT_EQ(entry_->locationWithLocationId("person-1"), person);
    source->update({moved});
    EXPECT_TRUE(test::waitFor([&] { return manager()->hasRulesFor("person-2"); }));
}

TEST_F(EntryServices, TheActiveMapControlObservesEverySourceOnceAndFollowsReloads) {
    const auto provider = std::make_shared<Provider>();
    entry_->setPositionProvider(provider);
    const auto mapControl = makeMapControl();
    ASSERT_TRUE(mapControl);
    EXPECT_EQ(entry_->activeMapControlInstance(), mapControl);
    EXPECT_EQ(mapControl->positionProvider(), provider);
    EXPECT_EQ(mapControl->refreshes.load(), 1);
    entry_->setActiveMapControlInstance(mapControl);
    EXPECT_EQ(mapControl->refreshes.load(), 1);

    flushSourceQueues();
    EXPECT_EQ(applyRoles({}), std::nullopt);
    expectUpdatesFromEachVenueSource(*mapControl, 1);

    const auto other = std::make_shared<Provider>();
    entry_->setPositionProvider(other);
    EXPECT_EQ(mapControl->positionProvider(), other);
    EXPECT_EQ(entry_->positionProvider(), other);

    // A reload's sources are new; the map control observes them as well,
    // once they have loaded.
    EXPECT_EQ(completed([&](auto done) { entry_->reload(done); }), std::nullopt);
    EXPECT_EQ(mapControl->refreshes.load(), 2);
    flushSourceQueues();
    mapControl->clearUpdates();
    EXPECT_EQ(applyRoles({}), std::nullopt);
    expectUpdatesFromEachVenueSource(*mapControl, 1);

    // A solution that switches clustering on refreshes it once more.
    auto solution = boost::json::parse(service_.syncDocument("solutions", "en"));
    solution.at("solutionConfig").as_object()["enableClustering"] = true;
    service_.web().serveBody(route("solutions", id()), boost::json::serialize(solution));
    EXPECT_EQ(completed([&](auto done) { entry_->reload(done); }), std::nullopt);
    EXPECT_EQ(mapControl->refreshes.load(), 4);
}

}  // namespace
}  // namespace ambrell::entry_services_test

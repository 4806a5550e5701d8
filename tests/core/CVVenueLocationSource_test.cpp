// The venue location source against the sample solution's loopback web
// service, with the venues and their buildings in memory as a load leaves
// them; and the location-update factory.

#include <gtest/gtest.h>

#include <set>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "Ambrell/CVError.h"
#include "core/CVLocationDocuments.h"
#include "core/CVLocationService.h"
#include "core/CVLocationUpdateFactory.h"
#include "core/CVVenueLocationSource.h"
#include "data/CVBuildingCollection.h"
#include "data/CVLocationSourceIndex.h"
#include "data/CVMemoryCache.h"
#include "data/CVSolutionInternal.h"
#include "data/CVVenueInternal.h"
#include "foundation/CVTextCase.h"
#include "platform/FileSystem.h"
#include "tests/core/LocationTesting.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/LoopbackWebService.h"

namespace ambrell {
namespace {

using test::awaited;

const std::string kMeridian = "c4c33ed16a328b160781e953";
constexpr std::size_t kMeridianDocumentLocations = 291;

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool failsWithDataUnavailable(platform::Awaitable<void> work) {
    try {
        awaited(std::move(work));
    } catch (const CVError& error) {
        return error == CVErrorCase::dataUnavailable;
    }
    return false;
}

class VenueLocationSource : protected test::CapturedLog, public test::SampleServiceFixture {
protected:
    VenueLocationSource() {
        CVBuildingCollection buildings;
        EXPECT_TRUE(buildings.initWithData(bytesOf(service_.syncDocument("buildings", "en"))));
        const auto venues = CVVenueInternal::venuesFromDocument(service_.syncDocument("venues", "en"));
        for (const auto& venue : venues.value()) {
            for (const auto& building : buildings.buildings) {
                if (building->venueId == venue->venueId) venue->buildings.push_back(building);
            }
            CVMemoryCache::venueCache().setValue(venue, venue->venueId);
        }
        AmbrellLegacy::setSolution(CVSolutionInternal::fromString(service_.syncDocument("solutions", "en")));
        // Twice, as a map control made active twice registers itself.
        source_->addLocationsObserver(observer_);
        source_->addLocationsObserver(observer_);
    }
    ~VenueLocationSource() override { CVMemoryCache::clearAllCaches(); }

    [[nodiscard]] std::shared_ptr<CVVenueLocationSource> makeSource(std::vector<CVUserRole> roles = {}) const {
        return std::make_shared<CVVenueLocationSource>(id(), kMeridian, "en", std::move(roles));
    }
    static std::shared_ptr<CVVenueInternal> meridian() {
        return CVMemoryCache::venueCache().getValue(kMeridian).value_or(nullptr);
    }
    // The venue's, its buildings' and their floors' locations.
    static std::size_t pseudoLocationCount() {
        std::size_t count = 1;
        for (const auto& building : meridian()->buildings) count += 1 + building->floors.size();
        return count;
    }
    [[nodiscard]] std::vector<std::string> events() const { return observer_->events.events(); }

    std::shared_ptr<CVVenueLocationSource> source_ = makeSource();
    std::shared_ptr<test::RecordingObserver> observer_ = std::make_shared<test::RecordingObserver>();
};

TEST_F(VenueLocationSource, LoadsPseudoLocationsThenTheVenuesOwnAndTellsEachObserverOnce) {
    EXPECT_EQ(source_->getStatus(), CVLocationSourceStatus::initialising);
    EXPECT_EQ(source_->queue().label(), "com.ambrell.CVVenueLocationSource");
    awaited(source_->loadLocations());

    const auto locations = source_->getLocations();
    const auto pseudo = pseudoLocationCount();
    ASSERT_EQ(locations.size(), pseudo + kMeridianDocumentLocations);
    EXPECT_EQ(locations.front()->getLocationId(), kMeridian);
    std::size_t typed = 0;
    for (std::size_t index = pseudo; index < locations.size(); ++index) {
        const auto& location = dynamic_cast<const CVLocationInternal&>(*locations[index]);
        EXPECT_TRUE(equalsIgnoringCase(location.venue, "MERIDIAN")) << location.locationId;
        if (location.typeRef) {
            ++typed;
            EXPECT_TRUE(equalsIgnoringCase(location.typeRef->getName(), location.type));
        }
        // Rooms find their floors through the index the pseudo-locations filled.
        if (location.isIndoors()) {
            EXPECT_NE(location.parentId(), std::nullopt) << location.locationId;
        }
    }
    EXPECT_GT(typed, kMeridianDocumentLocations / 2);
    EXPECT_EQ(source_->getStatus(), CVLocationSourceStatus::available);

    const auto told = events();
    ASSERT_EQ(told.size(), 2U);
    EXPECT_EQ(told[0], "update " + test::idsOf(locations));
    EXPECT_EQ(told[1], "status 4");
    ASSERT_EQ(requestsTo("locations"), 1U);
    EXPECT_EQ(service_.web().requestsTo("/sync/locations")[0].query.find("appUserRoleIds"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dataSetFile("locations", id())));
}

TEST_F(VenueLocationSource, TheVenuesOfALoadShareOneReadOfTheDocument) {
    const std::string harbourId = "fa9667907de4ca4e499511cb";
    auto documents = std::make_shared<CVLocationDocuments>();
    auto harbour = std::make_shared<CVVenueLocationSource>(id(), harbourId, "en", std::vector<CVUserRole>{});
    source_->shareDocuments(documents);
    harbour->shareDocuments(documents);
    awaited(source_->loadLocations());
    awaited(harbour->loadLocations());
    EXPECT_EQ(requestsTo("locations"), 1U);
    EXPECT_EQ(source_->getLocations().size(), pseudoLocationCount() + kMeridianDocumentLocations);
    // Each keeps its own venue's locations, none of the other's.
    const auto ownIds = [](const std::shared_ptr<CVVenueLocationSource>& source) {
        std::set<std::string> ids;
        for (const auto& location : source->getLocations()) ids.insert(location->getLocationId());
        return ids;
    };
    const auto meridianIds = ownIds(source_);
    const auto harbourIds = ownIds(harbour);
    EXPECT_GT(harbourIds.size(), 100U);
    for (const auto& harbourLocation : harbourIds) EXPECT_FALSE(meridianIds.contains(harbourLocation));

    // Other roles ask for another document; once the load lets go of the
    // documents, a reload reads afresh.
    const std::vector<CVUserRole> roles{{"a11ce0000000000000000001", "Staff"}};
    const auto rolesUrl = CVAXAPI::sharedInstance()->locationSyncUrlForSolutionId(id(), "en", roles);
    service_.web().serveBody(rolesUrl.substr(service_.baseUrl().size() - 1), service_.syncDocument("locations", "en"));
    awaited(harbour->reloadWithUserRoles(roles));
    EXPECT_EQ(requestsTo("locations"), 2U);
    documents.reset();
    awaited(source_->loadLocations());
    EXPECT_EQ(requestsTo("locations"), 3U);
    EXPECT_EQ(ownIds(source_), meridianIds);
}

TEST_F(VenueLocationSource, ReadsTheDataSetFileWhenTheDownloadFailsAndTheAppsResourcesWithoutOne) {
    awaited(source_->loadLocations());
    const auto expected = source_->getLocations().size();

    service_.stop();
    auto fromDataSet = makeSource();
    awaited(fromDataSet->loadLocations());
    EXPECT_EQ(fromDataSet->getLocations().size(), expected);

    std::filesystem::remove(dataSetFile("locations", id()));
    setOnline(false);
    auto fromResources = makeSource();
    awaited(fromResources->loadLocations());
    EXPECT_EQ(fromResources->getLocations().size(), expected);
    EXPECT_EQ(fromResources->getStatus(), CVLocationSourceStatus::available);
}

TEST_F(VenueLocationSource, ADownloadThatIsNoDocumentKeepsTheStoredOneForTheNextStartWithoutNetwork) {
    const auto file = dataSetFile("locations", id());
    const auto route =
        CVAXAPI::sharedInstance()->locationSyncUrlForSolutionId(id(), "en", {}).substr(service_.baseUrl().size() - 1);
    // An earlier download stores a document two of the venue's locations
    // short of the bundled one, so that their answers differ.
    const auto storeEarlierDownload = [&] {
        std::filesystem::remove(file);
        setOnline(true);
        serveLocationsHiding(2, "MERIDIAN", {});
        awaited(makeSource()->loadLocations());
        return platform::readFile(file).value();
    };
    const auto stored = storeEarlierDownload();
    const std::string document(stored.begin(), stored.end());
    const auto expected = pseudoLocationCount() + kMeridianDocumentLocations - 2;
    const struct {
        std::string what;
        std::string body;
        std::string type;
    } bodies[] = {
        {"login page", "<html><body><form action=\"/login\">Sign in</form></body></html>", "text/html"},
        {"cut short", document.substr(0, document.size() / 2), "application/json"},
    };
    for (const auto& body : bodies) {
        SCOPED_TRACE(body.what);
        EXPECT_TRUE(storeEarlierDownload() == stored);
        service_.web().respond(route, {200, body.body, {{"Content-Type", body.type}}});
        auto online = makeSource();
        awaited(online->loadLocations());
        EXPECT_EQ(online->getLocations().size(), expected);

        CVDataSetCacheManagerInternal::resetSharedInstanceForTesting();
        setOnline(false);
        auto nextStart = makeSource();
        awaited(nextStart->loadLocations());
        EXPECT_EQ(nextStart->getLocations().size(), expected);
        EXPECT_TRUE(platform::readFile(file) == stored);
    }
}

TEST_F(VenueLocationSource, WithoutAnyDocumentOrVenueTheLoadFailsWithDataUnavailable) {
    test::TempDirectory noResources;
    platform::Paths::setResourcesFolder(noResources.path());
    service_.stop();
    EXPECT_TRUE(failsWithDataUnavailable(source_->loadLocations()));
    EXPECT_EQ(source_->getStatus(), CVLocationSourceStatus::unavailable);
    EXPECT_TRUE(source_->getLocations().empty());
    EXPECT_EQ(events(), std::vector<std::string>{"status 2"});

    auto unknown = std::make_shared<CVVenueLocationSource>(id(), "no-such-venue", "en", std::vector<CVUserRole>{});
    EXPECT_TRUE(failsWithDataUnavailable(unknown->loadLocations()));
}

TEST_F(VenueLocationSource, ARoleReloadAsksWithTheRolesAndDeletesWhatTheyHide) {
    auto service = CVLocationService::create();
    awaited(service->addLocationSource(source_));
    awaited(source_->loadLocations());
    const auto before = source_->getLocations().size();

    // The web service shows the role two locations fewer.
    const std::vector<CVUserRole> roles{{"a11ce0000000000000000001", "Staff"}};
    const auto hidden = serveLocationsHiding(2, "MERIDIAN", roles);
    (void)awaited(service->locationSources());
    ASSERT_NE(service->locationWithLocationId(hidden[0]), nullptr);

    awaited(source_->reloadWithUserRoles(roles));
    EXPECT_EQ(source_->userRoles(), roles);
    EXPECT_NE(service_.web().lastRequest("/sync/locations")->query.find("appUserRoleIds=a11ce0000000000000000001"),
              std::string::npos);
    EXPECT_EQ(source_->getLocations().size(), before - 2);
    const auto told = events();
    ASSERT_EQ(told.size(), 5U);
    EXPECT_EQ(told[2], "delete " + test::joined(hidden));
    EXPECT_EQ(told[4], "status 4");

    (void)awaited(service->locationSources());
    EXPECT_EQ(service->locationWithLocationId(hidden[0]), nullptr);
    EXPECT_EQ(service->axLocationIdToCVLocationMap().count(), before - 2);
}

TEST_F(VenueLocationSource, ALiveUpdateIsToldOnceWhenTheLocationTakesIt) {
    awaited(source_->loadLocations());
    const auto target = source_->getLocations().at(pseudoLocationCount());
    const auto& itemId = target->getLocationId();
    const auto now = std::chrono::system_clock::now();
    const auto update = [&](std::chrono::system_clock::time_point at, std::string item) {
        return std::make_shared<CVLiveUpdate>(CVLiveUpdateTopic{"occupancy"}, at, std::move(item));
    };
    const auto toldBefore = events().size();

    awaited(source_->notify(update(now, itemId)));
    awaited(source_->notify(update(now - std::chrono::minutes(1), itemId)));
    awaited(source_->notify(update(now, "no-such-location")));
    awaited(source_->notify(
        std::make_shared<CVPositionLiveUpdate>(CVLiveUpdateTopic{"position"}, now, itemId, 51.5, -0.001, 2)));

    const auto told = events();
    EXPECT_EQ(std::vector<std::string>(told.begin() + static_cast<std::ptrdiff_t>(toldBefore), told.end()),
              (std::vector<std::string>{"update " + itemId, "update " + itemId}));
    EXPECT_EQ(target->getPosition(), CVPoint(51.5, -0.001, 2));
    EXPECT_TRUE(logs_.sink().contains("LiveData Update: "));
}

TEST_F(VenueLocationSource, AReloadAfterTheIndexWasClearedRegistersTheReadableIdsAgain) {
    awaited(source_->loadLocations());
    CVLocationSourceIndex::clear();

    // The buildings are the same objects, whose pseudo-locations are kept.
    auto again = makeSource();
    awaited(again->loadLocations());
    const auto index = CVLocationSourceIndex::current();
    for (const auto& building : meridian()->buildings) {
        const auto key = lowercasedText(building->administrativeId.value());
        EXPECT_EQ(index->parentIdForReadableId("ax_b_" + key), building->buildingId);
        for (const auto& [name, floor] : building->floors) {
            CVLocationInternal onFloor;
            onFloor.building = key;
            onFloor.setFloorIndex(floor->floorIndex);
            EXPECT_EQ(index->parentIdForReadableId(onFloor.readableLocationIdForBuildingFloor().value()),
                      floor->floorId)
                << name;
        }
    }
    EXPECT_EQ(index->parentIdForReadableId("ax_v_meridian"), kMeridian);
}

TEST(LocationUpdateFactory, BuildsUpdatesOfTheHostsOwnAndOfExistingLocations) {
    const CVLocationUpdateFactory factory;
    const auto own = factory.updateWithId("bus-7")
                         .type("Bus")
                         .name("Bus 7")
                         .position({55.5, 12.5})
                         .floorIndex(1)
                         .categories({"transport"})
                         .addPropertyWithType("alias", "seven")
                         .addPropertyWithType("plate", "AB 12 345")
                         .iconMapAnchor({0.5, 1})
                         .build();
    EXPECT_EQ(own->prototypeLocation(), nullptr);
    const auto ownLocation = std::dynamic_pointer_cast<CVLocationInternal>(own->location());
    ASSERT_TRUE(ownLocation);
    EXPECT_EQ(ownLocation->locationId, "bus-7");
    EXPECT_EQ(ownLocation->name, "Bus 7");
    EXPECT_EQ(ownLocation->getPosition(), CVPoint(55.5, 12.5, 1));
    EXPECT_EQ(ownLocation->categories, std::vector<std::string>{"transport"});
    EXPECT_EQ(ownLocation->aliases, std::vector<std::string>{"seven"});
    EXPECT_EQ(ownLocation->getPropertyForKey("plate")->getValue(), "AB 12 345");
    EXPECT_EQ(ownLocation->iconMapAnchor(), (CLLocationCoordinate2D{0.5, 1}));

    const auto bare = factory.updateWithId("x").build();
    EXPECT_EQ(bare->floorIndex(), CVLocationUpdateFloorInvalid);
    EXPECT_EQ(bare->name(), std::nullopt);
    EXPECT_EQ(bare->properties(), std::nullopt);

    auto prototype = test::pointOfInterest("kiosk-1", "Kiosk");
    prototype->setFloorIndex(3);
    const auto changed = factory.updateWithLocation(prototype).name("Kiosk North").build();
    EXPECT_EQ(changed->prototypeLocation(), prototype);
    const auto changedLocation = std::dynamic_pointer_cast<CVLocationInternal>(changed->location());
    ASSERT_TRUE(changedLocation);
    EXPECT_EQ(changedLocation->locationId, "kiosk-1");
    EXPECT_EQ(changedLocation->name, "Kiosk North");
    EXPECT_EQ(changedLocation->getFloorIndex(), 3) << "no floor given keeps the prototype's";
}

}  // namespace
}  // namespace ambrell

// The location service: sources and their changes into the search engine and
// out to the observers, searches, look-ups and the reset; and the conversion
// of the public query and filter into the engine's terms.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "core/CVLocationService.h"
#include "core/CVQueryConversion.h"
#include "data/CVLocationSourceIndex.h"
#include "foundation/CVInternalStringUtils.h"
#include "platform/runtime/Actor.h"
#include "tests/core/LocationTesting.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using test::awaited;
using test::idsOf;
using test::pointOfInterest;
using Locations = std::vector<std::shared_ptr<CVLocation>>;

std::int32_t hashOf(const std::string& text) { return CVInternalStringUtils::hashOf(text); }

platform::Awaitable<bool> answeredOnTheActor(std::shared_ptr<CVLocationService> service) {
    // Named: g++ 12 may destroy a braced temporary of an awaited call twice.
    const CVQuery query;
    const CVFilter filter;
    co_await service->locationsForQuery(query, filter);
    co_return platform::LocationServiceActor::shared().isCurrent();
}

class LocationService : public ::testing::Test {
protected:
    Locations search(CVQuery query = {}, CVFilter filter = {}) {
        return awaited(service_->locationsForQuery(std::move(query), std::move(filter)));
    }
    // Every change queued before has been taken in: the actor runs its jobs in order.
    void settle() { (void)awaited(service_->locationSources()); }

    std::shared_ptr<CVLocationService> service_ = CVLocationService::create();
    std::shared_ptr<test::RecordingObserver> observer_ = std::make_shared<test::RecordingObserver>();
};

TEST_F(LocationService, ChangesOfItsSourcesReachTheStoreAndEachObserverOnceWithoutStatus) {
    auto source =
        std::make_shared<test::HostSource>(Locations{pointOfInterest("a", "Alpha"), pointOfInterest("b", "Beta")});
    // Listed twice, as the live-data manager may append itself again.
    awaited(service_->addObserver(observer_));
    awaited(service_->addObserver(observer_));
    awaited(service_->addLocationSource(source));
    awaited(service_->addLocationSource(source));
    EXPECT_EQ(source->observerCount(), 1U);
    EXPECT_EQ(idsOf(search()), "a,b") << "the source's current locations are taken in";

    source->update({pointOfInterest("c", "Gamma"), pointOfInterest("a", "Alpha two")});
    source->remove({"B"});
    source->status(CVLocationSourceStatus::unavailable);
    settle();

    EXPECT_EQ(idsOf(search()), "a,c") << "an update keeps its place in the store";
    EXPECT_EQ(service_->locationWithLocationId("A")->getName(), "Alpha two");
    EXPECT_EQ(service_->locationWithLocationId("b"), nullptr);
    EXPECT_EQ(service_->axLocationIdToCVLocationMap().count(), 2U);
    EXPECT_EQ(observer_->events.events(), (std::vector<std::string>{"update a,b", "update c,a", "delete B"}));

    {
        auto passing = std::make_shared<test::HostSource>();
        awaited(service_->addLocationSource(passing));
        EXPECT_EQ(awaited(service_->locationSources()).size(), 2U);
    }
    // The last task that held the passing source may still be ending.
    test::waitFor([&] { return awaited(service_->locationSources()).size() == 1; });
    EXPECT_EQ(awaited(service_->locationSources()), std::vector<std::shared_ptr<CVLocationSource>>{source})
        << "a source that is gone is not listed";
}

TEST_F(LocationService, RefusedRecordsAreLoggedByIdWhileTheRestStaysSearchable) {
    test::ScopedLogCapture logs;
    auto source = std::make_shared<test::HostSource>();
    awaited(service_->addObserver(observer_));
    awaited(service_->addLocationSource(source));

    auto badName = pointOfInterest("bad-name", "\xff\xfe");
    auto badPosition = pointOfInterest("bad-position", "Nowhere", std::numeric_limits<double>::quiet_NaN());
    source->update({pointOfInterest("good", "Cafe"), badName, badPosition});
    settle();

    EXPECT_EQ(idsOf(search()), "good");
    EXPECT_EQ(service_->locationWithLocationId("bad-name"), nullptr);
    EXPECT_TRUE(logs.sink().contains("bad-name, bad-position")) << "the refused ids are named";
    EXPECT_EQ(observer_->events.events(), std::vector<std::string>{"update good"});
}

TEST_F(LocationService, HeldChangesGoInTogetherInTheirOrderAndAreToldOneByOne) {
    auto first = std::make_shared<test::HostSource>();
    auto second = std::make_shared<test::HostSource>();
    auto unknown = std::make_shared<test::HostSource>();
    awaited(service_->addObserver(observer_));
    awaited(service_->addLocationSource(first));
    awaited(service_->addLocationSource(second));
    unknown->addLocationsObserver(service_);

    service_->holdChanges();
    service_->holdChanges();
    first->update({pointOfInterest("a", "Alpha"), pointOfInterest("bad", "\xff")});
    second->update({pointOfInterest("b", "Beta"), pointOfInterest("a", "Alpha two")});
    unknown->update({pointOfInterest("u", "Unknown")});
    first->remove({"a"});
    second->update({pointOfInterest("c", "Gamma")});
    awaited(service_->releaseChanges());
    settle();
    EXPECT_TRUE(search().empty()) << "held until the last release";
    EXPECT_TRUE(observer_->events.events().empty());

    awaited(service_->releaseChanges());
    EXPECT_EQ(idsOf(search()), "b,c");
    EXPECT_EQ(service_->locationWithLocationId("a"), nullptr) << "the deletion came after both updates";
    EXPECT_EQ(observer_->events.events(), (std::vector<std::string>{"update a", "update b,a", "delete a", "update c"}));
    awaited(service_->releaseChanges());  // one release too many changes nothing

    first->update({pointOfInterest("d", "Delta")});
    settle();
    EXPECT_EQ(idsOf(search()), "b,c,d") << "unheld changes go in at once";
}

TEST_F(LocationService, ResetEmptiesStoreMapAndIndexAndLetsGoOfTheSources) {
    auto source = std::make_shared<test::HostSource>(Locations{pointOfInterest("a", "Alpha")});
    awaited(service_->addObserver(observer_));
    awaited(service_->addLocationSource(source));
    CVLocationSourceIndex::current()->setParentId("venue-1", "ax_v_campus");

    awaited(service_->reset());
    EXPECT_TRUE(search().empty());
    EXPECT_EQ(service_->axLocationIdToCVLocationMap().count(), 0U);
    EXPECT_EQ(CVLocationSourceIndex::current()->parentIdForReadableId("ax_v_campus"), std::nullopt);
    EXPECT_TRUE(awaited(service_->locationSources()).empty());
    EXPECT_EQ(source->observerCount(), 0U);

    // A change on its way from a forgotten source is dropped.
    service_->onLocationsUpdate({pointOfInterest("late", "Late")}, source);
    settle();
    EXPECT_TRUE(search().empty());

    // Observers stay for the next load's sources.
    awaited(service_->addLocationSource(source));
    EXPECT_EQ(idsOf(search()), "a");
    EXPECT_EQ(observer_->events.events(), (std::vector<std::string>{"update a", "update a"}));
}

TEST_F(LocationService, LocationsWhoseIdsCollideAreBothKeptAndEachFoundByItsOwnId) {
    // Two ids of the generated 50,000-location solution; the first in
    // either case, as ids are compared.
    const std::string second = "a91752da0019604a27653de0";
    std::string secondInCapitals = second;
    std::ranges::transform(secondInCapitals, secondInCapitals.begin(), [](unsigned char c) { return std::toupper(c); });
    for (const std::string first : {"79b9a250270675c3369643ea", "79B9A250270675C3369643EA"}) {
        SCOPED_TRACE(first);
        ASSERT_EQ(hashOf(first), hashOf(second));
        const auto filtered = [&](std::vector<std::string> ids) {
            CVFilter filter;
            filter.locations = std::move(ids);
            return idsOf(search({}, filter));
        };
        const auto expectBoth = [&] {
            EXPECT_EQ(service_->locationWithLocationId(first)->getName(), "First");
            EXPECT_EQ(service_->locationWithLocationId(secondInCapitals)->getName(), "Second");
            EXPECT_EQ(filtered({first}), first);
            EXPECT_EQ(filtered({secondInCapitals}), second);
            EXPECT_EQ(search().size(), 2U);
            EXPECT_EQ(service_->axLocationIdToCVLocationMap().count(), 2U);
        };

        // One after the other, and both in one batch.
        auto source = std::make_shared<test::HostSource>(Locations{pointOfInterest(first, "First")});
        awaited(service_->addLocationSource(source));
        source->update({pointOfInterest(second, "Second")});
        settle();
        expectBoth();
        source->update({pointOfInterest(second, "Second"), pointOfInterest(first, "First")});
        settle();
        expectBoth();

        // Deleting one leaves the other where it was.
        source->remove({first});
        settle();
        EXPECT_EQ(service_->locationWithLocationId(first), nullptr);
        EXPECT_EQ(filtered({second}), second);
        EXPECT_EQ(filtered({first}), "");
        awaited(service_->reset());

        source = std::make_shared<test::HostSource>(
            Locations{pointOfInterest(first, "First"), pointOfInterest(second, "Second")});
        awaited(service_->addLocationSource(source));
        expectBoth();
        awaited(service_->reset());
    }
}

TEST_F(LocationService, SearchesAnswerOffTheActorAndRefuseBadInputWithoutLocations) {
    test::ScopedLogCapture logs;
    awaited(service_->addLocationSource(std::make_shared<test::HostSource>(
        Locations{pointOfInterest("cafe", "Cafe"), pointOfInterest("staff", "Staff cafe")})));

    EXPECT_FALSE(awaited(answeredOnTheActor(service_)));
    EXPECT_EQ(idsOf(search({.query = "cafe"})), "cafe,staff");

    CVFilter none;
    none.locations = std::vector<std::string>{};
    EXPECT_TRUE(search({}, none).empty()) << "an empty list matches nothing";
    CVFilter some;
    some.locations = std::vector<std::string>{"STAFF"};
    EXPECT_EQ(idsOf(search({}, some)), "staff");

    EXPECT_TRUE(search({.query = "\xc3"}).empty());
    CVFilter nowhere;
    nowhere.bounds = CVGeoBounds({0, 0}, {std::numeric_limits<double>::infinity(), 1});
    EXPECT_TRUE(search({}, nowhere).empty());
    EXPECT_TRUE(logs.sink().contains("Search refused"));
}

TEST(QueryConversion, EveryFieldReachesTheEngineInItsTerms) {
    CVQuery query{"Cafe Lobby", {"Name", "EXTERNALID"}, CVPoint(55.5, 12.25, 3)};
    const AXQuery expectedQuery{"Cafe Lobby", {"name", "externalid"}, AXCoordinate{55.5, 12.25}, AXOrdering::relevance};
    EXPECT_EQ(axQueryFrom(query), expectedQuery);
    EXPECT_EQ(axQueryFrom({}), AXQuery{});

    struct Case {
        std::string name;
        CVFilter filter;
        AXFilter expected;
    };
    const auto ids = [](std::initializer_list<const char*> texts) {
        std::vector<std::int32_t> hashed;
        for (const auto* text : texts) hashed.push_back(hashOf(text));
        return hashed;
    };
    std::vector<Case> cases;
    cases.push_back({"nothing set", {}, {}});
    {
        Case c{"id lists hashed; empty stays empty", {}, {}};
        c.filter.locations = std::vector<std::string>{"R-101", "r-102"};
        c.filter.parents = std::vector<std::string>{};
        c.expected.locationIds = ids({"r-101", "R-102"});
        c.expected.parentIds = std::vector<std::int32_t>{};
        cases.push_back(c);
    }
    {
        Case c{"types and categories match in any case", {}, {}};
        c.filter.types = std::vector<std::string>{"MeetingRoom"};
        c.filter.categories = std::vector<std::string>{"FOOD", "drinks"};
        c.expected.typeIds = ids({"meetingroom"});
        c.expected.groups = ids({"food", "DRINKS"});
        cases.push_back(c);
    }
    {
        Case c{"north-east goes first", {}, {}};
        c.filter.bounds = CVGeoBounds({55.1, 12.1}, {55.9, 12.9});
        c.expected.bounds = AXCoordinateBounds{{55.9, 12.9}, {55.1, 12.1}};
        cases.push_back(c);
    }
    for (const auto& [floor, expected] : std::vector<std::pair<double, int>>{
             {2, 2}, {2.7, 2}, {-1.5, -1}, {std::nan(""), 0}, {1e12, std::numeric_limits<int>::max()}}) {
        Case c{"floor " + std::to_string(floor), {}, {}};
        c.filter.floorIndex = floor;
        c.expected.floor = expected;
        cases.push_back(c);
    }
    {
        Case c{"paging and status switches as they are", {}, {}};
        c.filter.take = 5;
        c.filter.skip = 10;
        c.filter.ignoreSearchableStatus = true;
        c.filter.ignoreActiveStatus = true;
        c.expected.take = 5;
        c.expected.skip = 10;
        c.expected.ignoreSearchableStatus = true;
        c.expected.ignoreActiveStatus = true;
        cases.push_back(c);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(axFilterFrom(c.filter), c.expected);
    }

    // Location ids as the store holds them; parents stay hashes.
    CVFilter byId;
    byId.locations = std::vector<std::string>{"probed", "plain"};
    byId.parents = std::vector<std::string>{"probed"};
    const auto converted = axFilterFrom(byId, [](const std::string& id) { return id == "probed" ? 7 : hashOf(id); });
    EXPECT_EQ(converted.locationIds, (std::vector<std::int32_t>{7, hashOf("plain")}));
    EXPECT_EQ(converted.parentIds, ids({"probed"}));
}

}  // namespace
}  // namespace ambrell

// The venue collection's searches on small hand-drawn documents, and the venue
// provider against the sample solution's loopback web service (the sample's
// bundle as the host app's resources, a data set in a temporary container).

#include <gtest/gtest.h>

#include <boost/json/object.hpp>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "data/CVModelCache.h"
#include "data/CVVenueCollection.h"
#include "data/CVVenueProvider.h"
#include "foundation/CVAXAPI.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventRecorder.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

using platform::NSError;

// ---- The collection on hand-drawn documents --------------------------------

std::string polygon(double west, double south, double east, double north) {
    return fmt::format(R"({{"type": "Polygon", "bbox": [{0}, {1}, {2}, {3}],
        "coordinates": [[[{0}, {1}], [{2}, {1}], [{2}, {3}], [{0}, {3}], [{0}, {1}]]]}})",
                       west, south, east, north);
}
std::string venue(const std::string& id, double west, double south, double east, double north) {
    return fmt::format(R"({{"id": "{0}", "name": "{0}", "venueInfo": {{"name": "{0}"}}, "geometry": {1}}})", id,
                       polygon(west, south, east, north));
}
std::string floor(const std::string& name, int z, double west, double south, double east, double north) {
    return fmt::format(R"("{1}": {{"id": "{0}", "name": "{0}", "zIndex": {1}, "geometry": {2}}})", name, z,
                       polygon(west, south, east, north));
}
std::string building(const std::string& id, const std::string& outline, const std::string& floors) {
    return fmt::format(R"({{"id": "{0}", "administrativeId": "{0}", "geometry": {1}, "floors": {{{2}}}}})", id, outline,
                       floors);
}

std::string describe(const CVVenuePointData& data) {
    return (data.venue ? data.venue->name : "") + "|" +
           (data.building ? data.building->administrativeId.value_or("?") : "") + "|" +
           (data.floor ? data.floor->name : "");
}

TEST(CVVenueCollection, ReadsABareListLikeTheObjectAndNothingElse) {
    const auto list = "[" + venue("A", 0, 0, 1, 1) + "," + venue("B", 2, 2, 3, 3) + "]";
    const auto bare = CVVenueCollection::fromString(list);
    const auto wrapped = CVVenueCollection::fromString(R"({"venues": )" + list + "}");
    ASSERT_TRUE(bare && wrapped);
    ASSERT_EQ(bare->venues.size(), 2U);
    EXPECT_EQ(bare->venues[1]->name, "B");
    EXPECT_EQ(bare->toDictionary(), wrapped->toDictionary());
    // One venue that does not read costs only itself.
    const auto partly = CVVenueCollection::fromString(R"([{"name": "no id"}, )" + venue("C", 0, 0, 1, 1) + "]");
    ASSERT_TRUE(partly);
    ASSERT_EQ(partly->venues.size(), 1U);
    for (const std::string document : {R"("venues")", "42", "not json", ""}) {
        std::optional<JSONModelError> error;
        EXPECT_FALSE(CVVenueCollection::fromString(document, &error)) << document;
    }
}

TEST(CVVenueCollection, FindsTheNearestVenueWithinTheRadius) {
    // Centres 0.5/0.5 and 0.5/0.6 (about 11 km apart), the third the first's twin.
    const auto collection = CVVenueCollection::fromString(
        "[" + venue("A", 0, 0, 1, 1) + "," + venue("B", 0, 0.1, 1, 1.1) + "," + venue("A twin", 0, 0, 1, 1) + "]");
    ASSERT_TRUE(collection);
    const struct {
        CVPoint point;
        std::int32_t radius;
        std::string expected;
    } cases[] = {
        {{0.5, 0.5}, 0, "A"},         // exactly at a centre, a tie with its twin: the first
        {{0.50001, 0.5}, 0, ""},      // a metre off, radius 0
        {{0.6, 0.5}, 100'000, "B"},   // all within reach: the nearest, not the last
        {{0.56, 0.5}, 100'000, "B"},  // nearer B
        {{0.54, 0.5}, 100'000, "A"},  // nearer A
        {{10, 0.5}, 100'000, ""},     // out of reach
        {{0.5, 0.5}, -1, ""},         // a negative radius reaches nothing
    };
    for (const auto& entry : cases) {
        const auto found = collection->getNearestVenue(entry.point, entry.radius);
        EXPECT_EQ(found ? found->name : "", entry.expected) << entry.point.description() << " " << entry.radius;
    }
}

TEST(CVVenueCollection, PlacesAPointInVenueBuildingAndFloor) {
    const auto venues =
        CVVenueCollection::fromString("[" + venue("V1", 0, 0, 30, 1) + "," + venue("V2", 0, 0, 30, 1) + "]");
    // A's floor 0 lies outside A, inside B's outline; C and D have floor 0 shapes
    // at 20..21, outside both outlines.
    const auto buildings = CVBuildingCollection::fromString(
        R"({"buildings": [)" + building("A", polygon(0, 0, 1, 1), floor("A0", 0, 2, 0, 3, 1)) + "," +
        building("B", polygon(2, 0, 3, 1), floor("B1", 1, 2, 0, 3, 1)) + "," +
        building("C", polygon(10, 0, 11, 1), floor("C0", 0, 20, 0, 21, 1)) + "," +
        building("D", polygon(12, 0, 13, 1), floor("D0", 0, 20, 0, 21, 1) + "," + floor("D1", 1, 0, 0, 1, 1)) + "]}");
    ASSERT_TRUE(venues && buildings);
    ASSERT_EQ(buildings->buildings.size(), 4U);
    const struct {
        CVPoint point;
        std::string expected;
    } cases[] = {
        {{0.5, 0.5, 0}, "V1|A|A0"},  // overlapping venues: the first; the outline picks the floor by level
        {{0.5, 0.5, 1}, "V1|A|"},    // A has no floor 1
        {{0.5, 2.5, 0}, "V1|B|"},    // B's outline wins over A's floor, and B has no floor 0
        {{0.5, 2.5, 1}, "V1|B|B1"}, {{0.5, 20.5, 0}, "V1|D|D0"},  // on the floor shapes of C and D: the later
        {{0.5, 20.5, 1}, "V1||"},                                 // the shapes are on another floor
        {{0.5, 40, 0}, "||"},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(describe(CVVenueCollection::dataFromPoint(*venues, *buildings, entry.point)), entry.expected)
            << entry.point.description();
    }
}

// ---- The provider against the sample solution ------------------------------

constexpr auto kBound = std::chrono::seconds(20);
constexpr std::string_view kOtherId = "other-solution";
constexpr std::string_view kMeridian = "c4c33ed16a328b160781e953";
constexpr std::string_view kMeridianHall = "e25a2ec7577c56c555f146d9";

// What an operation answered: its result described, its error and its queue.
struct Answer {
    std::string content;
    std::optional<NSError> error;
    bool onMainQueue = false;
    bool onProviderQueue = false;
};
using Reply = std::function<void(Answer)>;

Answer answer(std::string content, std::optional<NSError> error) {
    return Answer{std::move(content), std::move(error), platform::MainQueue::shared().isCurrent(),
                  CVVenueProvider::sharedVenueProviderQueue().isCurrent()};
}
std::string nameOf(const std::shared_ptr<CVVenueInternal>& venue) { return venue ? venue->name : ""; }
std::string nameOf(const std::shared_ptr<CVBuildingInternal>& building) {
    return building ? building->administrativeId.value_or("?") : "";
}
template <typename List>
std::string namesOf(const List& list) {
    std::string names;
    for (const auto& element : list) names += nameOf(element) + ";";
    return names;
}
auto listReply(Reply done) {
    return [done = std::move(done)](const auto& list, std::optional<NSError> error) {
        done(answer(namesOf(list), std::move(error)));
    };
}
auto oneReply(Reply done) {
    return [done = std::move(done)](const auto& object, std::optional<NSError> error) {
        done(answer(nameOf(object), std::move(error)));
    };
}
CVVenueProvider::PointCompletion pointReply(Reply done) {
    return [done = std::move(done)](const auto& venue, const auto& building, const auto& floor,
                                    std::optional<NSError> error) {
        done(answer(error ? "" : describe(CVVenuePointData{venue, building, floor}), std::move(error)));
    };
}

// Runs an operation and waits for its one answer; a second answer fails the test.
Answer await(const std::function<void(Reply)>& start) {
    auto promise = std::make_shared<std::promise<Answer>>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto answered = promise->get_future();
    start([promise, calls](Answer outcome) {
        if (calls->fetch_add(1) == 0) {
            promise->set_value(std::move(outcome));
        } else {
            ADD_FAILURE() << "answered twice";
        }
    });
    if (answered.wait_for(kBound) != std::future_status::ready) {
        ADD_FAILURE() << "no answer";
        return {};
    }
    return answered.get();
}

class Recorder : public CVVenueProviderDelegate, public test::EventRecorder {
public:
    void onVenuesReady(const std::vector<std::shared_ptr<CVVenueInternal>>& venues) override {
        record("venues " + namesOf(venues));
    }
    void onBuildingsReady(const std::vector<std::shared_ptr<CVBuildingInternal>>& buildings) override {
        record("buildings " + std::to_string(buildings.size()));
    }
    void onVenueDetailsReady(const std::shared_ptr<CVVenueInternal>& venue) override {
        record("venue " + nameOf(venue));
    }
    void onBuildingDetailsReady(const std::shared_ptr<CVBuildingInternal>& building) override {
        record("building " + nameOf(building));
    }
    void onBuildingWithinBoundsReady(const std::shared_ptr<CVBuildingInternal>& building) override {
        record("within " + nameOf(building));
    }
};

class VenueProvider : protected test::CapturedLog, public test::SampleServiceFixture {
protected:
    static bool venuesHeld(std::string_view solutionId) {
        return CVModelCache::memoryCache()->objectForKey<CVVenueCollection>(
                   CVVenueProvider::venuesCacheKeyForSolutionId(solutionId, "en")) != nullptr;
    }

    Answer venues(std::string_view solutionId) {
        return await([&](Reply done) { provider_->getVenuesAsync(std::string(solutionId), "en", listReply(done)); });
    }
    Answer buildings(std::string_view solutionId) {
        return await(
            [&](Reply done) { provider_->getBuildingsAsync("all", std::string(solutionId), "en", listReply(done)); });
    }
    Answer venueWithId(std::string venueId, std::string_view solutionId) {
        return await([&](Reply done) {
            provider_->getVenueDetailsAsync(venueId, std::string(solutionId), "en", oneReply(done));
        });
    }
    Answer buildingWithId(std::string buildingId, std::string_view solutionId) {
        return await([&](Reply done) {
            provider_->getBuildingDetailsAsync(buildingId, std::string(solutionId), "en", oneReply(done));
        });
    }
    Answer buildingWithin(CVGeoBounds bounds, std::string_view solutionId) {
        return await([&](Reply done) {
            provider_->getBuildingWithinBoundsAsync(bounds, std::string(solutionId), "en", oneReply(done));
        });
    }
    Answer atPoint(CVPoint point, std::string_view solutionId) {
        return await([&](Reply done) {
            provider_->getDataFromPointAsync(point, std::string(solutionId), "en", pointReply(done));
        });
    }

    static void expectError(const Answer& outcome, std::int64_t code, const std::string& name) {
        EXPECT_EQ(outcome.content, "") << name;
        ASSERT_TRUE(outcome.error) << name;
        EXPECT_EQ(*outcome.error, (NSError{"com.corvay.Ambrell", code, {}})) << name;
    }

    std::shared_ptr<CVVenueProvider> provider_ = std::make_shared<CVVenueProvider>();
};

TEST_F(VenueProvider, LooksUpTheSampleByIdWithinBoundsAndAtAPoint) {
    auto recorder = std::make_shared<Recorder>();
    provider_->setDelegate(recorder);
    const auto list = venues(id());
    EXPECT_EQ(list.content, "Meridian Campus;Harbour Campus;");
    EXPECT_TRUE(list.onMainQueue);
    EXPECT_EQ(venueWithId(std::string(kMeridian), id()).content, "Meridian Campus");
    EXPECT_EQ(buildingWithId(std::string(kMeridianHall), id()).content, "MERIDIAN-HALL");
    // Bounds on either side of the meridian and across it.
    const struct {
        CVGeoBounds bounds;
        std::string expected;
    } within[] = {
        {{{51.4779, -0.0020}, {51.4780, -0.0019}}, "OBSERVATORY-ANNEX"},
        {{{51.4779, -0.0001}, {51.4780, 0.0001}}, "MERIDIAN-HALL"},
        {{{51.4779, 0.0002}, {51.4780, 0.0003}}, "MERIDIAN-HALL"},
        {{{56.1536, 10.2130}, {56.1537, 10.2131}}, "HARBOUR-HOUSE"},
    };
    for (const auto& entry : within) {
        const auto found = buildingWithin(entry.bounds, id());
        EXPECT_EQ(found.content, entry.expected);
        EXPECT_FALSE(found.error);
    }
    const auto nothing = buildingWithin({{0, 0}, {1, 1}}, id());
    EXPECT_EQ(nothing.content, "");
    ASSERT_TRUE(nothing.error);
    EXPECT_EQ(*nothing.error, (NSError{"", 0, {}}));
    const struct {
        CVPoint point;
        std::string expected;
    } points[] = {
        {{51.4779, 0.0003, 2}, "Meridian Campus|MERIDIAN-HALL|2nd floor"},   // east of the meridian
        {{51.4779, -0.0003, 2}, "Meridian Campus|MERIDIAN-HALL|2nd floor"},  // west of it, same building
        {{51.4780, -0.0018, 1}, "Meridian Campus|OBSERVATORY-ANNEX|1st floor"},
        {{51.4780, -0.0018, 4}, "Meridian Campus|OBSERVATORY-ANNEX|"},  // the annex has three floors
        {{51.4775, 0.0010, 0}, "Meridian Campus||"},                    // on campus, outdoors
        {{56.1537, 10.2134, -1}, "Harbour Campus|HARBOUR-HOUSE|Basement"},
        {{51.4779, 0.0030, 0}, "||"},  // east of the campus
    };
    for (const auto& entry : points) {
        const auto found = atPoint(entry.point, id());
        EXPECT_EQ(found.content, entry.expected) << entry.point.description();
        EXPECT_TRUE(found.onProviderQueue);
        EXPECT_FALSE(found.error);
    }
    const auto collection = CVModelCache::memoryCache()->objectForKey<CVVenueCollection>(
        CVVenueProvider::venuesCacheKeyForSolutionId(id(), "en"));
    ASSERT_TRUE(collection);
    EXPECT_EQ(nameOf(collection->getNearestVenue({51.4779, 0.0}, 1000)), "Meridian Campus");
    EXPECT_EQ(nameOf(collection->getNearestVenue({56.1537, 10.2134}, 2'000'000)), "Harbour Campus");
    EXPECT_EQ(nameOf(collection->getNearestVenue({51.4779, 0.0}, 2'000'000)), "Meridian Campus");
    // The delegate hears of each answer before its completion; the bounds
    // look-up's last, also when nothing was found, so the last may still be on its way.
    EXPECT_TRUE(test::waitFor([&] { return recorder->events().size() >= 9; }));
    EXPECT_EQ(recorder->events(), (std::vector<std::string>{
                                      "venues Meridian Campus;Harbour Campus;", "venue Meridian Campus", "buildings 3",
                                      "building MERIDIAN-HALL", "within OBSERVATORY-ANNEX", "within MERIDIAN-HALL",
                                      "within MERIDIAN-HALL", "within HARBOUR-HOUSE", "within "}));
}

TEST_F(VenueProvider, UnknownIdsAndUnreadableDocumentsAnswerTheirCodes) {
    expectError(venueWithId("no-such-venue", id()), 100200, "venue id");
    expectError(buildingWithId("no-such-building", id()), 100300, "building id");
    // Transport failure, with nothing on the device for that solution.
    service_.web().respond(route("venues", kOtherId), {500, "", {}});
    service_.web().respond(route("buildings", kOtherId), {500, "", {}});
    expectError(venues(kOtherId), 100210, "venues 500");
    expectError(buildings(kOtherId), 100410, "buildings 500");
    // A 304 with nothing held.
    service_.web().respond(route("venues", kOtherId), {304, "", {}});
    service_.web().respond(route("buildings", kOtherId), {304, "", {}});
    expectError(venues(kOtherId), 100210, "venues 304");
    expectError(buildings(kOtherId), 100310, "buildings 304");
    // Documents that read as no list: a failure, and nothing is stored.
    for (const std::string document : {R"({"%s": 3})", "[1", R"("%s")"}) {
        const auto of = [&](const std::string& list) {
            auto text = document;
            if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, list);
            return text;
        };
        service_.web().respond(route("venues", kOtherId), {200, of("venues"), {}});
        service_.web().respond(route("buildings", kOtherId), {200, of("buildings"), {}});
        expectError(venues(kOtherId), 100210, of("venues"));
        EXPECT_FALSE(venuesHeld(kOtherId)) << document;
        expectError(buildings(kOtherId), 100310, of("buildings"));
    }
}

TEST_F(VenueProvider, OfflineAnswersFromTheBundleThenFromTheDataSetWithoutAskingTheService) {
    setOnline(false);
    service_.stop();
    EXPECT_EQ(venues(id()).content, "Meridian Campus;Harbour Campus;");
    EXPECT_EQ(buildings(id()).content, "MERIDIAN-HALL;OBSERVATORY-ANNEX;HARBOUR-HOUSE;");
    EXPECT_EQ(atPoint({51.4779, 0.0003, 0}, id()).content, "Meridian Campus|MERIDIAN-HALL|Ground floor");

    CVModelCache::memoryCache()->clearCache();
    auto document = service_.syncDocument("venues", "en");
    const std::string name = R"("name":"Harbour Campus")";
    document.replace(document.find(name), name.size(), R"x("name":"Harbour Campus (data set)")x");
    ASSERT_FALSE(platform::writeFileAtomically(dataSetFile("venues", id()), document));
    EXPECT_EQ(venues(id()).content, "Meridian Campus;Harbour Campus (data set);");
    // Nothing on the device for another solution: the download fails at once.
    auto recorder = std::make_shared<Recorder>();
    provider_->setDelegate(recorder);
    expectError(venues(kOtherId), 100210, "offline, nothing held");
    EXPECT_TRUE(recorder->events().empty());
}

TEST_F(VenueProvider, TheVenueListAnswersFromMemoryAtOnceAndTheDownloadOnlyRefreshesIt) {
    EXPECT_EQ(venues(id()).content, "Meridian Campus;Harbour Campus;");
    auto fresher = service_.syncDocument("venues", "en");
    const std::string name = R"("name":"Harbour Campus")";
    fresher.replace(fresher.find(name), name.size(), R"x("name":"Harbour Campus (fresh)")x");
    std::promise<void> release;
    auto released = release.get_future().share();
    service_.web().handle(route("venues", id()), [released, fresher](const test::RecordedRequest&) {
        released.wait_for(kBound);
        return test::LoopbackWebService::Response{200, fresher, {}};
    });
    // Answered from memory while the download waits at the service.
    EXPECT_EQ(venues(id()).content, "Meridian Campus;Harbour Campus;");
    release.set_value();
    EXPECT_TRUE(test::waitFor([&] {
        const auto held = CVModelCache::memoryCache()->objectForKey<CVVenueCollection>(
            CVVenueProvider::venuesCacheKeyForSolutionId(id(), "en"));
        return held && namesOf(held->venues) == "Meridian Campus;Harbour Campus (fresh);";
    }));
}

TEST_F(VenueProvider, ALookUpThatMustFetchAnswersTheFetchsErrorOnce) {
    service_.web().respond(route("venues", kOtherId), {500, "", {}});
    service_.web().respond(route("buildings", kOtherId), {500, "", {}});
    expectError(venueWithId(std::string(kMeridian), kOtherId), 100210, "venue id");
    expectError(buildingWithId(std::string(kMeridianHall), kOtherId), 100410, "building id");
    expectError(buildingWithin({{51.4779, -0.0001}, {51.4780, 0.0001}}, kOtherId), 100410, "within");
    const auto point = atPoint({51.4779, 0.0003, 2}, kOtherId);
    expectError(point, 100210, "point");
    EXPECT_TRUE(point.onProviderQueue);

    // A fetch that answered but left nothing in memory (the delegate empties the
    // cache) is not repeated: the look-up answers the list's code.
    struct Forgetful : CVVenueProviderDelegate {
        void onVenuesReady(const std::vector<std::shared_ptr<CVVenueInternal>>& /*venues*/) override {
            CVModelCache::memoryCache()->clearCache();
        }
        void onBuildingsReady(const std::vector<std::shared_ptr<CVBuildingInternal>>& /*buildings*/) override {
            CVModelCache::memoryCache()->clearCache();
        }
    };
    auto forgetful = std::make_shared<Forgetful>();
    provider_->setDelegate(forgetful);
    // Served for a solution with nothing on the device, so that the fetch answers from its download.
    service_.web().respond(route("venues", kOtherId), {200, service_.syncDocument("venues", "en"), {}});
    service_.web().respond(route("buildings", kOtherId), {200, service_.syncDocument("buildings", "en"), {}});
    const auto before = requestsTo("venues") + requestsTo("buildings");
    expectError(venueWithId(std::string(kMeridian), kOtherId), 100210, "venue id, forgotten");
    expectError(buildingWithId(std::string(kMeridianHall), kOtherId), 100410, "building id, forgotten");
    EXPECT_EQ(requestsTo("venues") + requestsTo("buildings"), before + 2);
}

TEST_F(VenueProvider, ConcurrentLookUpsWithNothingInMemoryEachAnswerOnce) {
    constexpr std::size_t kRequests = 24;
    // Shared with the completions, which outlive the test when one is late.
    auto calls = std::make_shared<std::vector<std::atomic<int>>>(kRequests);
    auto wrong = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> callers;
    for (std::size_t index = 0; index < kRequests; ++index) {
        callers.emplace_back([&, index] {
            const auto check = [calls, wrong, index](std::string expected) {
                return [calls, wrong, index, expected = std::move(expected)](const Answer& outcome) {
                    if (outcome.content != expected || outcome.error) ++*wrong;
                    ++(*calls)[index];
                };
            };
            switch (index % 3) {
                case 0:
                    provider_->getVenueDetailsAsync(std::string(kMeridian), id(), "en",
                                                    oneReply(check("Meridian Campus")));
                    break;
                case 1:
                    provider_->getBuildingDetailsAsync(std::string(kMeridianHall), id(), "en",
                                                       oneReply(check("MERIDIAN-HALL")));
                    break;
                default:
                    provider_->getDataFromPointAsync({56.1537, 10.2134, 0}, id(), "en",
                                                     pointReply(check("Harbour Campus|HARBOUR-HOUSE|Ground floor")));
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_TRUE(test::eachCalledOnce(*calls));
    EXPECT_EQ(wrong->load(), 0);
}

TEST_F(VenueProvider, AnInvalidSolutionIdIsAnsweredAtOnceOnTheCallersThread) {
    const std::vector<std::function<void(std::optional<std::string>, Reply)>> operations = {
        [&](auto solutionId, Reply done) { provider_->getVenuesAsync(solutionId, "en", listReply(done)); },
        [&](auto solutionId, Reply done) { provider_->getBuildingsAsync("all", solutionId, "en", listReply(done)); },
        [&](auto solutionId, Reply done) { provider_->getVenueDetailsAsync("v", solutionId, "en", oneReply(done)); },
        [&](auto solutionId, Reply done) { provider_->getBuildingDetailsAsync("b", solutionId, "en", oneReply(done)); },
        [&](auto solutionId, Reply done) {
            provider_->getBuildingWithinBoundsAsync({}, solutionId, "en", oneReply(done));
        },
        [&](auto solutionId, Reply done) { provider_->getDataFromPointAsync({}, solutionId, "en", pointReply(done)); },
    };
    for (const auto& solutionId : {std::optional<std::string>(), std::optional<std::string>("")}) {
        for (const auto& operation : operations) {
            std::optional<Answer> outcome;
            operation(solutionId, [&](Answer answered) { outcome = std::move(answered); });
            ASSERT_TRUE(outcome);
            ASSERT_TRUE(outcome->error);
            EXPECT_EQ(outcome->error->code, 101200);
            EXPECT_TRUE(outcome->error->stringForKey("msg").value_or("").starts_with(
                "Invalid parameter not satisfying: solutionId"));
        }
    }
    EXPECT_TRUE(service_.web().requests().empty());
}

TEST_F(VenueProvider, OfflineAvailabilityAsksBothListsAndLogsEach) {
    EXPECT_FALSE(CVVenueProvider::isOfflineDataAvailableForSolutionId(kOtherId, "en"));
    EXPECT_TRUE(logs_.sink().contains("CVVenueProvider.isOfflineDataAvailable(venues) = NO"));
    EXPECT_TRUE(logs_.sink().contains("CVVenueProvider.isOfflineDataAvailable(buildings) = NO"));
    // From the bundle.
    EXPECT_TRUE(CVVenueProvider::isOfflineDataAvailableForSolutionId(id(), "en"));
    EXPECT_TRUE(logs_.sink().contains("CVVenueProvider.isOfflineDataAvailable(venues) = YES"));
    // The data set's copy of the URL the environment downloads, also when the
    // cache key (on the production host) names another file.
    ASSERT_FALSE(platform::writeFileAtomically(dataSetFile("buildings", kOtherId), "[]"));
    EXPECT_TRUE(CVVenueProvider::isOfflineBuildingDataAvailableForSolutionId(kOtherId, "en"));
    EXPECT_NE(CVVenueProvider::buildingsCacheKeyForSolutionId(kOtherId, "en"),
              CVAXAPI::sharedInstance()->buildingSyncUrlForSolutionId(kOtherId, "en"));
    EXPECT_FALSE(CVVenueProvider::isOfflineVenueDataAvailableForSolutionId(kOtherId, "en"));
}

}  // namespace
}  // namespace ambrell

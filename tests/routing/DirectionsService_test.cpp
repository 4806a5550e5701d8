// The host's directions service on the sample solution: the query's values
// as the request carries them, the usage event, the completion (once, from the
// query's task), and the service the entry object hands out.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "Ambrell/CVError.h"
#include "core/CVSubsystemSeams.h"
#include "data/CVLocationInternal.h"
#include "routing/CVDirectionsServiceInternal.h"
#include "routing/CVPlaceLookup.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/routing/DirectionsTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell::directions_service_test {
namespace {

const CVPoint kMeridian(51.4779, -0.0015, 0);
const CVPoint kMeridianUpstairs(51.4782, -0.0025, 1);

class DirectionsService : public test::SampleServiceFixture {
protected:
    // Usage events go to the process-wide logger: each test starts with a
    // fresh one, so that it reads only its own.
    DirectionsService() {
        CVLogger::resetSharedForTesting();
        entry_->key = id();
        CVEntryObjectSeam::install(entry_);
        CVPlaceLookup::install(std::make_shared<test::NowherePlaces>());
        service_.web().handle("/" + id() + "/api/directions/meridian", [](const test::RecordedRequest& request) {
            return test::LoopbackWebService::Response{
                200,
                test::oneStepRouteDocument(test::pointOf(test::queryValue(request, "origin").value_or("")),
                                           test::pointOf(test::queryValue(request, "destination").value_or(""))),
                {}};
        });
    }
    ~DirectionsService() override {
        CVEntryObjectSeam::install(nullptr);
        CVPlaceLookup::install(nullptr);
        CVLogger::resetSharedForTesting();
    }

    std::shared_ptr<CVRoute> route(CVDirectionsQuery query) {
        return test::run(CVDirectionsServiceInternal::routing(std::move(query)));
    }
    [[nodiscard]] std::optional<test::RecordedRequest> request() {
        return service_.web().lastRequest("/" + id() + "/api/directions/meridian");
    }
    static CVDirectionsQuery inMeridian() {
        CVDirectionsQuery query;
        query.originPoint = kMeridian;
        query.destinationPoint = kMeridianUpstairs;
        return query;
    }

    std::shared_ptr<test::FakeEntry> entry_ = std::make_shared<test::FakeEntry>();
};

TEST_F(DirectionsService, LocationsWinOverPoints) {
    auto query = inMeridian();
    query.origin = std::make_shared<CVLocationInternal>(CVPoint(51.4781, -0.001, 2), "Desk");
    query.originPoint = CVPoint(0, 0);
    query.destination = std::make_shared<CVLocationInternal>(CVPoint(51.4783, -0.002, 3), "Lift");
    ASSERT_TRUE(route(query));
    EXPECT_EQ(test::queryValue(*request(), "origin"), "51.4781,-0.001,2");
    EXPECT_EQ(test::queryValue(*request(), "destination"), "51.4783,-0.002,3");
}

TEST_F(DirectionsService, StopsModesAndOptions) {
    auto query = inMeridian();
    query.stops = std::vector<std::shared_ptr<CVLocation>>{};
    query.stopsPoints = std::vector<CVPoint>{CVPoint(51.478, -0.001)};
    query.travelMode = CVTravelMode::unknown;
    query.optimizeRoute = true;
    ASSERT_TRUE(route(query));
    EXPECT_EQ(test::queryValue(*request(), "stops"), "") << "an empty stop list sends no stop";
    EXPECT_EQ(test::queryValue(*request(), "mode"), "walking");
    EXPECT_EQ(test::queryValue(*request(), "optimize"), "true");

    query.stops.reset();
    query.travelMode = CVTravelMode::transit;
    ASSERT_TRUE(route(query));
    EXPECT_EQ(test::queryValue(*request(), "stops"), "51.478,-0.001,0");
    EXPECT_EQ(test::queryValue(*request(), "mode"), "transit");

    const std::vector<std::pair<CVTravelMode, std::string>> modes{{CVTravelMode::walking, "walking"},
                                                                  {CVTravelMode::bicycling, "bicycling"},
                                                                  {CVTravelMode::driving, "driving"},
                                                                  {CVTravelMode::transit, "transit"},
                                                                  {static_cast<CVTravelMode>(9), "walking"}};
    for (const auto& [mode, text] : modes) EXPECT_EQ(CVDirectionsServiceInternal::travelModeText(mode), text);
    EXPECT_EQ(as_CVTravelMode("Driving"), CVTravelMode::driving);
    EXPECT_EQ(as_CVTravelMode("bicycling"), CVTravelMode::bicycling);
    EXPECT_EQ(as_CVTravelMode(""), CVTravelMode::unknown);
    EXPECT_EQ(as_CVTravelMode("walk"), CVTravelMode::unknown);
}

TEST_F(DirectionsService, NoEndIsRouteNotFoundBeforeAnything) {
    for (int missing = 0; missing < 2; ++missing) {
        auto query = inMeridian();
        (missing == 0 ? query.originPoint : query.destinationPoint).reset();
        try {
            route(query);
            ADD_FAILURE() << "routed without an end";
        } catch (const CVError& error) {
            EXPECT_EQ(error.errorCase(), CVErrorCase::routeNotFound);
        }
    }
    EXPECT_FALSE(request());
    EXPECT_TRUE(usageEvents().empty());
}

// A point that is not finite has no text a request could carry: the query
// is refused before anything is recorded or asked. Finite points near the
// equator and the prime meridian go out as plain decimals.
TEST_F(DirectionsService, ANonFinitePointIsRefusedBeforeAnything) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<const char*, std::function<void(CVDirectionsQuery&)>>> rows{
        {"origin", [&](CVDirectionsQuery& query) { query.originPoint = CVPoint(kNaN, -0.0015, 0); }},
        {"destination", [&](CVDirectionsQuery& query) { query.destinationPoint = CVPoint(51.4782, kInfinity, 1); }},
        {"floor", [&](CVDirectionsQuery& query) { query.originPoint = CVPoint(51.4779, -0.0015, -kInfinity); }},
        {"stop", [&](CVDirectionsQuery& query) { query.stopsPoints = std::vector<CVPoint>{CVPoint(51.478, kNaN)}; }},
        {"location",
         [&](CVDirectionsQuery& query) {
             query.destination = std::make_shared<CVLocationInternal>(CVPoint(kInfinity, -0.002, 3), "Lift");
         }},
        {"stop location",
         [&](CVDirectionsQuery& query) {
             query.stops = std::vector<std::shared_ptr<CVLocation>>{
                 std::make_shared<CVLocationInternal>(CVPoint(51.478, -0.001, kNaN), "Desk")};
         }},
    };
    for (const auto& [name, spoil] : rows) {
        auto query = inMeridian();
        spoil(query);
        try {
            route(query);
            ADD_FAILURE() << "routed with a point that is not finite: " << name;
        } catch (const CVError& error) {
            EXPECT_EQ(error.errorCase(), CVErrorCase::invalidRouteQuery) << name;
        }
    }
    EXPECT_TRUE(service_.web().requests().empty());
    EXPECT_TRUE(usageEvents().empty());

    auto query = inMeridian();
    query.stopsPoints = std::vector<CVPoint>{CVPoint(51.478, -0.0000144, 0), CVPoint(0.0000144, -0.0, 100000)};
    ASSERT_TRUE(route(query));
    EXPECT_EQ(test::queryValue(*request(), "stops"), "51.478,-0.0000144,0|0.0000144,0,100000");
}

TEST_F(DirectionsService, RecordsOneUsageEvent) {
    entry_->roles = {{"r1", "Staff"}, {"r2", "Visitor"}};
    auto query = inMeridian();
    query.travelMode = CVTravelMode::driving;
    query.avoidWayTypes = std::vector<CVHighway>{CVHighway::stairs(), CVHighway::escalator()};
    query.excludeWayTypes = std::vector<CVHighway>{CVHighway::elevator()};
    ASSERT_TRUE(route(query));
    EXPECT_EQ(test::queryValue(*request(), "appUserRoleIds"), "r1,r2") << "the entry object's roles";

    entry_->roles.clear();
    auto plain = inMeridian();
    plain.avoidWayTypes = std::vector<CVHighway>{};
    ASSERT_TRUE(route(plain));
    EXPECT_EQ(usageEvents(),
              (std::vector<std::string>{"directions/directions_requested avoid=steps,escalator exclude=elevator "
                                        "travel_modes=driving user_roles=Staff,Visitor",
                                        "directions/directions_requested travel_modes=walking"}));
}

TEST_F(DirectionsService, CompletesOnceFromTheQuerysTask) {
    struct Calls {
        std::atomic<int> count{0};
        std::atomic<bool> onMainQueue{false};
        std::shared_ptr<CVRoute> route;
        std::optional<platform::NSError> error;
    };
    const auto calls = std::make_shared<Calls>();
    const auto completion = [calls](std::shared_ptr<CVRoute> route, std::optional<platform::NSError> error) {
        calls->route = std::move(route);
        calls->error = std::move(error);
        if (platform::MainQueue::shared().isCurrent()) calls->onMainQueue = true;
        ++calls->count;
    };
    CVDirectionsServiceInternal service;
    service.routingWithQuery(inMeridian(), completion);
    ASSERT_TRUE(test::waitFor([&] { return calls->count > 0; }));
    platform::MainQueue::shared().drain();
    EXPECT_EQ(calls->count, 1);
    EXPECT_FALSE(calls->onMainQueue);
    EXPECT_TRUE(calls->route);
    EXPECT_FALSE(calls->error);

    const auto failed = std::make_shared<Calls>();
    service.routingWithQuery(CVDirectionsQuery{},
                             [failed](std::shared_ptr<CVRoute> route, std::optional<platform::NSError> error) {
                                 failed->route = std::move(route);
                                 failed->error = std::move(error);
                                 ++failed->count;
                             });
    ASSERT_TRUE(test::waitFor([&] { return failed->count > 0; }));
    EXPECT_FALSE(failed->route);
    ASSERT_TRUE(failed->error);
    EXPECT_EQ(failed->error->domain, "Ambrell.CVError");
    EXPECT_EQ(failed->error->code, 2);
}

// The service the entry object hands out is this one.
TEST_F(DirectionsService, TheEntryObjectHandsItOut) {
    const std::shared_ptr<CVDirectionsService> service = CVSubsystemSeams::makeDirectionsService();
    ASSERT_TRUE(service);
    std::atomic<int> count{0};
    std::shared_ptr<CVRoute> found;
    service->routingWithQuery(inMeridian(), [&](std::shared_ptr<CVRoute> route, std::optional<platform::NSError>) {
        found = std::move(route);
        ++count;
    });
    ASSERT_TRUE(test::waitFor([&] { return count > 0; }));
    EXPECT_TRUE(found);
    EXPECT_TRUE(request());
}

}  // namespace
}  // namespace ambrell::directions_service_test

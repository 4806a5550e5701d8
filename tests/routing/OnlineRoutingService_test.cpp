// The web directions client against the loopback web service: the exact
// request, conditional items and escaping; failures that all read as "no
// route"; and what is done to the answer (leg types, restrictions, addresses).

#include <gtest/gtest.h>

#include <chrono>

#include "Ambrell/CVError.h"
#include "routing/CVDistanceMatrixProvider.h"
#include "routing/CVOnlineRoutingService.h"
#include "routing/CVRoutingProvider.h"
#include "tests/routing/DirectionsTesting.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::online_routing_service_test {
namespace {

using namespace std::chrono_literals;
using Date = std::chrono::system_clock::time_point;

constexpr std::string_view kPath = "/sol-1/api/directions/meridian";

// 2025-01-01T10:00:00Z.
Date newYearTen() { return Date(std::chrono::seconds(1735725600)); }

class OnlineRoutingService : public ::testing::Test {
protected:
    std::shared_ptr<CVRouteInternal> route(std::optional<std::vector<CVPoint>> stops = std::nullopt,
                                           std::optional<std::vector<CVHighway>> avoid = std::nullopt,
                                           std::optional<std::vector<CVHighway>> exclude = std::nullopt,
                                           std::optional<Date> depart = std::nullopt,
                                           std::optional<Date> arrive = std::nullopt,
                                           std::optional<std::vector<CVUserRole>> roles = std::nullopt,
                                           std::string mode = "walking", std::optional<std::string> solution = "sol-1",
                                           std::optional<std::string> graph = "meridian") {
        return test::run(service_.route(CVPoint(55.1, 12.25, 1), CVPoint(55.2, 12.5), std::move(stops), true,
                                        std::move(mode), std::move(avoid), std::move(exclude), depart, arrive,
                                        std::move(solution), std::move(graph), std::move(roles)));
    }
    // The case a routing that fails throws.
    std::optional<CVErrorCase> failure() {
        try {
            route();
        } catch (const CVError& error) {
            return error.errorCase();
        }
        return std::nullopt;
    }
    void answer(std::string body, int status = 200) { api_.answer(kPath, std::move(body), status); }
    [[nodiscard]] std::string target() const { return api_.lastTarget(kPath); }

    test::ScopedLogCapture logs_;
    test::LoopbackApi api_;
    CVOnlineRoutingService service_;
};

TEST_F(OnlineRoutingService, SendsEveryItemInOrderWithDepartureOverArrival) {
    answer(test::oneStepRouteDocument(CVPoint(55.1, 12.25, 1), CVPoint(55.2, 12.5)));
    ASSERT_TRUE(route(std::vector<CVPoint>{CVPoint(1.5, 2, 0), CVPoint(3, 4, -1)},
                      std::vector<CVHighway>{CVHighway::stairs(), CVHighway::elevator()},
                      std::vector<CVHighway>{CVHighway::escalator()}, newYearTen(), newYearTen() + 1h,
                      std::vector<CVUserRole>{{"staff", "Staff"}, {"guest", "Guest"}}));
    EXPECT_EQ(target(),
              "/sol-1/api/directions/meridian?v=6&origin=55.1%2C12.25%2C1&destination=55.2%2C12.5%2C0&optimize=true"
              "&mode=walking&stops=1.5%2C2%2C0%7C3%2C4%2C-1&avoid=steps%2Celevator&exclude=escalator"
              "&appUserRoleIds=staff%2Cguest&departure_time=2025-01-01T10%3A00%3A00Z");
}

TEST_F(OnlineRoutingService, SendsConditionalItemsOnlyUnderTheirConditions) {
    answer(test::oneStepRouteDocument(CVPoint(55.1, 12.25, 1), CVPoint(55.2, 12.5)));
    struct Row {
        const char* name;
        std::function<void()> request;
        std::vector<std::string> items;
    };
    const std::vector<Row> rows{
        {"nothing optional", [&] { route(); }, {"v", "origin", "destination", "optimize", "mode"}},
        {"empty lists",
         [&] {
             route(std::vector<CVPoint>{}, std::vector<CVHighway>{}, std::vector<CVHighway>{}, std::nullopt,
                   std::nullopt, std::vector<CVUserRole>{});
         },
         {"v", "origin", "destination", "optimize", "mode", "stops", "avoid", "exclude"}},
        {"arrival alone",
         [&] { route(std::nullopt, std::nullopt, std::nullopt, std::nullopt, newYearTen()); },
         {"v", "origin", "destination", "optimize", "mode", "arrival_time"}},
    };
    for (const auto& row : rows) {
        api_.web.clearRequests();
        row.request();
        const auto last = api_.web.lastRequest(kPath);
        ASSERT_TRUE(last) << row.name;
        EXPECT_EQ(test::queryNames(*last), row.items) << row.name;
        for (const auto& name : {"stops", "avoid", "exclude"}) {
            if (const auto value = test::queryValue(*last, name)) {
                EXPECT_EQ(*value, "") << row.name << " " << name;
            }
        }
    }
    EXPECT_EQ(test::queryValue(*api_.web.lastRequest(kPath), "arrival_time"), "2025-01-01T10:00:00Z");
}

TEST_F(OnlineRoutingService, EscapesEveryValueSoNoneCanSplitAnItem) {
    answer(test::oneStepRouteDocument(CVPoint(55.1, 12.25, 1), CVPoint(55.2, 12.5)));
    route(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
          std::vector<CVUserRole>{{"a&b=c", ""}, {"d e+f", ""}}, "walk|ing#?/");
    EXPECT_NE(target().find("&mode=walk%7Cing%23%3F%2F&appUserRoleIds=a%26b%3Dc%2Cd%20e%2Bf"), std::string::npos)
        << target();
    EXPECT_EQ(test::queryValue(*api_.web.lastRequest(kPath), "appUserRoleIds"), "a&b=c,d e+f");
}

// The solution and graph ids go into the directions and matrix paths as one
// percent-encoded segment each: nothing in them reaches another path.
TEST_F(OnlineRoutingService, IdsAreOneEscapedPathSegmentEach) {
    const struct {
        std::string solution;
        std::string graph;
        std::string directions;
        std::string matrix;
    } rows[] = {
        {"../../admin", "a/b?c#d", "/..%2F..%2Fadmin/api/directions/a%2Fb%3Fc%23d",
         "/..%2F..%2Fadmin/api/distancematrix"},
        {"..", ".", "/%2E%2E/api/directions/%2E", "/%2E%2E/api/distancematrix"},
        {"sol 1;v=2", "m\xC3\xBCnster%2F", "/sol%201%3Bv%3D2/api/directions/m%C3%BCnster%252F",
         "/sol%201%3Bv%3D2/api/distancematrix"},
    };
    const auto pathOf = [](const test::RecordedRequest& request) {
        return request.target.substr(0, request.target.find('?'));
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.solution);
        api_.web.clearRequests();
        try {
            route(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "walking",
                  row.solution, row.graph);
        } catch (const CVError&) {
        }
        CVDistanceMatrixProvider matrix;
        matrix.solutionId = row.solution;
        matrix.graphId = row.graph;
        try {
            test::run(matrix.distanceMatrix({"o"}, {"d"}, "walking", std::nullopt, std::nullopt, std::nullopt,
                                            std::nullopt, std::nullopt));
        } catch (const CVError&) {
        }
        const auto requests = api_.web.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(pathOf(requests[0]), row.directions);
        EXPECT_EQ(pathOf(requests[1]), row.matrix);
        EXPECT_EQ(test::queryValue(requests[1], "graphId"), row.graph);
    }
}

TEST_F(OnlineRoutingService, SendsNothingWithoutSolutionOrGraph) {
    EXPECT_FALSE(route(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "walking",
                       std::nullopt, "meridian"));
    EXPECT_FALSE(route(std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "walking",
                       "sol-1", std::nullopt));
    EXPECT_TRUE(api_.web.requests().empty());
}

TEST_F(OnlineRoutingService, EveryFailureIsRouteNotFound) {
    const auto good = test::oneStepRouteDocument(CVPoint(55.1, 12.25, 1), CVPoint(55.2, 12.5));
    auto notOk = good;
    notOk.replace(notOk.find("\"OK\""), 4, "\"ZERO_RESULTS\"");
    struct Row {
        const char* name;
        std::string body;
        int status;
        bool logged;
    };
    const std::vector<Row> rows{
        {"status not OK with routes", notOk, 200, false},
        {"no routes", R"({"status":"OK","routes":[]})", 200, false},
        {"no status", R"({"routes":[{"legs":[]}]})", 200, false},
        {"undecodable", "<html>", 200, true},
        {"wrong kind", R"({"status":"OK","routes":[{"legs":7}]})", 200, true},
        {"forbidden", good, 403, true},
        {"server error", good, 500, true},
    };
    for (const auto& row : rows) {
        answer(row.body, row.status);
        EXPECT_EQ(failure(), CVErrorCase::routeNotFound) << row.name;
        EXPECT_EQ(logs_.sink().contains("route(from:to:stops:optimize:by:avoid:exclude:depart:arrive:solutionId:"
                                        "graphId:userRoles:): "),
                  row.logged)
            << row.name;
    }
    api_.web.dropConnection(std::string(kPath));
    EXPECT_EQ(failure(), CVErrorCase::routeNotFound) << "transport failure";
}

TEST_F(OnlineRoutingService, VenueLegTypesAndRestrictionsFromTheAvoidList) {
    answer(R"({"status":"OK","routes":[{"restrictions":["old"],"legs":[{"routeLegType":1,"steps":[]},{"steps":[]}]},
              {"legs":[]}]})");
    const auto avoiding = route(std::nullopt, std::vector<CVHighway>{CVHighway::stairs(), CVHighway::ramp()});
    ASSERT_TRUE(avoiding);
    ASSERT_EQ(avoiding->legsInternal().size(), 2u);
    for (const auto& leg : avoiding->legsInternal()) EXPECT_EQ(leg->routeLegType(), CVRouteLegType::venue);
    EXPECT_EQ(avoiding->restrictions(), (std::vector<std::string>{"steps", "ramp"}));
    EXPECT_TRUE(route(std::nullopt, std::vector<CVHighway>{})->restrictions().empty());
    EXPECT_TRUE(route()->restrictions().empty());
}

// Leg addresses, leg by leg: the given address, the floor names at the
// leg's ends, and the route contexts where one leg meets the next.
TEST_F(OnlineRoutingService, LegAddressesAsReadableLabels) {
    const auto step = [](const char* startFloor, const char* endFloor, const char* context) {
        std::string text = R"({"start_location":{"lat":1,"lng":1)";
        if (startFloor) text += std::string(R"(,"floor_name":")") + startFloor + "\"";
        text += R"(},"end_location":{"lat":1,"lng":1)";
        if (endFloor) text += std::string(R"(,"floor_name":")") + endFloor + "\"";
        text += "}";
        if (context) text += std::string(R"(,"routeContext":")") + context + "\"";
        return text + "}";
    };
    struct Row {
        std::string leg;
        const char* start;
        const char* end;
    };
    const std::vector<Row> rows{
        // Ends outside, the next begins inside.
        {R"({"steps":[)" + step("0", "1", nullptr) + "," + step("2", "3", "OutsideOnVenue") + "]}", "Level 1",
         "Walk inside"},
        // Kept start; both inside: the floor where the last step starts.
        {R"({"start_address":"Gate A","steps":[)" + step("4", "5", "InsideBuilding") + "]}", "Gate A", "Level 4"},
        // The next leg has no steps, so no context: left empty.
        {R"({"end_address":"","steps":[)" + step("6", "7", "InsideBuilding") + "]}", "Level 7", ""},
        // No steps: Outside; the next leg begins outside.
        {R"({"start_address":"","steps":[]})", "Outside", "Walk outside"},
        // No floor names; the next begins in a context of another name: left empty.
        {R"({"steps":[)" + step(nullptr, nullptr, "OutsideOnVenue") + "]}", "Outside", ""},
        // A given end address is replaced by the floor label.
        {R"({"end_address":"Desk","steps":[)" + step("8", "9", "Tunnel") + "]}", "Level 9", "Level 8"},
        // No context on either side: the floor label.
        {R"({"steps":[)" + step("11", "12", nullptr) + "]}", "Level 12", "Level 11"},
        // The last leg: the floor label, "Level " alone without a name.
        {R"({"end_address":"","steps":[)" + step(nullptr, "10", nullptr) + "]}", "Level 10", "Level "},
    };
    std::string legs;
    for (const auto& row : rows) legs += (legs.empty() ? "" : ",") + row.leg;
    answer(R"({"status":"OK","routes":[{"legs":[)" + legs + "]}]}");
    const auto found = route();
    ASSERT_TRUE(found);
    ASSERT_EQ(found->legsInternal().size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // An address left empty may be absent.
        EXPECT_EQ(found->legsInternal()[i]->start_address().value_or(""), rows[i].start) << "leg " << i;
        EXPECT_EQ(found->legsInternal()[i]->end_address().value_or(""), rows[i].end) << "leg " << i;
    }
}

// The provider routes in its venue, with the end points' floors as z.
TEST_F(OnlineRoutingService, TheProviderRoutesInItsVenueWithWholeFloors) {
    api_.web.respond("/sol-2/api/directions/harbour",
                     {200, test::oneStepRouteDocument(CVPoint(1, 2), CVPoint(3, 4)), {}});
    CVRoutingProvider provider("sol-2");
    EXPECT_FALSE(test::run(provider.route(CVPoint(1, 2), CVPoint(3, 4), std::nullopt, false, "walking", std::nullopt,
                                          std::nullopt, std::nullopt, std::nullopt, std::nullopt)))
        << "no venue yet: nothing sent";
    EXPECT_TRUE(api_.web.requests().empty());
    provider.venue = "harbour";
    EXPECT_TRUE(test::run(provider.route(CVPoint(1, 2, 2.7), CVPoint(3, 4, -1.5), std::nullopt, false, "driving",
                                         std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt)));
    const auto last = api_.web.lastRequest("/sol-2/api/directions/harbour");
    ASSERT_TRUE(last);
    EXPECT_EQ(test::queryValue(*last, "origin"), "1,2,2");
    EXPECT_EQ(test::queryValue(*last, "destination"), "3,4,-1");
    EXPECT_EQ(test::queryValue(*last, "mode"), "driving");
}

}  // namespace
}  // namespace ambrell::online_routing_service_test

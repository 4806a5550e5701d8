// The web distance-matrix client against the loopback web service: the exact
// request, refusals before any request, the answer decoded, and errors passed
// through unchanged.

#include <gtest/gtest.h>

#include "Ambrell/CVError.h"
#include "routemodel/CVRouteCodingError.h"
#include "routing/CVDistanceMatrixProvider.h"
#include "tests/routing/DirectionsTesting.h"
#include "tests/support/CapturingLogSink.h"

namespace ambrell::distance_matrix_provider_test {
namespace {

constexpr std::string_view kPath = "/sol-1/api/distancematrix";

class DistanceMatrixProvider : public ::testing::Test {
protected:
    DistanceMatrixProvider() {
        client_.solutionId = "sol-1";
        client_.graphId = "meridian";
    }

    std::optional<CVDistanceMatrixResult> request(std::vector<std::string> origins,
                                                  std::vector<std::string> destinations,
                                                  std::optional<std::vector<CVHighway>> avoid = std::nullopt,
                                                  std::optional<std::vector<CVHighway>> exclude = std::nullopt,
                                                  std::optional<std::vector<CVUserRole>> roles = std::nullopt) {
        return test::run(client_.distanceMatrix(
            std::move(origins), std::move(destinations), "walking", std::move(avoid), std::move(exclude),
            std::chrono::system_clock::time_point(std::chrono::seconds(1)), std::nullopt, std::move(roles)));
    }
    std::optional<CVErrorCase> failureOf(std::vector<std::string> origins, std::vector<std::string> destinations) {
        try {
            request(std::move(origins), std::move(destinations));
        } catch (const CVError& error) {
            return error.errorCase();
        }
        return std::nullopt;
    }
    void answer(std::string body, int status = 200) { api_.answer(kPath, std::move(body), status); }
    [[nodiscard]] std::string target() const { return api_.lastTarget(kPath); }

    test::ScopedLogCapture logs_;
    test::LoopbackApi api_;
    CVDistanceMatrixProvider client_;
};

TEST_F(DistanceMatrixProvider, SendsTheItemsInOrder) {
    answer(R"({"status":"OK"})");
    request({"55.1,12.2,0", "55.3,12.4,1"}, {"55.5,12.6"}, std::vector<CVHighway>{}, std::vector<CVHighway>{});
    EXPECT_EQ(target(),
              "/sol-1/api/distancematrix?v=6&graphId=meridian&origins=55.1%2C12.2%2C0%7C55.3%2C12.4%2C1"
              "&destinations=55.5%2C12.6&mode=walking&avoid=&exclude=");

    request({"o1"}, {"d1", "d2", "d3"}, std::vector<CVHighway>{CVHighway::stairs(), CVHighway::elevator()},
            std::nullopt, std::vector<CVUserRole>{{"staff", "Staff"}, {"it", "IT"}});
    const auto last = api_.web.lastRequest(kPath);
    ASSERT_TRUE(last);
    EXPECT_EQ(test::queryValue(*last, "origins"), "o1");
    EXPECT_EQ(test::queryValue(*last, "destinations"), "d1|d2|d3");
    EXPECT_EQ(test::queryValue(*last, "avoid"), "steps,elevator");
    EXPECT_EQ(test::queryNames(*last),
              (std::vector<std::string>{"v", "graphId", "origins", "destinations", "mode", "avoid", "appUserRoleIds"}));
    EXPECT_EQ(test::queryValue(*last, "appUserRoleIds"), "staff,it");

    request({"o1"}, {"d1"}, std::nullopt, std::nullopt, std::vector<CVUserRole>{});
    EXPECT_EQ(test::queryNames(*api_.web.lastRequest(kPath)),
              (std::vector<std::string>{"v", "graphId", "origins", "destinations", "mode"}))
        << "no roles, no dates";
}

TEST_F(DistanceMatrixProvider, RefusesEmptyListsAndMissingIdsBeforeAnyRequest) {
    EXPECT_EQ(failureOf({}, {"d"}), CVErrorCase::invalidRouteQuery);
    EXPECT_EQ(failureOf({"o"}, {}), CVErrorCase::invalidRouteQuery);
    EXPECT_TRUE(
        logs_.sink().contains("distanceMatrix(origins:destinations:travelMode:avoid:exclude:depart:arrive:"
                              "userRoles:): Cannot request matrix when origins or destinations are empty"));
    client_.graphId.reset();
    EXPECT_EQ(failureOf({"o"}, {"d"}), CVErrorCase::invalidRouteQuery);
    client_.graphId = "meridian";
    client_.solutionId.reset();
    EXPECT_EQ(failureOf({"o"}, {"d"}), CVErrorCase::invalidRouteQuery);
    EXPECT_TRUE(api_.web.requests().empty());
}

TEST_F(DistanceMatrixProvider, DecodesTheAnswer) {
    answer(R"({"status":"OK","venue":"v","rows":[{"elements":[{"status":"OK","duration":{"text":"a","value":95},
              "distance":{"text":"b","value":120}}]}]})");
    const auto result = request({"o"}, {"d"});
    ASSERT_TRUE(result && result->rows);
    ASSERT_EQ(result->rows->size(), 1u);
    ASSERT_TRUE((*result->rows)[0].elements);
    const auto& element = (*result->rows)[0].elements->at(0);
    EXPECT_EQ(element.status, "OK");
    EXPECT_EQ(element.duration->value, 95);
    EXPECT_EQ(element.distance->value, 120);
    EXPECT_EQ(result->venue, "v");

    answer(R"({"status":"NOT_FOUND"})");
    const auto bare = request({"o"}, {"d"});
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->rows);
    EXPECT_EQ(bare->status, "NOT_FOUND") << "carried as received, judged by the caller";
}

TEST_F(DistanceMatrixProvider, ErrorsPassThroughUnchanged) {
    answer(R"({"status":"OK","rows":"none"})");
    EXPECT_THROW(request({"o"}, {"d"}), CVRouteCodingError);
    answer("[1]");
    EXPECT_THROW(request({"o"}, {"d"}), CVRouteCodingError);
    answer("{}", 500);
    EXPECT_EQ(failureOf({"o"}, {"d"}), CVErrorCase::requestFailed);
    answer("{}", 403);
    EXPECT_EQ(failureOf({"o"}, {"d"}), CVErrorCase::invalidApiKey);
}

}  // namespace
}  // namespace ambrell::distance_matrix_provider_test

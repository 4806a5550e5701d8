// The entry object behind a captive portal: once a data set is synchronised,
// a guest network's login page (or a body cut short, or none) answered with
// 200 in place of the web service's documents must load what the same
// container loads with no network at all.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/CVAmbrell.h"
#include "data/AmbrellLegacy.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "platform/Paths.h"
#include "platform/runtime/MainQueue.h"
#include "routing/CVRouteNetworkData.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaitFor.h"

namespace ambrell::entry_behind_portal_test {
namespace {

constexpr auto kBound = std::chrono::seconds(60);

// What a host sees of a load.
struct Loaded {
    // The load's error, as domain and code; empty for none.
    std::string error;
    std::size_t venues = 0;
    std::map<CVLocationBaseType, std::size_t> locations;
    std::size_t routeNetworks = 0;
    std::size_t userRoles = 0;

    bool operator==(const Loaded&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Loaded& loaded) {
    if (!loaded.error.empty()) out << "error " << loaded.error << ", ";
    out << loaded.venues << " venues, " << loaded.routeNetworks << " route networks, " << loaded.userRoles
        << " user roles, locations by type:";
    for (const auto& [type, count] : loaded.locations) out << " " << static_cast<int>(type) << "=" << count;
    return out;
}

enum class Body { loginPage, cutInHalf, empty };

struct PortalCase {
    std::string name;
    // The sync endpoints the portal answers; the others reach the service.
    std::vector<std::string> endpoints;
    Body body;
};

void PrintTo(const PortalCase& portal, std::ostream* out) { *out << portal.name; }

const std::vector<std::string>& syncEndpoints() {
    static const std::vector<std::string> endpoints = {"solutions", "appconfig", "appuserroles", "categories",
                                                       "venues",    "buildings", "locations",    "derivedGeometry",
                                                       "graph",     "routelayer"};
    return endpoints;
}

std::vector<PortalCase> portalCases() {
    std::vector<PortalCase> cases;
    for (const auto& [body, name] : {std::pair{Body::loginPage, "LoginPage"}, std::pair{Body::cutInHalf, "CutInHalf"},
                                     std::pair{Body::empty, "EmptyBody"}}) {
        for (const auto& endpoint : syncEndpoints()) {
            cases.push_back({std::string(name) + "On_" + endpoint, {endpoint}, body});
        }
        cases.push_back({std::string(name) + "OnEverySyncEndpoint", syncEndpoints(), body});
    }
    return cases;
}

class EntryBehindPortal : public test::SampleServiceFixture, public ::testing::WithParamInterface<PortalCase> {
protected:
    ~EntryBehindPortal() override {
        EXPECT_EQ(completed([](auto done) { CVAmbrell::shared()->reset(done); }), std::nullopt);
    }

    template <typename Answer, typename Start>
    static std::optional<Answer> answerOf(Start start) {
        auto answered = std::make_shared<std::promise<Answer>>();
        start([answered](Answer answer) { answered->set_value(std::move(answer)); });
        auto answer = answered->get_future();
        if (answer.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return std::nullopt;
        }
        return answer.get();
    }
    static std::optional<platform::NSError> completed(
        const std::function<void(AmbrellShared::ErrorCompletion)>& start) {
        return answerOf<std::optional<platform::NSError>>(start).value_or(platform::NSError{"test", -2, {}});
    }

    Loaded load() {
        const auto sdk = CVAmbrell::shared();
        Loaded loaded;
        if (const auto error = completed([&](auto done) { sdk->load(id(), std::nullopt, done); })) {
            loaded.error = error->domain + " " + std::to_string(error->code);
            return loaded;
        }
        loaded.venues =
            answerOf<std::vector<std::shared_ptr<CVVenue>>>([&](auto done) { sdk->venuesWithCompletionHandler(done); })
                .value_or(std::vector<std::shared_ptr<CVVenue>>{})
                .size();
        CVFilter everything;
        everything.ignoreActiveStatus = everything.ignoreSearchableStatus = true;
        const auto all = answerOf<std::vector<std::shared_ptr<CVLocation>>>([&](auto done) {
                             sdk->locationsWithQuery(std::nullopt, everything, done);
                         }).value_or(std::vector<std::shared_ptr<CVLocation>>{});
        for (const auto& location : all) ++loaded.locations[location->baseType()];
        const auto graph = AmbrellLegacy::getLoadedGraph();
        loaded.routeNetworks = graph ? graph->networks().size() : 0;
        loaded.userRoles = sdk->availableUserRoles().size();
        return loaded;
    }

    // As a new start of the host with the same container: nothing in memory,
    // and an app that carries no copy of its own, so that only what the data
    // set holds can answer.
    void startAgainWithoutBundle() {
        EXPECT_EQ(completed([](auto done) { CVAmbrell::shared()->reset(done); }), std::nullopt);
        CVModelCache::memoryCache()->clearCache();
        platform::Paths::setResourcesFolder(noResources_.path());
        CVOfflineBundleHelper::resetForTesting();
    }

    void answerWithPortal(const PortalCase& portal) {
        const std::string loginPage =
            "<!DOCTYPE html><html><head><title>Guest Wi-Fi</title></head>"
            "<body><form action=\"/login\" method=\"post\"><input name=\"room\"><button>Sign in</button></form>"
            "</body></html>";
        for (const auto& endpoint : portal.endpoints) {
            test::LoopbackWebService::Response response;
            switch (portal.body) {
                case Body::loginPage: response = {200, loginPage, {{"Content-Type", "text/html"}}}; break;
                case Body::cutInHalf: {
                    const auto document = service_.syncDocument(endpoint, "en");
                    response = {200, document.substr(0, document.size() / 2), {}};
                    break;
                }
                case Body::empty: response = {200, "", {}}; break;
            }
            service_.web().respond("/sync/" + endpoint, std::move(response));
        }
    }

    test::TempDirectory noResources_;
};

TEST_P(EntryBehindPortal, LoadsWhatTheSynchronisedDataSetHolds) {
    const auto before = load();
    ASSERT_EQ(before.venues, 2U);
    ASSERT_EQ(before.routeNetworks, 2U);
    synchronizeDataSet();

    startAgainWithoutBundle();
    answerWithPortal(GetParam());
    EXPECT_EQ(load(), before);
}

INSTANTIATE_TEST_SUITE_P(SyncEndpoints, EntryBehindPortal, ::testing::ValuesIn(portalCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ambrell::entry_behind_portal_test

// A program that links only the SDK (AmbrellCore::AmbrellCore) and installs
// no route-network service of its own: the library has installed it before
// main, so the venues load their route networks, online and offline from the
// app's bundled resources. Its version constants are there for it too, and so
// is the display-rule manager every load makes, the live-data manager that a
// reset unsubscribes, and the map control the entry object makes.

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVMapConfig.h"
#include "core/AmbrellCoreVersion.h"
#include "core/AmbrellInternal.h"
#include "core/CVAmbrell.h"
#include "core/CVSubsystemSeams.h"
#include "data/AmbrellLegacy.h"
#include "data/CVEntrySeams.h"
#include "data/CVRouteNetworkSeams.h"
#include "foundation/SdkVersion.h"
#include "mapcontrol/CVMapConfigMapProvider.h"
#include "mapcontrol/CVMapControlInternal.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"
#include "routing/Graph/CVGraph.h"
#include "routing/Graph/CVGraphNode.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/RecordingMapAdapter.h"
#include "tests/support/WaitFor.h"

namespace ambrell {
namespace {

constexpr auto kBound = std::chrono::seconds(60);

class EntryStartup : public test::SampleServiceFixture {
protected:
    ~EntryStartup() override {
        EXPECT_EQ(completed([](auto done) { CVAmbrell::shared()->reset(done); }), std::nullopt);
    }

    template <typename Start>
    static std::optional<platform::NSError> completed(Start start) {
        auto answered = std::make_shared<std::promise<std::optional<platform::NSError>>>();
        start([answered](std::optional<platform::NSError> error) { answered->set_value(std::move(error)); });
        auto answer = answered->get_future();
        if (answer.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return platform::NSError{"test", -2, {}};
        }
        return answer.get();
    }

    // Loads the sample through the public entry and checks that both
    // venues' networks arrived, each with a graph that routes across floors.
    void expectLoadedWithRouteNetworks() {
        const auto sdk = CVAmbrell::shared();
        EXPECT_EQ(completed([&](auto done) { sdk->load(id(), std::nullopt, done); }), std::nullopt);
        EXPECT_TRUE(sdk->ready());
        const auto graph = AmbrellLegacy::getLoadedGraph();
        ASSERT_TRUE(graph);
        EXPECT_EQ(graph->networks().size(), 2U);
        ASSERT_TRUE(graph->networkForGraphId("harbour"));
        EXPECT_TRUE(graph->networkForGraphId("harbour")->graph());
        const auto meridian = graph->networkForGraphId("meridian");
        ASSERT_TRUE(meridian && meridian->graph());

        std::shared_ptr<CVGraphNode> from;
        std::shared_ptr<CVGraphNode> to;
        for (const auto& node : meridian->graph()->nodes()) {
            if (!from && node->label() == "Office 0.01") from = node;
            if (!to && node->label() == "Office 3.01") to = node;
        }
        ASSERT_TRUE(from && to);
        const auto path = meridian->findPathFromNode(from, to, {}, {});
        ASSERT_TRUE(path);
        EXPECT_EQ(path->back()->coordinate().floor, 3);
    }
};

TEST_F(EntryStartup, TheServiceIsInstalledBeforeMain) {
    // Only the service itself refuses an empty solution id; without one the
    // seam answers that no network is to be had.
    std::optional<platform::NSError> refusal;
    CVRouteNetworkSeams::getRouteNetworkForSolutionAsync(
        "", "venue", [&](auto /*data*/, auto error) { refusal = std::move(error); });
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->code, AmbrellErrorCode::kInvalidParameter);
}

TEST_F(EntryStartup, TheLibraryExportsItsVersion) {
    const std::string_view marked(reinterpret_cast<const char*>(AmbrellCoreVersionString));
    EXPECT_EQ(marked, "@(#)PROGRAM:AmbrellCore  PROJECT:AmbrellCore-" + sdkVersion() + "\n");
    // major.minor.patch as major + minor / 100 + patch / 10000.
    int major = 0;
    int minor = 0;
    int patch = 0;
    ASSERT_EQ(std::sscanf(sdkVersion().c_str(), "%d.%d.%d", &major, &minor, &patch), 3);
    EXPECT_DOUBLE_EQ(AmbrellCoreVersionNumber, major + minor / 100.0 + patch / 10000.0);
}

TEST_F(EntryStartup, VenuesLoadTheirRouteNetworksOnline) { expectLoadedWithRouteNetworks(); }

TEST_F(EntryStartup, VenuesLoadTheirRouteNetworksOfflineFromTheBundledResources) {
    service_.stop();
    setOnline(false);
    expectLoadedWithRouteNetworks();
}

TEST_F(EntryStartup, EachLoadHasDisplayRulesAndAResetDropsThem) {
    const auto sdk = CVAmbrell::shared();
    EXPECT_EQ(sdk->displayRuleForType("Office"), nullptr);
    EXPECT_EQ(sdk->displayRuleForDisplayRuleType(5), nullptr);
    ASSERT_EQ(completed([&](auto done) { sdk->load(id(), std::nullopt, done); }), std::nullopt);

    const auto office = sdk->displayRuleForType("OFFICE");
    ASSERT_NE(office, nullptr);
    const auto main = sdk->displayRuleForDisplayRuleType(6);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(office->parent(), main);
    EXPECT_EQ(main->parent(), sdk->displayRuleForDisplayRuleType(5));
    EXPECT_EQ(sdk->displayRuleForDisplayRuleType(7), nullptr);

    // The locations' rules follow the sources' updates, on the location
    // service's actor.
    const auto entry = CVEntryObjectSeam::installed();
    ASSERT_NE(entry, nullptr);
    const auto location = sdk->locationWithLocationId("39863cf72b24e96b7fce6fec");
    ASSERT_NE(location, nullptr);
    std::shared_ptr<CVDisplayRule> rule;
    ASSERT_TRUE(test::waitFor([&] { return (rule = entry->displayRuleForLocation(*location)) != nullptr; }));
    EXPECT_EQ(rule->parent(), office);
    EXPECT_EQ(rule->label(), "{{name}}");    // from the solution's main rule
    EXPECT_EQ(rule->wallsVisible(), true);   // from the type
    EXPECT_EQ(rule->badgeVisible(), false);  // from the default rule
    EXPECT_TRUE(rule->isVisible());

    EXPECT_EQ(completed([&](auto done) { sdk->reset(done); }), std::nullopt);
    EXPECT_EQ(sdk->displayRuleForType("Office"), nullptr);
    EXPECT_EQ(entry->displayRuleForLocation(*location), nullptr);
}

TEST_F(EntryStartup, TheEntryObjectMakesTheMapControlOnTheAdapterInTheSlot) {
    const auto sdk = CVAmbrell::shared();
    ASSERT_EQ(completed([&](auto done) { sdk->load(id(), std::nullopt, done); }), std::nullopt);

    const auto config = std::make_shared<CVMapConfig>();
    {
        const test::ScopedLogCapture logs;
        EXPECT_EQ(CVAmbrell::createMapControl(config), nullptr);
        EXPECT_TRUE(logs.sink().contains("needs a map-provider adapter"));
    }

    const auto adapter = std::make_shared<test::RecordingMapAdapter>();
    setMapProvider(*config, adapter);
    auto control = std::dynamic_pointer_cast<CVMapControlInternal>(CVAmbrell::createMapControl(config));
    setMapProvider(*config, nullptr);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->map(), adapter);
    EXPECT_EQ(AmbrellInternal::shared()->activeMapControlInstance(), control);
    // Its start takes the first venue and renders it through the adapter;
    // the test thread runs the main queue.
    EXPECT_TRUE(test::waitFor([&] {
        platform::MainQueue::shared().drain();
        return control->tasksInFlight() == 0 && !adapter->setViewModelsCalls().empty();
    }));
    EXPECT_NE(control->currentVenue(), nullptr);
    control.reset();
    EXPECT_EQ(AmbrellInternal::shared()->activeMapControlInstance(), nullptr);
}

// A reset reaches live data through the seam, without live data having been used.
TEST(EntryStartupLiveData, TheLiveDataManagerIsRegisteredBeforeMain) {
    const auto liveData = CVSubsystemSeams::liveDataManager();
    ASSERT_NE(liveData, nullptr);
    platform::blockingWait(platform::ThreadPool::shared().makeStrand(), liveData->unsubscribeAll());
}

}  // namespace
}  // namespace ambrell

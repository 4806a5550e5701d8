#include "viewmodels/CVViewModelProducer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

#include "Ambrell/CVError.h"
#include "data/CVEntrySeams.h"
#include "data/CVImageProvider.h"
#include "data/CVSolutionInternal.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/FakeImageProvider.h"
#include "tests/support/ManagedRulesEntry.h"
#include "tests/support/RecordingMapAdapter.h"
#include "tests/viewmodels/FeatureTestLocations.h"
#include "tests/viewmodels/GoldenFeatureText.h"
#include "viewmodels/DisplayRuleManagerSwift.h"

namespace ambrell::view_model_producer_test {
namespace {

using Icon = std::shared_ptr<const platform::Image>;
using Locations = std::vector<std::shared_ptr<CVLocation>>;
using Ids = std::vector<std::string>;

Icon appIcon() {
    static const Icon icon = std::make_shared<const platform::Image>(platform::Image::create(8, 8).value());
    return icon;
}

// A rule that draws a marker with an icon and a label and, for rooms, a
// polygon, from zoom 16 up.
CVDisplayRuleData drawingData(const std::string& label = "{{name}}") {
    CVDisplayRuleData data;
    data.visible = true;
    data.zoomFrom = 16;
    data.zoomTo = 22;
    data.iconVisible = true;
    data.icon = appIcon();
    data.labelVisible = true;
    data.label = label;
    data.labelZoomFrom = 16;
    data.labelZoomTo = 22;
    data.polygonVisible = true;
    data.polygonZoomFrom = 16;
    data.polygonZoomTo = 22;
    data.polygonFillColor = platform::Color::fromRGBA(0.5, 0.5, 0.5, 1);
    return data;
}

std::shared_ptr<CVDisplayRule> drawingRule(const std::string& label = "{{name}}") {
    return std::make_shared<CVDisplayRule>(drawingData(label));
}

// Icons that arrive only once the test opens the gate, and how many were
// waiting at once at most.
class GatedImageProvider final : public CVImageProviderProtocol {
public:
    using CVImageProviderProtocol::getLocalImageFromUrlString;
    using CVImageProviderProtocol::imageFromUrlString;

    [[nodiscard]] platform::Awaitable<std::optional<platform::Image>> imageFromUrlString(
        std::string urlString, CVImageSize /*imageSize*/) const override {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(urlString);
            mostWaiting_ = std::max(mostWaiting_, ++waiting_);
        }
        co_await gate_.wait();
        {
            std::lock_guard lock(mutex_);
            --waiting_;
        }
        co_return platform::Image::create(8, 8);
    }
    [[nodiscard]] platform::Awaitable<platform::Image> getLocalImageFromUrlString(
        std::string /*urlString*/) const override {
        throw CVError(CVErrorCase::imageNotFound);
        co_return platform::Image::create(1, 1).value();
    }

    void open() { gate_.open(); }
    [[nodiscard]] int arrivals() const { return gate_.arrivals(); }
    [[nodiscard]] int mostWaiting() const {
        std::lock_guard lock(mutex_);
        return mostWaiting_;
    }
    [[nodiscard]] Ids requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    mutable test::AsyncGate gate_;
    mutable std::mutex mutex_;
    mutable int waiting_ = 0;
    mutable int mostWaiting_ = 0;
    mutable Ids requests_;
};

// The entry object as the producer reads it: rules by location id, the
// fixed rules, the solution's switches and the image provider.
class ProducerEntry final : public CVEntryObjectSeam {
public:
    void setLocationRule(const std::string& id, std::shared_ptr<CVDisplayRule> rule) {
        std::lock_guard lock(mutex_);
        locationRules_[id] = std::move(rule);
    }
    void setFixedRule(CVDisplayRuleType type, std::shared_ptr<CVDisplayRule> rule) {
        std::lock_guard lock(mutex_);
        fixedRules_[static_cast<int>(type)] = std::move(rule);
    }
    // No configuration at all when `config` is none.
    void setSolution(std::optional<CVSolutionConfig> config) {
        std::lock_guard lock(mutex_);
        solution_ = std::make_shared<CVSolutionInternal>();
        solution_->config = std::move(config);
    }
    void setImageProvider(std::shared_ptr<const CVImageProviderProtocol> provider) {
        std::lock_guard lock(mutex_);
        images_ = std::move(provider);
    }

    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForLocation(const CVLocation& location) const override {
        std::lock_guard lock(mutex_);
        const auto found = locationRules_.find(location.getLocationId());
        return found == locationRules_.end() ? nullptr : found->second;
    }
    [[nodiscard]] std::shared_ptr<CVDisplayRule> displayRuleForDisplayRuleType(int rawType) const override {
        std::lock_guard lock(mutex_);
        const auto found = fixedRules_.find(rawType);
        return found == fixedRules_.end() ? nullptr : found->second;
    }
    [[nodiscard]] std::shared_ptr<CVSolutionInternal> solution() const override {
        std::lock_guard lock(mutex_);
        return solution_;
    }
    [[nodiscard]] std::shared_ptr<const CVImageProviderProtocol> imageProvider() const override {
        std::lock_guard lock(mutex_);
        return images_ ? images_ : CVEntryObjectSeam::imageProvider();
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<CVDisplayRule>> locationRules_;
    std::map<int, std::shared_ptr<CVDisplayRule>> fixedRules_;
    std::shared_ptr<CVSolutionInternal> solution_;
    std::shared_ptr<const CVImageProviderProtocol> images_;
};

CVSolutionConfig switches(bool enableClustering, bool newSelection) {
    CVSolutionConfig config;
    config.enableClustering = enableClustering;
    config.newSelection = newSelection;
    return config;
}

// A location whose base type is any raw value.
class LocationOfBaseType final : public CVLocationInternal {
public:
    explicit LocationOfBaseType(std::uint32_t raw) : raw_(raw) {}
    [[nodiscard]] CVLocationBaseType baseType() const override { return static_cast<CVLocationBaseType>(raw_); }

private:
    std::uint32_t raw_;
};

class ViewModelProducer : public ::testing::Test {
protected:
    void SetUp() override {
        entry_ = std::make_shared<ProducerEntry>();
        entry_->setSolution(switches(false, true));
        CVEntryObjectSeam::install(entry_);
        adapter_ = std::make_shared<test::RecordingMapAdapter>();
        adapter_->setCamera(19, 0);
    }
    void TearDown() override { CVEntryObjectSeam::install(nullptr); }

    // Points of interest "poi-0" ... with a drawing rule each.
    Locations points(int count, const std::string& prefix = "poi-") {
        Locations locations;
        for (int i = 0; i < count; ++i) {
            auto location =
                test::pointLocation(prefix + std::to_string(i), "Point " + std::to_string(i), 55.67 + i * 1e-5, 12.56);
            entry_->setLocationRule(location->locationId, drawingRule());
            locations.push_back(location);
        }
        return locations;
    }

    std::vector<ViewModel> produce(Locations locations, std::vector<CVFeatureType> hidden = {}) {
        CVViewModelProducer producer(std::move(locations), adapter_, std::nullopt, std::move(hidden));
        return run(producer);
    }
    static std::vector<ViewModel> run(CVViewModelProducer& producer) {
        auto started = test::startTask(producer.produceViewModels());
        auto result = started.result();
        if (!result || result->error()) {
            ADD_FAILURE() << "the run did not end, or threw";
            return {};
        }
        return std::move(result->get());
    }
    static Ids idsOf(const std::vector<ViewModel>& viewModels) {
        Ids ids;
        for (const auto& viewModel : viewModels) ids.push_back(viewModel.id);
        return ids;
    }

    std::shared_ptr<ProducerEntry> entry_;
    std::shared_ptr<test::RecordingMapAdapter> adapter_;
};

TEST_F(ViewModelProducer, NoLocationsGiveNoViewModelsAndStillPassTheClustering) {
    EXPECT_TRUE(produce({}).empty());
    EXPECT_EQ(adapter_->projectionRequests(), 0);

    // With clustering on, the empty list goes to the cluster engine, which
    // needs the map's projection.
    entry_->setSolution(switches(true, true));
    adapter_->setProjection([](CLLocationCoordinate2D) { return platform::CGPoint{10, 10}; });
    EXPECT_TRUE(produce({}).empty());
    EXPECT_EQ(adapter_->projectionRequests(), 1);
}

TEST_F(ViewModelProducer, TakesTheCameraAtCreationAndZeroWithoutAMapControl) {
    adapter_->setCamera(18.5, 42);
    CVViewModelProducer producer({}, adapter_, std::nullopt, {});
    adapter_->setCamera(12, 0);
    EXPECT_EQ(producer.zoom(), 18.5);
    EXPECT_EQ(producer.cameraBearing(), 42);

    CVViewModelProducer orphan({}, nullptr, std::nullopt, {});
    EXPECT_EQ(orphan.zoom(), 0);
    EXPECT_EQ(orphan.cameraBearing(), 0);
}

TEST_F(ViewModelProducer, HundredAndTwentyLocationsComeOutInLocationOrder) {
    auto locations = points(120);
    Ids expected;
    for (const auto& location : locations) expected.push_back(location->getLocationId());
    const auto viewModels = produce(locations);
    EXPECT_EQ(idsOf(viewModels), expected);
    for (const auto& viewModel : viewModels) {
        EXPECT_TRUE(viewModel.marker) << viewModel.id;
        EXPECT_TRUE(viewModel.isClickable);
        EXPECT_FALSE(viewModel.polygon) << "a point has no outline";
    }
}

TEST_F(ViewModelProducer, WorksOnFiftyLocationsAtOnceChunkAfterChunk) {
    auto images = std::make_shared<GatedImageProvider>();
    entry_->setImageProvider(images);
    const auto locations = points(120, "gated-");
    for (const auto& location : locations) {
        auto data = drawingData();
        // An icon of its own for each, so none is served from the icon cache.
        data.icon.reset();
        data.iconUrl = "https://icons.example.com/chunks/" + location->getLocationId() + ".png";
        data.iconSize = CGSize{8, 8};
        data.iconScale = 1;
        entry_->setLocationRule(location->getLocationId(), std::make_shared<CVDisplayRule>(data));
    }
    CVViewModelProducer producer(locations, adapter_, std::nullopt, {});
    auto started = test::startTask(producer.produceViewModels());

    // The first chunk's fifty wait for their icons; the next chunk waits for them.
    ASSERT_TRUE(test::waitFor([&] { return images->arrivals() == 50; }));
    EXPECT_FALSE(started.finished());
    images->open();
    auto result = started.result();
    ASSERT_TRUE(result && !result->error());
    EXPECT_EQ(result->get().size(), 120U);
    EXPECT_EQ(images->mostWaiting(), 50);

    // Icons were asked for chunk by chunk: 0-49, 50-99, 100-119, each in any order.
    const Ids requests = images->requests();
    ASSERT_EQ(requests.size(), 120U);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const auto id = requests[i].substr(requests[i].rfind('/') + 1);
        const int index = std::stoi(id.substr(std::string("gated-").size()));
        EXPECT_EQ(index / 50, static_cast<int>(i / 50)) << requests[i] << " asked for as number " << i;
    }
}

TEST_F(ViewModelProducer, EachUnfitLocationDropsOnlyItself) {
    auto invisible = drawingRule();
    invisible->setVisible(false);
    CVDisplayRuleData hiddenData;
    hiddenData.visible = false;
    auto invisibleStateRule = std::make_shared<CVDisplayRule>(hiddenData);

    struct Case {
        std::string name;
        std::int64_t state;
        std::shared_ptr<CVDisplayRule> locationRule;
        std::shared_ptr<CVDisplayRule> selectionRule;
        std::shared_ptr<CVDisplayRule> highlightRule;
        bool drawn;
    };
    const std::vector<Case> cases = {
        {"plain", 0, drawingRule(), nullptr, nullptr, true},
        {"no rule", 0, nullptr, nullptr, nullptr, false},
        {"invisible rule", 0, invisible, nullptr, nullptr, false},
        {"selected without a selection rule", 1, drawingRule(), nullptr, drawingRule(), false},
        {"highlighted without a highlight rule", 2, drawingRule(), drawingRule(), nullptr, false},
        {"selected under an invisible selection rule", 1, drawingRule(), invisibleStateRule, nullptr, false},
        {"selected", 1, drawingRule(), drawingRule(), nullptr, true},
        {"highlighted", 2, drawingRule(), nullptr, drawingRule(), true},
        {"unknown state", 7, drawingRule(), nullptr, nullptr, true},
    };
    for (const auto& c : cases) {
        entry_ = std::make_shared<ProducerEntry>();
        entry_->setSolution(switches(false, true));
        CVEntryObjectSeam::install(entry_);
        entry_->setFixedRule(CVDisplayRuleType::selectionState, c.selectionRule);
        entry_->setFixedRule(CVDisplayRuleType::highlightState, c.highlightRule);
        Locations locations = points(3);
        auto subject = test::pointLocation("subject", "Subject", 55.6, 12.5);
        subject->state = c.state;
        if (c.locationRule) entry_->setLocationRule("subject", c.locationRule);
        locations.insert(locations.begin() + 1, subject);

        const Ids expected = c.drawn ? Ids{"poi-0", "subject", "poi-1", "poi-2"} : Ids{"poi-0", "poi-1", "poi-2"};
        EXPECT_EQ(idsOf(produce(locations)), expected) << c.name;
    }
}

TEST_F(ViewModelProducer, SelectionTakesTheNewOrTheOldSelectionRule) {
    entry_->setFixedRule(CVDisplayRuleType::selectionState, drawingRule("new {{name}}"));
    entry_->setFixedRule(CVDisplayRuleType::oldSelection, drawingRule("old {{name}}"));
    auto selected = test::pointLocation("selected", "Desk", 55.6, 12.5);
    selected->state = 1;
    entry_->setLocationRule("selected", drawingRule());

    const auto label = [&] {
        const auto viewModels = produce({selected});
        if (viewModels.size() != 1 || !viewModels[0].marker) return std::string("(none)");
        return std::get<std::string>(viewModels[0].marker->properties().at(CVModelPropertyKey::markerLabel));
    };
    entry_->setSolution(switches(false, true));
    EXPECT_EQ(label(), "new Desk");
    entry_->setSolution(switches(false, false));
    EXPECT_EQ(label(), "old Desk");
    // No configuration, as before a solution is loaded: the old rule.
    entry_->setSolution(std::nullopt);
    EXPECT_EQ(label(), "old Desk");

    // A selected location's info window opens as the map control allows.
    entry_->setSolution(switches(false, true));
    EXPECT_TRUE(produce({selected}).at(0).showInfoWindow);
    adapter_->setInfoWindows(true, false);
    EXPECT_FALSE(produce({selected}).at(0).showInfoWindow);
}

TEST_F(ViewModelProducer, BuildingsGoTheirOwnWayAndBaseTypesBeyondFiveDrawNothing) {
    Locations locations = points(2);
    const auto raw = [&](std::uint32_t baseType, const std::string& id) {
        auto location = std::make_shared<LocationOfBaseType>(baseType);
        location->locationId = id;
        location->setPosition(CVPoint(55.6, 12.5));
        entry_->setLocationRule(id, drawingRule());
        locations.push_back(location);
    };
    raw(static_cast<std::uint32_t>(CVLocationBaseType::building), "building");
    raw(6, "base-6");
    raw(7, "base-7");
    auto room = test::roomLocation("room", "Room", 55.6, 12.5);
    entry_->setLocationRule("room", drawingRule());
    locations.push_back(room);
    // A building is drawn with the solution's building rule, never with its
    // location rule's marker: without a building rule it draws nothing.
    EXPECT_EQ(idsOf(produce(locations)), (Ids{"poi-0", "poi-1", "room"}));

    CVDisplayRuleData outline;
    outline.visible = true;
    outline.polygonVisible = true;
    outline.polygonZoomFrom = 10;
    outline.polygonZoomTo = 22;
    outline.polygonStrokeColor = platform::Color::fromRGBA(0, 0, 0, 1);
    entry_->setFixedRule(CVDisplayRuleType::building, std::make_shared<CVDisplayRule>(outline));
    const auto viewModels = produce(locations);
    ASSERT_EQ(idsOf(viewModels), (Ids{"poi-0", "poi-1", "building", "room"}));
    EXPECT_FALSE(viewModels[2].marker);
}

TEST_F(ViewModelProducer, HiddenKindsSuppressOnlyTheirOwnFeatures) {
    auto images = std::make_shared<test::FakeImageProvider>();
    entry_->setImageProvider(images);
    auto data = drawingData();
    data.model2DVisible = true;
    data.model2DZoomFrom = 16;
    data.model2DZoomTo = 22;
    data.model2DModel = "https://media.example.com/models/lounge.png";
    data.model2DWidthMeters = 2.8;
    data.model2DHeightMeters = 1.4;
    auto lounge = test::roomLocation("lounge", "Lounge", 55.6, 12.5);
    entry_->setLocationRule("lounge", std::make_shared<CVDisplayRule>(data));

    auto shown = produce({lounge});
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_TRUE(shown[0].model2D);
    EXPECT_TRUE(shown[0].data.contains(CVModelData::model2D));

    // Hiding 2D models takes away only those; hiding the others changes
    // nothing here.
    auto hidden = produce({lounge}, {CVFeatureType::model2D});
    ASSERT_EQ(hidden.size(), 1U);
    EXPECT_FALSE(hidden[0].model2D);
    EXPECT_TRUE(hidden[0].marker);
    EXPECT_TRUE(hidden[0].polygon);
    auto others = produce(
        {lounge}, {CVFeatureType::model3D, CVFeatureType::floorPlan, CVFeatureType::walls, CVFeatureType::extrusions});
    ASSERT_EQ(others.size(), 1U);
    EXPECT_TRUE(others[0].model2D);
}

TEST_F(ViewModelProducer, AMapControlGoneDropsEveryLocation) {
    const auto locations = points(3);
    CVViewModelProducer producer(locations, adapter_, std::nullopt, {});
    adapter_.reset();
    EXPECT_TRUE(run(producer).empty());

    // With clustering on, nothing could be clustered either.
    entry_->setSolution(switches(true, true));
    adapter_ = std::make_shared<test::RecordingMapAdapter>();
    CVViewModelProducer clustering(locations, adapter_, std::nullopt, {});
    adapter_.reset();
    EXPECT_TRUE(run(clustering).empty());
}

TEST_F(ViewModelProducer, ClusteringWithoutAProjectionGivesNothing) {
    entry_->setSolution(switches(true, true));
    const auto locations = points(3);
    EXPECT_TRUE(produce(locations).empty());
    EXPECT_EQ(adapter_->projectionRequests(), 1);

    // With a projection, markers far apart stay apart.
    adapter_->setProjection([](CLLocationCoordinate2D coordinate) {
        return platform::CGPoint{(coordinate.latitude - 55.6) * 1e6, 100};
    });
    EXPECT_EQ(produce(locations).size(), 3U);
    EXPECT_FALSE(adapter_->pointRequestsOverlapped());
}

// A host app's cluster-image source that fails.
class ThrowingClusterIcons final : public CVCustomClusterIcon {
public:
    std::shared_ptr<const platform::Image> clusterIconForType(const std::string& /*type*/, int /*size*/) override {
        throw std::runtime_error("cluster images unavailable");
    }
};

TEST_F(ViewModelProducer, AFailingProjectionOrClusterIconSourceHandsOutTheViewModelsUnclustered) {
    entry_->setSolution(switches(true, true));
    const auto locations = points(3);
    const Ids expected = {"poi-0", "poi-1", "poi-2"};
    const auto expectUnclustered = [&](const std::vector<ViewModel>& viewModels) {
        EXPECT_EQ(idsOf(viewModels), expected);
        for (const auto& viewModel : viewModels) {
            EXPECT_TRUE(viewModel.marker) << viewModel.id;
            EXPECT_TRUE(viewModel.data.contains(CVModelData::icon)) << viewModel.id;
        }
    };
    {
        test::ScopedLogCapture log;
        adapter_->setProjection(
            [](CLLocationCoordinate2D) -> platform::CGPoint { throw std::runtime_error("projection lost"); });
        expectUnclustered(produce(locations));
        EXPECT_TRUE(log.sink().contains("projection lost"));
    }
    {
        // All on one spot, so that a cluster forms and its image is asked for.
        test::ScopedLogCapture log;
        adapter_->setProjection([](CLLocationCoordinate2D) { return platform::CGPoint{100, 100}; });
        adapter_->setCustomClusterIcon(std::make_shared<ThrowingClusterIcons>());
        expectUnclustered(produce(locations));
        EXPECT_TRUE(log.sink().contains("cluster images unavailable"));
    }
}

TEST_F(ViewModelProducer, LocationsWaitingForIconsKeepTheirPlaceAndARenderAfterThemGivesTheSame) {
    auto images = std::make_shared<GatedImageProvider>();
    entry_->setImageProvider(images);
    const auto locations = points(60, "mixed-");
    // Every third location waits for an icon of its own; the others have
    // theirs at hand.
    for (std::size_t i = 0; i < locations.size(); i += 3) {
        auto data = drawingData();
        data.icon.reset();
        data.iconUrl = "https://icons.example.com/mixed/" + locations[i]->getLocationId() + ".png";
        data.iconSize = CGSize{8, 8};
        entry_->setLocationRule(locations[i]->getLocationId(), std::make_shared<CVDisplayRule>(data));
    }
    Ids expected;
    for (const auto& location : locations) expected.push_back(location->getLocationId());

    CVViewModelProducer first(locations, adapter_, std::nullopt, {});
    auto started = test::startTask(first.produceViewModels());
    // The first chunk's seventeen waiting ones wait together.
    ASSERT_TRUE(test::waitFor([&] { return images->arrivals() == 17; }));
    EXPECT_FALSE(started.finished());
    images->open();
    auto result = started.result();
    ASSERT_TRUE(result && !result->error());
    const auto& waited = result->get();
    EXPECT_EQ(idsOf(waited), expected);

    // Every icon is cached now: nothing waits, and nothing differs.
    const auto warm = produce(locations);
    EXPECT_EQ(images->requests().size(), 20U);
    ASSERT_EQ(idsOf(warm), expected);
    for (std::size_t i = 0; i < warm.size(); ++i) {
        ASSERT_TRUE(warm[i].marker && waited[i].marker) << expected[i];
        EXPECT_EQ(warm[i].marker->toGeoJson(), waited[i].marker->toGeoJson()) << expected[i];
        EXPECT_EQ(std::any_cast<Icon>(warm[i].data.at(CVModelData::icon)),
                  std::any_cast<Icon>(waited[i].data.at(CVModelData::icon)))
            << expected[i];
    }
}

TEST_F(ViewModelProducer, ALaterChunkWaitsItsTurnBehindAnEarlierOnesIcon) {
    auto images = std::make_shared<GatedImageProvider>();
    entry_->setImageProvider(images);
    const auto locations = points(160, "turn-");
    auto waitingFor = [&](std::size_t index, const std::string& icon) {
        auto data = drawingData();
        data.icon.reset();
        data.iconUrl = "https://icons.example.com/turns/" + icon + ".png";
        data.iconSize = CGSize{8, 8};
        entry_->setLocationRule(locations[index]->getLocationId(), std::make_shared<CVDisplayRule>(data));
    };
    // Chunk 0 waits for "a"; chunk 1 has every icon at hand; chunk 2 waits
    // for "b" and shows "a" once more.
    waitingFor(10, "a");
    waitingFor(120, "b");
    waitingFor(130, "a");
    Ids expected;
    for (const auto& location : locations) expected.push_back(location->getLocationId());

    CVViewModelProducer producer(locations, adapter_, std::nullopt, {});
    auto started = test::startTask(producer.produceViewModels());
    ASSERT_TRUE(test::waitFor([&] { return images->arrivals() == 1; }));
    EXPECT_FALSE(started.finished());
    images->open();
    auto result = started.result();
    ASSERT_TRUE(result && !result->error());
    const auto& viewModels = result->get();
    EXPECT_EQ(idsOf(viewModels), expected);
    for (const std::size_t index : {10, 120, 130}) {
        ASSERT_TRUE(viewModels[index].marker) << expected[index];
        EXPECT_EQ(std::get<bool>(viewModels[index].marker->properties().at(CVModelPropertyKey::hasImage)), true);
    }
    // Chunk 2 came after chunk 0's icon arrived: "a" was asked for once, and
    // "b" never while "a" was awaited.
    const Ids requests = images->requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_TRUE(requests[0].ends_with("/a.png")) << requests[0];
    EXPECT_TRUE(requests[1].ends_with("/b.png")) << requests[1];
    EXPECT_EQ(images->mostWaiting(), 1);
}

}  // namespace
}  // namespace ambrell::view_model_producer_test

namespace ambrell::view_model_producer_test {
namespace {

std::string sampleText(const std::string& relativePath) {
    std::ifstream file(std::filesystem::path(AMBRELL_SAMPLE_SOLUTION_DIR) / relativePath, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(SampleSolutionRender, GroundFloorOfMeridianHallAsAGoldenList) {
    auto solution = CVSolutionInternal::fromString(sampleText("service/sync/solutions_en.json"));
    auto dataset = CVLocationDataset::fromString(sampleText("service/sync/locations_en.json"));
    ASSERT_TRUE(solution && dataset && dataset->list);
    Locations floor;
    std::shared_ptr<CVLocationInternal> reception;
    for (const auto& location : *dataset->list) {
        const bool onCampus =
            location->venue == "MERIDIAN" && (location->building == "MERIDIAN-HALL" || location->building.empty());
        if (!onCampus || location->getFloorIndex() != 0.0) continue;
        floor.push_back(location);
        if (location->type == "Reception") reception = location;
    }
    ASSERT_EQ(floor.size(), 37U) << "the hall's ground floor and the campus's two parking places";
    ASSERT_NE(reception, nullptr);
    // The reception is selected: it shows as the solution's selection state.
    reception->state = 1;

    auto rules = std::make_shared<DisplayRuleManagerSwift>(solution);
    const auto strand = platform::ThreadPool::shared().makeStrand();
    platform::blockingWait(strand, rules->updateTypeRules());
    platform::blockingWait(strand, rules->updateLocationRules(floor));
    CVEntryObjectSeam::install(
        std::make_shared<test::ManagedRulesEntry>(rules, std::make_shared<test::FakeImageProvider>()));

    auto adapter = std::make_shared<test::RecordingMapAdapter>();
    adapter->setCamera(20, 30);
    CVViewModelProducer producer(floor, adapter, std::nullopt, {});
    auto result = test::startTask(producer.produceViewModels()).result();
    CVEntryObjectSeam::install(nullptr);
    ASSERT_TRUE(result && !result->error());
    // The map control hands them on as they are.
    adapter->setViewModels(result->get(), false);

    const auto calls = adapter->setViewModelsCalls();
    ASSERT_EQ(calls.size(), 1U);
    test::GoldenTexts texts;
    for (const auto& viewModel : calls[0].models) {
        std::string text;
        if (viewModel.marker) text += viewModel.marker->toGeoJson();
        if (viewModel.polygon) text += "\n" + viewModel.polygon->toGeoJson();
        texts.emplace_back(viewModel.id, text);
    }
    EXPECT_EQ(texts.size(), floor.size());
    test::expectMatchesGoldenTexts(texts, "sample-ground-floor.txt");
}

}  // namespace
}  // namespace ambrell::view_model_producer_test

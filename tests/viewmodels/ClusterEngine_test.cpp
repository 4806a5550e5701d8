#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/ThreadPool.h"
#include "viewmodels/CVCluster.h"
#include "viewmodels/ClusterEngine.h"

namespace ambrell::cluster_engine_test {
namespace {

// Screen x is the longitude and y the latitude, so tests place markers in
// points directly. Counts its calls and checks they come one at a time.
class LinearProjection final : public CVProjection {
public:
    platform::Awaitable<CVGeoRegion> visibleRegion() override { co_return CVGeoRegion{}; }
    platform::Awaitable<CLLocationCoordinate2D> coordinateFor(CGPoint /*point*/) override {
        co_return CLLocationCoordinate2D{};
    }
    platform::Awaitable<CGPoint> pointFor(CLLocationCoordinate2D coordinate) override {
        if (++inFlight_ > 1) overlapped_ = true;
        ++calls_;
        --inFlight_;
        co_return CGPoint{coordinate.longitude, coordinate.latitude};
    }
    [[nodiscard]] int calls() const { return calls_; }
    [[nodiscard]] bool overlapped() const { return overlapped_; }

private:
    std::atomic<int> inFlight_{0};
    std::atomic<int> calls_{0};
    std::atomic<bool> overlapped_{false};
};

class StubClusterIcons final : public CVCustomClusterIcon {
public:
    explicit StubClusterIcons(bool answers) : answers_(answers) {}
    std::shared_ptr<const platform::Image> clusterIconForType(const std::string& type, int size) override {
        asked.emplace_back(type, size);
        if (!answers_) return nullptr;
        return std::make_shared<const platform::Image>(platform::Image::create(30, 30).value());
    }
    std::vector<std::pair<std::string, int>> asked;

private:
    bool answers_;
};

std::shared_ptr<const platform::Image> icon(int width, int height, double scale = 1) {
    return std::make_shared<const platform::Image>(platform::Image::create(width, height, scale).value());
}

// A marker at screen point (x, y) with a square icon of `side` points.
ViewModel marker(const std::string& id, const std::string& type, double x, double y, bool clusterable = true,
                 int side = 24) {
    ViewModel model;
    model.id = id;
    CVFeatureProperties properties{{CVModelPropertyKey::axType, type},
                                   {CVModelPropertyKey::isClusterable, clusterable}};
    model.marker = CVViewModelFeature("Feature", id, std::move(properties),
                                      CVViewModelFeatureGeometry(GeoJsonGeometryType::Point, CVPoint(y, x)));
    model.data[CVModelData::icon] = icon(side, side);
    model.polygon = model.marker;
    model.isClickable = true;
    return model;
}

struct Run {
    std::vector<ViewModel> output;
    ClusterRunStatistics statistics;
    std::vector<std::shared_ptr<CVCluster>> clusters;
    int projectionCalls = 0;
};

Run cluster(std::vector<ViewModel> input, std::shared_ptr<CVCustomClusterIcon> icons = nullptr, int limit = 10) {
    if (!icons) icons = std::make_shared<StubClusterIcons>(true);
    auto projection = std::make_shared<LinearProjection>();
    ClusterEngine engine(3, limit, projection, {}, icons);
    Run run;
    run.output = platform::blockingWait(
        platform::ThreadPool::shared().makeStrand(),
        [&]() -> platform::Awaitable<std::vector<ViewModel>> { co_return co_await engine.cluster(std::move(input)); });
    run.statistics = engine.statistics();
    run.clusters = engine.locationClusterRelation().distinctClusters();
    run.projectionCalls = projection->calls();
    EXPECT_FALSE(projection->overlapped());
    return run;
}

std::vector<std::string> ids(const std::vector<ViewModel>& models) {
    std::vector<std::string> result;
    for (const auto& model : models) result.push_back(model.id);
    return result;
}

const ViewModel& byId(const std::vector<ViewModel>& models, const std::string& id) {
    const auto found = std::find_if(models.begin(), models.end(), [&](const auto& model) { return model.id == id; });
    EXPECT_NE(found, models.end()) << id;
    return *found;
}

bool drawn(const ViewModel& model) { return model.marker.has_value() && model.data.contains(CVModelData::icon); }

TEST(ClusterEngine, EmptyInputRunsOnePassWithoutQueries) {
    const auto run = cluster({});
    EXPECT_TRUE(run.output.empty());
    EXPECT_EQ(run.statistics.passes, 1);
    EXPECT_EQ(run.statistics.queries, 0u);
}

TEST(ClusterEngine, AnOverlappingPairBecomesOneCluster) {
    auto icons = std::make_shared<StubClusterIcons>(true);
    const auto run = cluster({marker("b", "Cafe", 100, 100), marker("a", "Cafe", 110, 105)}, icons);
    ASSERT_EQ(ids(run.output), (std::vector<std::string>{"a", "b", "CVCluster+a+b"}));
    for (const auto* id : {"a", "b"}) {
        const auto& member = byId(run.output, id);
        EXPECT_FALSE(member.marker.has_value());
        EXPECT_FALSE(member.data.contains(CVModelData::icon));
        // Everything else stays.
        EXPECT_TRUE(member.polygon.has_value());
    }
    const auto& clusterModel = run.output.back();
    EXPECT_TRUE(clusterModel.marker.has_value());
    EXPECT_TRUE(clusterModel.isClickable);
    // The second pass finds nothing left to merge.
    EXPECT_EQ(run.statistics.passes, 2);
    // One picture per cluster, once, at the end.
    EXPECT_EQ(icons->asked, (std::vector<std::pair<std::string, int>>{{"Cafe", 2}}));
    // Each pass projects each marker once.
    EXPECT_EQ(run.projectionCalls, 2);
}

TEST(ClusterEngine, OnlyClusterableMarkersOfOneTypeMerge) {
    struct Case {
        const char* name;
        ViewModel second;
    };
    const Case cases[] = {
        {"other type", marker("b", "Toilet", 110, 100)},
        {"not clusterable", marker("b", "Cafe", 110, 100, false)},
        {"apart", marker("b", "Cafe", 125, 100)},
    };
    for (const auto& testCase : cases) {
        const auto run = cluster({marker("a", "Cafe", 100, 100), testCase.second});
        EXPECT_EQ(run.output.size(), 2u) << testCase.name;
        for (const auto& model : run.output) EXPECT_TRUE(drawn(model)) << testCase.name;
        EXPECT_TRUE(run.clusters.empty()) << testCase.name;
        EXPECT_EQ(run.statistics.passes, 1) << testCase.name;
    }
}

TEST(ClusterEngine, TouchingIconsCluster) {
    const auto run = cluster({marker("a", "Cafe", 100, 100), marker("b", "Cafe", 124, 100)});
    EXPECT_EQ(run.clusters.size(), 1u);
}

TEST(ClusterEngine, ASmallIconInsideALargeOneLosesItsMarkerToo) {
    const auto run = cluster({marker("small", "Cafe", 100, 100, true, 8), marker("large", "Cafe", 101, 90, true, 40)});
    ASSERT_EQ(run.clusters.size(), 1u);
    EXPECT_EQ(run.clusters[0]->childIds().size(), 2u);
    EXPECT_FALSE(drawn(byId(run.output, "small")));
    EXPECT_FALSE(drawn(byId(run.output, "large")));
    EXPECT_EQ(run.output.size(), 3u);
}

TEST(ClusterEngine, AChainOfThreeIsOneCluster) {
    const auto run = cluster(
        {marker("first", "Cafe", 100, 100), marker("second", "Cafe", 120, 100), marker("third", "Cafe", 140, 100)});
    ASSERT_EQ(run.clusters.size(), 1u);
    EXPECT_EQ(run.clusters[0]->id(), "CVCluster+first+second+third");
    EXPECT_EQ(run.output.size(), 4u);
}

TEST(ClusterEngine, TwoClustersJoinedByAMemberOfBoth) {
    // Processed by latitude, highest first: w finds z, x finds y, then y
    // finds z and the two clusters become one.
    const auto run = cluster({marker("z", "Cafe", 120, 50.0), marker("y", "Cafe", 140, 50.1),
                              marker("x", "Cafe", 160, 50.2), marker("w", "Cafe", 100, 50.3)});
    ASSERT_EQ(run.clusters.size(), 1u);
    EXPECT_EQ(run.clusters[0]->childIds(), (std::vector<std::string>{"x", "y", "w", "z"}));
    EXPECT_EQ(ids(run.output), (std::vector<std::string>{"w", "x", "y", "z", "CVCluster+w+x+y+z"}));
}

TEST(ClusterEngine, SeparateClustersComeInTheOrderTheyFormed) {
    const auto run = cluster({marker("s1", "Shop", 500, 10), marker("s2", "Shop", 510, 10),
                              marker("c1", "Cafe", 100, 90), marker("c2", "Cafe", 110, 90)});
    EXPECT_EQ(ids(run.output),
              (std::vector<std::string>{"c2", "c1", "s2", "s1", "CVCluster+c1+c2", "CVCluster+s1+s2"}));
}

TEST(ClusterEngine, ProjectedPointsNotAboveZeroStayOut) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double x;
        double y;
        bool clusters;
    };
    const Case cases[] = {
        {"x zero", 0, 100, false},
        {"y zero", 100, 0, false},
        {"x negative", -5, 100, false},
        {"y negative", 100, -0.5, false},
        {"x NaN", nan, 100, false},
        {"y NaN", 100, nan, false},
        // Their cluster would sit at an infinite point no GeoJSON can hold.
        {"x infinite", inf, 100, false},
        {"y infinite", 100, inf, false},
        {"beyond the view", 5000, 9000, true},
        {"beyond float", 1e40, 1e40, true},
    };
    for (const auto& testCase : cases) {
        // A neighbour at the same point, so only the projection decides.
        const auto run =
            cluster({marker("a", "Cafe", testCase.x, testCase.y), marker("b", "Cafe", testCase.x, testCase.y)});
        EXPECT_EQ(run.clusters.size(), testCase.clusters ? 1u : 0u) << testCase.name;
        EXPECT_EQ(drawn(byId(run.output, "a")), !testCase.clusters) << testCase.name;
    }
}

TEST(ClusterEngine, PassesStopWhenNothingMergesOrAtTheLimit) {
    const std::vector<ViewModel> pair = {marker("a", "Cafe", 100, 100), marker("b", "Cafe", 110, 100)};
    EXPECT_EQ(cluster(pair).statistics.passes, 2);
    const auto limited = cluster(pair, nullptr, 1);
    EXPECT_EQ(limited.statistics.passes, 1);
    EXPECT_EQ(limited.clusters.size(), 1u);
}

TEST(ClusterEngine, SortsByLatitudeThenLongitudeDescendingWithNaNLast) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ViewModel bare;
    bare.id = "no marker";
    // Not clusterable, so that the close ones stay apart.
    const auto run =
        cluster({marker("nan", "Cafe", 5, nan, false), bare, marker("55.6", "Cafe", 12.5, 55.6, false),
                 marker("55.7/12.5", "Cafe", 12.5, 55.7, false), marker("55.7/12.6", "Cafe", 12.6, 55.7, false),
                 marker("south", "Cafe", 1, -10, false), marker("nan lon", "Cafe", nan, 55.7, false)});
    EXPECT_EQ(ids(run.output),
              (std::vector<std::string>{"55.7/12.6", "55.7/12.5", "nan lon", "55.6", "no marker", "south", "nan"}));
}

TEST(ClusterEngine, ViewModelsThatCannotTakePartPassThroughUntouched) {
    auto noIcon = marker("no icon", "Cafe", 100, 100);
    noIcon.data.clear();
    auto iconNotImage = marker("icon not an image", "Cafe", 100, 100);
    iconNotImage.data[CVModelData::icon] = std::string("cafe.png");
    auto noType = marker("no type", "Cafe", 100, 100);
    noType.marker->properties().erase(CVModelPropertyKey::axType);
    auto typeNotText = marker("type not text", "Cafe", 100, 100);
    typeNotText.marker->properties()[CVModelPropertyKey::axType] = 4.0;
    auto lineMarker = marker("not a point", "Cafe", 100, 100);
    lineMarker.marker->setGeometry(CVViewModelFeatureGeometry(GeoJsonGeometryType::LineString,
                                                              std::vector<CVPoint>{CVPoint(100, 100), CVPoint(1, 1)}));
    auto valueNotBool = marker("clusterable not a Boolean", "Cafe", 100, 100);
    valueNotBool.marker->properties()[CVModelPropertyKey::isClusterable] = std::string("true");

    const auto run = cluster({noIcon, iconNotImage, noType, typeNotText, lineMarker, valueNotBool});
    EXPECT_TRUE(run.clusters.empty());
    EXPECT_EQ(run.output.size(), 6u);
    for (const auto& model : run.output) EXPECT_TRUE(model.marker.has_value()) << model.id;
    EXPECT_EQ(byId(run.output, "icon not an image").data.size(), 1u);
    // Only the one with everything but a Boolean is projected.
    EXPECT_EQ(run.projectionCalls, 1);
    EXPECT_FALSE(isClusterable(valueNotBool));
}

TEST(ClusterEngine, AClusterWithoutAPictureIsLeftOutWhileItsMembersLoseTheirMarkers) {
    auto icons = std::make_shared<StubClusterIcons>(false);
    const auto run = cluster({marker("a", "Cafe", 100, 100), marker("b", "Cafe", 110, 100)}, icons);
    EXPECT_EQ(ids(run.output), (std::vector<std::string>{"b", "a"}));
    for (const auto& model : run.output) EXPECT_FALSE(drawn(model));
    EXPECT_EQ(icons->asked.size(), 1u);
}

// The clusters a union-find over every pair finds: the same rule (same type,
// both clusterable, both projected above 0, rectangles meeting).
std::set<std::set<std::string>> referenceClusters(const std::vector<ViewModel>& models, double side) {
    std::vector<std::size_t> parent(models.size());
    std::iota(parent.begin(), parent.end(), 0);
    const auto root = [&](std::size_t node) {
        while (parent[node] != node) node = parent[node] = parent[parent[node]];
        return node;
    };
    const auto type = [](const ViewModel& model) {
        return std::get<std::string>(model.marker->properties().at(CVModelPropertyKey::axType));
    };
    std::vector<bool> joined(models.size(), false);
    for (std::size_t i = 0; i < models.size(); ++i) {
        for (std::size_t j = i + 1; j < models.size(); ++j) {
            const auto p = markerCoordinate(models[i]);
            const auto q = markerCoordinate(models[j]);
            const bool eligible = isClusterable(models[i]) && isClusterable(models[j]) &&
                                  type(models[i]) == type(models[j]) && p.longitude > 0 && p.latitude > 0 &&
                                  q.longitude > 0 && q.latitude > 0;
            if (eligible && std::abs(p.longitude - q.longitude) <= side && std::abs(p.latitude - q.latitude) <= side) {
                parent[root(i)] = root(j);
                joined[i] = joined[j] = true;
            }
        }
    }
    std::map<std::size_t, std::set<std::string>> groups;
    for (std::size_t i = 0; i < models.size(); ++i) {
        if (joined[i]) groups[root(i)].insert(models[i].id);
    }
    std::set<std::set<std::string>> result;
    for (auto& [rootIndex, members] : groups) result.insert(std::move(members));
    return result;
}

std::vector<ViewModel> randomMarkers(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> x(-20, 400);
    std::uniform_int_distribution<int> y(-20, 600);
    std::uniform_int_distribution<int> typeIndex(0, 2);
    std::bernoulli_distribution clusterable(0.85);
    std::vector<ViewModel> models;
    std::set<std::pair<int, int>> used;
    while (static_cast<int>(models.size()) < count) {
        const int px = x(random);
        const int py = y(random);
        // Distinct points, so that the order after sorting is unique.
        if (!used.emplace(px, py).second) continue;
        models.push_back(marker("m" + std::to_string(models.size()), "type" + std::to_string(typeIndex(random)), px, py,
                                clusterable(random)));
    }
    return models;
}

std::set<std::set<std::string>> clustersOf(const Run& run) {
    std::set<std::set<std::string>> result;
    for (const auto& cluster : run.clusters) {
        const auto childIds = cluster->childIds();
        result.emplace(childIds.begin(), childIds.end());
    }
    return result;
}

TEST(ClusterEngine, SeededRandomInputsMatchTheReferenceAndKeepTheInvariants) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        const auto input = randomMarkers(seed, 150);
        const auto run = cluster(input);
        const auto expected = referenceClusters(input, 24);
        EXPECT_GE(expected.size(), 3u) << "seed " << seed;
        EXPECT_EQ(clustersOf(run), expected) << "seed " << seed;

        // Every input view model once, then one view model per cluster.
        ASSERT_EQ(run.output.size(), input.size() + expected.size()) << "seed " << seed;
        std::multiset<std::string> seen;
        for (std::size_t i = 0; i < input.size(); ++i) seen.insert(run.output[i].id);
        for (const auto& model : input) EXPECT_EQ(seen.count(model.id), 1u) << model.id;
        std::set<std::string> clusterIds;
        for (std::size_t i = input.size(); i < run.output.size(); ++i) {
            EXPECT_EQ(run.output[i].id.rfind("CVCluster+", 0), 0u);
            EXPECT_TRUE(clusterIds.insert(run.output[i].id).second);
        }

        // Drawn, or in exactly one cluster.
        std::map<std::string, int> memberships;
        for (const auto& members : expected) {
            for (const auto& id : members) ++memberships[id];
        }
        for (std::size_t i = 0; i < input.size(); ++i) {
            const auto& model = run.output[i];
            const int count = memberships[model.id];
            EXPECT_LE(count, 1);
            EXPECT_NE(drawn(model), count == 1) << model.id;
        }

        // No two drawn clusterable markers of one type overlap.
        std::vector<const ViewModel*> shown;
        for (std::size_t i = 0; i < input.size(); ++i) {
            if (drawn(run.output[i]) && isClusterable(run.output[i])) shown.push_back(&run.output[i]);
        }
        for (std::size_t i = 0; i < shown.size(); ++i) {
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                const auto p = markerCoordinate(*shown[i]);
                const auto q = markerCoordinate(*shown[j]);
                const bool onScreen = p.longitude > 0 && p.latitude > 0 && q.longitude > 0 && q.latitude > 0;
                const bool sameType = shown[i]->marker->properties().at(CVModelPropertyKey::axType) ==
                                      shown[j]->marker->properties().at(CVModelPropertyKey::axType);
                EXPECT_FALSE(onScreen && sameType && std::abs(p.longitude - q.longitude) <= 24 &&
                             std::abs(p.latitude - q.latitude) <= 24)
                    << shown[i]->id << " " << shown[j]->id;
            }
        }

        // Shuffled input: the same clusters, and with distinct points the same order.
        auto shuffled = input;
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(seed * 7919));
        const auto again = cluster(shuffled);
        EXPECT_EQ(clustersOf(again), clustersOf(run));
        EXPECT_EQ(ids(again.output), ids(run.output));
    }
}

}  // namespace
}  // namespace ambrell::cluster_engine_test

#include "data/CVOfflineBundleHelper.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "data/AmbrellLegacy.h"
#include "data/CVDataSetSeams.h"
#include "data/CVRouteNetworkSeams.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempDirectory.h"

namespace ambrell {
namespace {

namespace fs = std::filesystem;
using Bundle = CVOfflineBundleHelper;
using Date = Bundle::Date;
using std::chrono::seconds;

constexpr std::int64_t kSnapshotSeconds = 1735689600;  // 2025-01-01T00:00:00Z

class OfflineBundle : public test::ContainerFixture {
protected:
    OfflineBundle() { platform::Paths::setResourcesFolder(resources_.path()); }
    ~OfflineBundle() override {
        Bundle::resetForTesting();
        CVRouteNetworkSeams::resetForTesting();
        CVDataSetSeams::resetForTesting();
        AmbrellLegacy::resetForTesting();
        platform::Paths::resetForTesting();
    }

    void write(const std::string& name, const std::string& content) {
        fs::create_directories(resources_ / "res");
        std::ofstream(resources_ / "res" / name, std::ios::binary) << content;
    }
    void writeSnapshot(const std::string& solutionId) {
        write("ax_sync_solutionid.json", R"({"solutionId": ")" + solutionId + R"("})");
        write("ax_sync_timestamp.json", R"({"timestamp": )" + std::to_string(kSnapshotSeconds) + "}");
        write("ax_sync_categories_en.json", "[]");
        write("ax_sync_categories.json", "[]");
        write("ax_sync_venues_en.json", "[]");
        write("ax_sync_package.zip", "PK");
    }
    [[nodiscard]] fs::path resource(const std::string& name) const { return resources_ / "res" / name; }

    test::TempDirectory resources_{"ambrell-resources"};
    test::ScopedLogCapture log_;
};

class FakeRouteNetworks : public CVRouteNetworkServicing {
public:
    bool isCachedDataAvailableForSolutionId(std::string_view solutionId) const override { return solutionId == "B"; }
    void getRouteNetworkForSolutionAsync(std::string, std::string, Completion completion) override {
        completion(nullptr, std::nullopt);
    }
    std::size_t networkCount(const CVRouteNetworkData&) const override { return 0; }
    std::shared_ptr<CVRouteNetworkData> mergeRouteNetworks(
        const std::vector<std::shared_ptr<CVRouteNetworkData>>& /*graphs*/) const override {
        return nullptr;
    }
};

TEST_F(OfflineBundle, AnAppWithoutSnapshotHasNothing) {
    EXPECT_EQ(Bundle::offlineDataSolutionId(), std::nullopt);
    EXPECT_EQ(Bundle::offlinePathForEndpointData("sync/categories", "A", "en"), std::nullopt);
    EXPECT_FALSE(Bundle::offlineDataHaveMapTilesForSolution("A"));
    EXPECT_FALSE(Bundle::offlineDataHaveDirectionGraphsForSolution("A"));
    EXPECT_EQ(Bundle::ifModifiedSinceForBundledUrl("https://h/sync/categories?lr=en", resources_ / "absent", "A"),
              std::nullopt);

    EXPECT_EQ(Bundle::offlineDataTimestamp(), std::nullopt);
    EXPECT_TRUE(
        log_.sink().contains("+[CVOfflineBundleHelper offlineDataTimestamp] [E] Failed to determine "
                             "offlineDataTimestamp: err=(null), path=(null)"));
}

TEST_F(OfflineBundle, ResourceNamesFollowEndpointAndLanguage) {
    writeSnapshot("A");
    const std::tuple<const char*, std::optional<std::string_view>, std::optional<std::string>> cases[] = {
        {"sync/categories", "en", "ax_sync_categories_en.json"},
        {"sync/categories", std::nullopt, "ax_sync_categories.json"},
        {"sync/categories", "da", std::nullopt},
        {"sync/package.zip", std::nullopt, "ax_sync_package.zip"},
        {"sync/categories", "../en", std::nullopt}};
    for (const auto& [endpointData, language, file] : cases) {
        SCOPED_TRACE(endpointData);
        const auto path = Bundle::offlinePathForEndpointData(endpointData, "A", language);
        EXPECT_EQ(path, file ? std::optional(resource(*file)) : std::nullopt);
        EXPECT_EQ(Bundle::offlinePathForEndpointData(endpointData, "B", language), std::nullopt);
    }
}

TEST_F(OfflineBundle, SyncUrlsMapOntoTheirResource) {
    writeSnapshot("A");
    const auto venues = resource("ax_sync_venues_en.json");
    const std::pair<std::optional<std::string_view>, std::optional<fs::path>> cases[] = {
        {"https://api.example.org/sync/venues?solutionId=A&lr=en&v=6", venues},
        {"https://api.example.org/sync/venues?v=6&venueId=V&appUserRoleIds=r&lr=en&lr=da", venues},
        {"https://api.example.org/sync/categories?solutionId=A", resource("ax_sync_categories.json")},
        {"sync/venues?lr=en", venues},
        {"https://api.example.org/sync/venues?lr=sv", std::nullopt},
        {"https://api.example.org", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
        {"http://[broken", std::nullopt}};
    for (const auto& [url, path] : cases) {
        SCOPED_TRACE(url.value_or("(none)"));
        EXPECT_EQ(Bundle::offlinePathForEndpointUrl(url, "A"), path);
    }
    EXPECT_EQ(Bundle::offlinePathForEndpointUrl("https://api.example.org/sync/venues?solutionId=A&lr=en&v=6", "B"),
              std::nullopt);
}

TEST_F(OfflineBundle, SnapshotIdIsKeptOnceFoundAndATimestampWithoutDateIsTheStartOf1970) {
    write("ax_sync_solutionid.json", R"(["not an object"])");
    EXPECT_EQ(Bundle::offlineDataSolutionId(), std::nullopt);
    writeSnapshot("A");
    EXPECT_EQ(Bundle::offlineDataSolutionId(), "A");
    fs::remove(resource("ax_sync_solutionid.json"));
    EXPECT_EQ(Bundle::offlineDataSolutionId(), "A");

    Bundle::resetForTesting();
    write("ax_sync_timestamp.json", "{}");
    EXPECT_EQ(Bundle::offlineDataTimestamp(), Date{});
    Bundle::resetForTesting();
    write("ax_sync_timestamp.json", R"({"timestamp": "soon"})");
    EXPECT_EQ(Bundle::offlineDataTimestamp(), std::nullopt);
    EXPECT_TRUE(
        log_.sink().contains("err=\"timestamp\" is not a number, path=" + resource("ax_sync_timestamp.json").string()));
}

TEST_F(OfflineBundle, TilesNeedANonEmptyResourceAndGraphsComeFromTheSnapshotOrTheRouteNetworkCache) {
    writeSnapshot("A");
    EXPECT_FALSE(Bundle::offlineDataHaveMapTilesForSolution("A"));
    write("ax_sync_tiles.json", "");
    EXPECT_FALSE(Bundle::offlineDataHaveMapTilesForSolution("A"));
    write("ax_sync_tiles.json", "{}");
    EXPECT_TRUE(Bundle::offlineDataHaveMapTilesForSolution("A"));
    EXPECT_FALSE(Bundle::offlineDataHaveMapTilesForSolution("B"));

    EXPECT_FALSE(Bundle::offlineDataHaveDirectionGraphsForSolution("A"));
    write("ax_sync_graph.json", "{}");
    EXPECT_TRUE(Bundle::offlineDataHaveDirectionGraphsForSolution("A"));
    EXPECT_FALSE(Bundle::offlineDataHaveDirectionGraphsForSolution("B"));
    CVRouteNetworkSeams::setService(std::make_shared<FakeRouteNetworks>());
    EXPECT_TRUE(Bundle::offlineDataHaveDirectionGraphsForSolution("B"));
    EXPECT_FALSE(Bundle::offlineDataHaveDirectionGraphsForSolution("C"));
}

TEST_F(OfflineBundle, TileTimestampTakesTheLaterOfStoredAndSnapshot) {
    writeSnapshot("A");
    write("ax_sync_tiles.json", "{}");
    AmbrellLegacy::setApiKey("A");
    EXPECT_EQ(Bundle::userDefaultsKeyForTileDataTimestamp(), "ax-tileDataTimestamp-A");
    const Date snapshot{seconds(kSnapshotSeconds)};

    EXPECT_EQ(Bundle::tileDataTimestamp(), snapshot);
    Bundle::setTileDataTimestamp(snapshot - seconds(60));
    EXPECT_EQ(Bundle::tileDataTimestamp(), snapshot);
    Bundle::setTileDataTimestamp(snapshot + seconds(60));
    EXPECT_EQ(Bundle::tileDataTimestamp(), snapshot + seconds(60));
    EXPECT_TRUE(platform::UserDefaults::standard().hasKey("ax-tileDataTimestamp-A"));

    // Another key: the snapshot's tiles are not its tiles.
    AmbrellLegacy::setApiKey("B");
    EXPECT_EQ(Bundle::tileDataTimestamp(), std::nullopt);
    Bundle::setTileDataTimestamp(snapshot - seconds(60));
    EXPECT_EQ(Bundle::tileDataTimestamp(), snapshot - seconds(60));
    Bundle::setTileDataTimestamp(std::nullopt);
    EXPECT_FALSE(platform::UserDefaults::standard().hasKey("ax-tileDataTimestamp-B"));
}

TEST_F(OfflineBundle, ConditionalDateOnlyForFilesNotDownloadedYet) {
    writeSnapshot("A");
    const std::string url = "https://api.example.org/sync/venues?solutionId=A&lr=en&v=6";
    const fs::path notYet = containerRoot() / "venues.json";
    const Date snapshot{seconds(kSnapshotSeconds)};

    EXPECT_EQ(Bundle::ifModifiedSinceForBundledUrl(url, notYet, "A"), snapshot);
    EXPECT_TRUE(log_.sink().contains(
        "+[CVOfflineBundleHelper ifModifiedSinceForBundledUrl:cachingFile:datasetId:] [D] Using If-Modified-Since "
        "date from bundle 2025-01-01 00:00:00 +0000 for " +
        url));
    EXPECT_EQ(Bundle::ifModifiedSinceForBundledUrl(url, notYet, "B"), std::nullopt);
    EXPECT_EQ(Bundle::ifModifiedSinceForBundledUrl("https://api.example.org/sync/appconfig?lr=en", notYet, "A"),
              std::nullopt);
    std::ofstream(notYet) << "[]";
    EXPECT_EQ(Bundle::ifModifiedSinceForBundledUrl(url, notYet, "A"), std::nullopt);
}

class CachedGraph : public CVDataSetCachedFiles {
public:
    std::optional<fs::path> pathForCachedUrl(std::string_view url, std::string_view dataSetId) const override {
        if (dataSetId == "B" && url.find("/sync/graph") != std::string_view::npos) return fs::path("/cache/graph");
        return std::nullopt;
    }
};

TEST_F(OfflineBundle, WithoutRoutingTheDataSetTellsWhetherTheGraphIsCached) {
    EXPECT_FALSE(CVRouteNetworkSeams::isCachedDataAvailableForSolutionId("B"));
    CVDataSetSeams::setCachedFiles(std::make_shared<CachedGraph>());
    EXPECT_TRUE(CVRouteNetworkSeams::isCachedDataAvailableForSolutionId("B"));
    EXPECT_TRUE(Bundle::offlineDataHaveDirectionGraphsForSolution("B"));
    EXPECT_FALSE(CVRouteNetworkSeams::isCachedDataAvailableForSolutionId("A"));

    std::optional<platform::NSError> answered;
    CVRouteNetworkSeams::getRouteNetworkForSolutionAsync(
        "B", "V",
        [&](std::shared_ptr<CVRouteNetworkData>, std::optional<platform::NSError> error) { answered = error; });
    ASSERT_TRUE(answered);
    EXPECT_EQ(std::tie(answered->domain, answered->code), std::tuple("com.corvay.Ambrell", 101400));
}

}  // namespace
}  // namespace ambrell

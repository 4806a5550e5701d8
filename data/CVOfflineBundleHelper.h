#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ambrell {

// Finds the snapshot of one solution's content that a host app may carry in
// the folder "res" of its resources (platform::Paths::resources()), so the SDK
// can start without the network. Every operation taking a solution id answers
// nothing from the snapshot for another solution. Safe from any thread.
//
// The snapshot's files: "res/ax_sync_solutionid.json" ({"solutionId": ...}),
// "res/ax_sync_timestamp.json" ({"timestamp": seconds since 1970}),
// "res/ax_sync_tiles.json" (not empty when map tiles are bundled),
// "res/ax_sync_graph.json" (when the route network is bundled), and one
// "res/ax_<endpoint>[_<language>].json" per sync document.
class CVOfflineBundleHelper {
public:
    using Date = std::chrono::system_clock::time_point;

    CVOfflineBundleHelper() = delete;

    // Kept once found; a snapshot without a readable id is no snapshot.
    [[nodiscard]] static std::optional<std::string> offlineDataSolutionId();
    // Kept once found; logged at every call that finds none.
    [[nodiscard]] static std::optional<Date> offlineDataTimestamp();

    // "ax-tileDataTimestamp-" followed by the bound API key.
    [[nodiscard]] static std::string userDefaultsKeyForTileDataTimestamp();
    // The stored date of the tile data in use for the bound key, or the
    // snapshot's date when the app bundles tiles for that key and nothing
    // later is stored.
    [[nodiscard]] static std::optional<Date> tileDataTimestamp();
    // None removes the stored date.
    static void setTileDataTimestamp(std::optional<Date> date);

    [[nodiscard]] static bool offlineDataHaveMapTilesForSolution(std::string_view solutionId);
    // Also true when the route network is cached in the solution's data set.
    [[nodiscard]] static bool offlineDataHaveDirectionGraphsForSolution(std::string_view solutionId);

    // The resource standing for a sync endpoint's document: the endpoint data
    // ("sync/appconfig") with "/" replaced by "_", then "_" and the language
    // when one is given: res/ax_sync_appconfig_da.json. Endpoint data with a
    // file extension names the resource file as it is.
    [[nodiscard]] static std::optional<std::filesystem::path> offlinePathForEndpointData(
        std::string_view endpointData, std::string_view solutionId, std::optional<std::string_view> language);
    // The same for a sync URL: its path is the endpoint data and its "lr"
    // query item the language; other query items do not matter.
    [[nodiscard]] static std::optional<std::filesystem::path> offlinePathForEndpointUrl(
        std::optional<std::string_view> url, std::string_view solutionId);

    // The snapshot's date, as the "If-Modified-Since" of a data-set file not
    // downloaded yet whose URL the snapshot has a resource for.
    [[nodiscard]] static std::optional<Date> ifModifiedSinceForBundledUrl(std::string_view url,
                                                                          const std::filesystem::path& cachingFile,
                                                                          std::string_view datasetId);

    // Test-only: forgets the snapshot's id and date.
    static void resetForTesting();
};

}  // namespace ambrell

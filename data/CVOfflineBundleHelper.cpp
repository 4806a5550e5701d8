#include "data/CVOfflineBundleHelper.h"

#include <ctime>
#include <mutex>
#include <system_error>

#include <boost/json/value.hpp>
#include <boost/url/parse.hpp>

#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVRouteNetworkSeams.h"
#include "jsonmodel/JSONModel/JSONParsing.h"
#include "jsonmodel/JSONModel/JSONValueTransformer.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"

namespace ambrell {

namespace {

namespace fs = std::filesystem;
namespace json = boost::json;

constexpr std::string_view kSolutionIdResource = "res/ax_sync_solutionid";
constexpr std::string_view kTimestampResource = "res/ax_sync_timestamp";
constexpr std::string_view kTilesResource = "res/ax_sync_tiles";
constexpr std::string_view kGraphResource = "res/ax_sync_graph";
constexpr std::string_view kJSONType = "json";

// The two process-wide findings; a missing one is looked for again next time.
struct Snapshot {
    std::mutex mutex;
    std::optional<std::string> solutionId;
    std::optional<CVOfflineBundleHelper::Date> timestamp;
};

Snapshot& snapshot() {
    static Snapshot instance;
    return instance;
}

// The file of a resource of the host app, when it is there.
std::optional<fs::path> pathForResource(std::string_view name, std::optional<std::string_view> type) {
    std::string file(name);
    if (type) {
        file += '.';
        file += *type;
    }
    if (file.find('\0') != std::string::npos) return std::nullopt;
    fs::path path = platform::Paths::resources() / file;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    return path;
}

struct ParsedResource {
    std::optional<json::object> object;
    std::optional<std::string> error;
};

// A resource that cannot be read, or whose JSON is no object, counts as missing.
ParsedResource readJSONObject(const fs::path& path) {
    const auto bytes = platform::readTextFile(path);
    if (!bytes) return {std::nullopt, "the file could not be read"};
    std::string failure;
    auto value = parseJSON(*bytes, &failure);
    if (!value) return {std::nullopt, failure};
    if (!value->is_object()) return {std::nullopt, "the JSON is not an object"};
    return {std::move(value->get_object()), std::nullopt};
}

bool hasNonEmptyResource(std::string_view name) {
    const auto path = pathForResource(name, kJSONType);
    if (!path) return false;
    std::error_code error;
    const auto size = fs::file_size(*path, error);
    return !error && size > 0;
}

bool snapshotBelongsTo(std::string_view solutionId) {
    const auto offlineId = CVOfflineBundleHelper::offlineDataSolutionId();
    return offlineId && *offlineId == solutionId;
}

// The platform's own text of a date, "2024-05-01 10:30:00 +0000".
std::string dateDescription(CVOfflineBundleHelper::Date date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) return "(null)";
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return std::string(text, length);
}

std::string pathExtension(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == last.size()) return {};
    return std::string(last.substr(dot + 1));
}

}  // namespace

std::optional<std::string> CVOfflineBundleHelper::offlineDataSolutionId() {
    auto& state = snapshot();
    {
        std::lock_guard lock(state.mutex);
        if (state.solutionId) return state.solutionId;
    }
    const auto path = pathForResource(kSolutionIdResource, kJSONType);
    if (!path) return std::nullopt;
    const auto parsed = readJSONObject(*path);
    if (!parsed.object) return std::nullopt;
    const json::value* value = parsed.object->if_contains("solutionId");
    if (value == nullptr || !value->is_string()) return std::nullopt;
    std::lock_guard lock(state.mutex);
    state.solutionId = std::string(value->get_string());
    return state.solutionId;
}

std::optional<CVOfflineBundleHelper::Date> CVOfflineBundleHelper::offlineDataTimestamp() {
    auto& state = snapshot();
    {
        std::lock_guard lock(state.mutex);
        if (state.timestamp) return state.timestamp;
    }
    std::optional<std::string> failure;
    std::optional<Date> date;
    const auto path = pathForResource(kTimestampResource, kJSONType);
    if (path) {
        const auto parsed = readJSONObject(*path);
        failure = parsed.error;
        if (parsed.object) {
            const json::value* value = parsed.object->if_contains("timestamp");
            // A snapshot without a date counts as taken at the start of 1970.
            double seconds = 0;
            if (value != nullptr && value->is_number()) {
                seconds = value->to_number<double>();
            } else if (value != nullptr && !value->is_null()) {
                failure = "\"timestamp\" is not a number";
            }
            if (!failure) {
                date = JSONValueTransformer::shared().NSDateFromNSNumber(seconds);
                if (!date) failure = "\"timestamp\" is out of range";
            }
        }
    }
    if (!date) {
        CVLog::core().error("{} [E] Failed to determine offlineDataTimestamp: err={}, path={}",
                            "+[CVOfflineBundleHelper offlineDataTimestamp]", failure.value_or("(null)"),
                            path ? path->string() : std::string("(null)"));
        return std::nullopt;
    }
    std::lock_guard lock(state.mutex);
    state.timestamp = date;
    return date;
}

std::string CVOfflineBundleHelper::userDefaultsKeyForTileDataTimestamp() {
    return "ax-tileDataTimestamp-" + AmbrellLegacy::getAmbrellAPIKey().value_or("(null)");
}

std::optional<CVOfflineBundleHelper::Date> CVOfflineBundleHelper::tileDataTimestamp() {
    std::optional<Date> stored;
    if (const auto seconds = platform::UserDefaults::standard().doubleForKey(userDefaultsKeyForTileDataTimestamp())) {
        stored = JSONValueTransformer::shared().NSDateFromNSNumber(*seconds);
    }
    const auto apiKey = AmbrellLegacy::getAmbrellAPIKey();
    if (apiKey && snapshotBelongsTo(*apiKey) && hasNonEmptyResource(kTilesResource)) {
        const auto bundled = offlineDataTimestamp();
        if (bundled && (!stored || *stored < *bundled)) return bundled;
    }
    return stored;
}

void CVOfflineBundleHelper::setTileDataTimestamp(std::optional<Date> date) {
    auto& defaults = platform::UserDefaults::standard();
    const std::string key = userDefaultsKeyForTileDataTimestamp();
    if (!date) {
        defaults.removeObjectForKey(key);
        return;
    }
    defaults.setDouble(key, std::chrono::duration<double>(date->time_since_epoch()).count());
}

bool CVOfflineBundleHelper::offlineDataHaveMapTilesForSolution(std::string_view solutionId) {
    return snapshotBelongsTo(solutionId) && hasNonEmptyResource(kTilesResource);
}

bool CVOfflineBundleHelper::offlineDataHaveDirectionGraphsForSolution(std::string_view solutionId) {
    if (CVRouteNetworkSeams::isCachedDataAvailableForSolutionId(solutionId)) return true;
    return snapshotBelongsTo(solutionId) && pathForResource(kGraphResource, kJSONType).has_value();
}

std::optional<std::filesystem::path> CVOfflineBundleHelper::offlinePathForEndpointData(
    std::string_view endpointData, std::string_view solutionId, std::optional<std::string_view> language) {
    if (!snapshotBelongsTo(solutionId)) return std::nullopt;
    std::string name = "res/ax_";
    for (const char c : endpointData) name += c == '/' ? '_' : c;
    if (language) {
        // A language is one name, never a way into another folder.
        if (language->find('/') != std::string_view::npos) return std::nullopt;
        name += '_';
        name += *language;
    }
    if (pathExtension(endpointData).empty()) return pathForResource(name, kJSONType);
    return pathForResource(name, std::nullopt);
}

std::optional<std::filesystem::path> CVOfflineBundleHelper::offlinePathForEndpointUrl(
    std::optional<std::string_view> url, std::string_view solutionId) {
    if (!url || url->empty()) return std::nullopt;
    const auto parsed = boost::urls::parse_uri_reference(*url);
    if (!parsed) return std::nullopt;
    const std::string path = parsed->path();
    if (path.empty()) return std::nullopt;
    std::optional<std::string> language;
    for (const auto& param : parsed->params()) {
        if (param.key == "lr") {
            if (param.has_value) language = param.value;
            break;
        }
    }
    // An absolute URL's path starts with the slash; a relative one's does not.
    const std::string_view endpointData = std::string_view(path).substr(path.front() == '/' ? 1 : 0);
    return offlinePathForEndpointData(endpointData, solutionId, language);
}

std::optional<CVOfflineBundleHelper::Date> CVOfflineBundleHelper::ifModifiedSinceForBundledUrl(
    std::string_view url, const std::filesystem::path& cachingFile, std::string_view datasetId) {
    if (!snapshotBelongsTo(datasetId)) return std::nullopt;
    // A downloaded copy carries its own last-modified date.
    std::error_code error;
    if (!cachingFile.empty() && fs::exists(cachingFile, error)) return std::nullopt;
    if (!offlinePathForEndpointUrl(url, datasetId)) return std::nullopt;
    const auto date = offlineDataTimestamp();
    if (date) {
        CVLog::core().debug("{} [D] Using If-Modified-Since date from bundle {} for {}",
                            "+[CVOfflineBundleHelper ifModifiedSinceForBundledUrl:cachingFile:datasetId:]",
                            dateDescription(*date), url);
    }
    return date;
}

void CVOfflineBundleHelper::resetForTesting() {
    auto& state = snapshot();
    std::lock_guard lock(state.mutex);
    state.solutionId.reset();
    state.timestamp.reset();
}

}  // namespace ambrell

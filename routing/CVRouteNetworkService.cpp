#include "routing/CVRouteNetworkService.h"

#include <atomic>
#include <exception>
#include <filesystem>

#include <fmt/format.h>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "data/AmbrellLegacy.h"
#include "data/CVDataSetSeams.h"
#include "data/CVMemoryCache.h"
#include "data/CVModelCache.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/CVVenueInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVTextCase.h"
#include "foundation/StoredCopyRefresh.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"
#include "routing/CVRouteNetwork.h"
#include "routing/CVRouteNetworkData.h"

namespace ambrell {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using DataPtr = std::shared_ptr<CVRouteNetworkData>;

constexpr std::string_view kVenueOperation = "+[CVRouteNetworkService getRouteNetworkForSolution:venueId:completion:]";
constexpr std::string_view kGraphResource = "res/ax_sync_graph.json";

platform::NSError errorWithCode(std::int64_t code) {
    return platform::NSError{std::string(kAmbrellErrorDomain), code, {}};
}

// One request's completion: called at most once, always on the main queue.
class Answer {
public:
    explicit Answer(CVRouteNetworkService::Completion completion)
        : state_(std::make_shared<State>(std::move(completion))) {}

    void data(DataPtr data) const { deliver(std::move(data), std::nullopt); }
    void failure() const { deliver(nullptr, errorWithCode(AmbrellErrorCode::kRouteNetworkUnavailable)); }

private:
    struct State {
        explicit State(CVRouteNetworkService::Completion completion) : completion(std::move(completion)) {}
        CVRouteNetworkService::Completion completion;
        std::atomic<bool> called = false;
    };

    void deliver(DataPtr data, std::optional<platform::NSError> error) const {
        if (state_->called.exchange(true)) return;
        platform::MainQueue::shared().deliver(
            [state = state_, data = std::move(data), error = std::move(error)]() mutable {
                if (state->completion) state->completion(std::move(data), std::move(error));
            });
    }

    std::shared_ptr<State> state_;
};

// The document's networks, or null for bytes that do not hold a document.
DataPtr parse(const std::optional<Bytes>& bytes, std::string_view origin) {
    if (!bytes || bytes->empty()) return nullptr;
    platform::NSError error;
    auto data = CVRouteNetworkData::initWithData(*bytes, &error);
    if (!data) CVLog::core().debug("[CVRouteNetworkService] {} does not parse: {}", origin, errorDescription(error));
    return data;
}

// The networks of a stored copy, or null when there is no file or it holds no
// document. A copy that does not parse must not be revalidated against its old
// date, or the web service would answer 304 to it for ever.
DataPtr readStoredCopy(const std::optional<fs::path>& file, std::string_view origin) {
    if (!file) return nullptr;
    const auto bytes = platform::readFile(*file);
    if (!bytes) return nullptr;
    auto data = parse(bytes, origin);
    if (!data) xattr_setLastModified(*file, std::nullopt);
    return data;
}

// A download reads only as a route-network document: an answer that merely
// parses as JSON must not stand in for the networks.
DataPtr readDownload(const fs::path& file) {
    const auto bytes = platform::readFile(file);
    if (!bytes) return nullptr;
    platform::NSError error;
    auto data = CVRouteNetworkData::initWithDownloadedData(*bytes, &error);
    if (!data) CVLog::core().debug("[CVRouteNetworkService] The download does not read: {}", errorDescription(error));
    return data;
}

std::string graphUrl(const std::optional<std::string>& solutionId) {
    return CVAXAPI::sharedInstance()->graphSyncUrlForSolutionId(solutionId, std::nullopt);
}

std::string venueGraphUrl(const std::optional<std::string>& solutionId, const std::optional<std::string>& venueId) {
    return CVAXAPI::sharedInstance()->graphSyncUrlForSolutionId(solutionId, std::nullopt, venueId.value_or(""));
}

// What the request does once the download has ended, however it ended.
struct Refresh {
    std::string url;
    std::string key;
    std::string dataSetId;
    Answer answer;
    bool answered = false;
    // The venue load's last resort when the download fails or does not read.
    std::function<DataPtr()> offlineFallback;
    // The data set's copy; none when the data set keeps nothing.
    std::optional<fs::path> stored;
};

// Takes networks read after the download: they replace what the memory holds
// and answer a caller still waiting.
void acceptNetworks(const Refresh& refresh, DataPtr data) {
    CVModelCache::memoryCache()->setObject(data, refresh.key);
    if (!refresh.answered) refresh.answer.data(std::move(data));
}

// Settles the request and says how the refresh ended, for the log. `data` is
// what the download read, when it read.
std::string settleRefresh(const Refresh& refresh, const StoredCopyRefresh& download, DataPtr data) {
    using Outcome = StoredCopyRefresh::Outcome;
    switch (download.outcome) {
        case Outcome::failed:
        case Outcome::unreadable:
            // An answer that does not read (a proxy's login page, a body cut
            // short) is a failed download: it keeps the stored copy and the
            // networks in memory for the next start without the network,
            // and what the device holds answers a caller nothing else has.
            if (!refresh.answered) {
                if (auto fallback = refresh.offlineFallback ? refresh.offlineFallback() : nullptr) {
                    refresh.answer.data(std::move(fallback));
                } else {
                    refresh.answer.failure();
                }
            }
            if (download.outcome == Outcome::unreadable) {
                return fmt::format("status {}, no route network", download.status);
            }
            return download.status != 0 ? fmt::format("status {}", download.status) : "download failed";
        case Outcome::notModified:
            // The stored copy is current: it answers a caller nothing else has.
            if (!refresh.answered) {
                if (auto stored = readStoredCopy(refresh.stored, "the stored document")) {
                    acceptNetworks(refresh, std::move(stored));
                } else {
                    refresh.answer.failure();
                }
            }
            return "status 304";
        case Outcome::replaced: break;
    }
    std::string outcome = fmt::format("status {}", download.status);
    if (download.storeError) outcome += ", not stored: " + download.storeError.message();
    acceptNetworks(refresh, std::move(data));
    return outcome;
}

void finishRefresh(const Refresh& refresh, const StoredCopyRefresh& download, DataPtr data) {
    const auto outcome = settleRefresh(refresh, download, std::move(data));
    // Written once the caller's answer, if any, is on its way.
    CVLog::core().debug("[CVRouteNetworkService] Refresh of {} ended: {}", refresh.url, outcome);
}

void startRefresh(Refresh refresh) {
    refresh.stored = CVDataSetSeams::pathForCachingUrl(refresh.url, refresh.dataSetId);
    if (!refresh.stored) {
        finishRefresh(refresh, StoredCopyRefresh{}, nullptr);
        return;
    }
    auto read = std::make_shared<DataPtr>();
    // Copied: the refresh moves into the completion.
    auto url = refresh.url;
    auto stored = *refresh.stored;
    refreshStoredCopy(
        std::move(url), std::move(stored),
        [read](const fs::path& incoming) { return (*read = readDownload(incoming)) != nullptr; },
        [refresh = std::move(refresh), read](const StoredCopyRefresh& download) {
            finishRefresh(refresh, download, *read);
        });
}

bool runtimeStopped() { return platform::ThreadPool::shared().isStopped(); }

void solutionLoad(const std::optional<std::string>& solutionId, const Answer& answer) {
    const auto url = graphUrl(solutionId);
    const auto key = CVRouteNetworkService::cacheKeyForSolutionId(solutionId);
    const std::string dataSetId = solutionId.value_or("");
    const auto cache = CVModelCache::memoryCache();
    DataPtr data = cache->objectForKey<CVRouteNetworkData>(key);
    if (!data) {
        data = readStoredCopy(CVDataSetSeams::pathForCachedUrl(url, dataSetId), "the data set's document");
        if (!data) data = parse(platform::readFile(platform::Paths::resources() / kGraphResource), "the resource");
        if (data) cache->setObject(data, key);
    }
    const bool answered = data != nullptr;
    if (answered) answer.data(std::move(data));
    startRefresh(Refresh{url, key, dataSetId, answer, answered, nullptr, std::nullopt});
}

// The venue's network taken out of the host app's bundled document of every
// venue, found by the graph id of the venue loaded last.
DataPtr bundledVenueNetwork(const std::string& solutionId, const std::optional<std::string>& venueId) {
    if (!venueId) return nullptr;
    const auto venue = CVMemoryCache::venueCache().getValue(*venueId);
    if (!venue || !*venue || !(*venue)->graphId) return nullptr;
    const auto resource = CVOfflineBundleHelper::offlinePathForEndpointData("sync/graph", solutionId, std::nullopt);
    if (!resource) return nullptr;
    const auto bundled = parse(platform::readFile(*resource), "the bundled document");
    if (!bundled) return nullptr;
    auto network = bundled->networkForGraphId(lowercasedText(*(*venue)->graphId));
    if (!network) return nullptr;
    return std::make_shared<CVRouteNetworkData>(CVRouteNetworkData::Networks{std::move(network)});
}

void venueLoad(const std::string& solutionId, const std::optional<std::string>& venueId, const Answer& answer) {
    auto url = venueGraphUrl(solutionId, venueId);
    auto key = CVRouteNetworkService::cacheKeyForSolutionIdAndVenueId(solutionId, venueId);
    auto fallback = [url, key, solutionId, venueId]() -> DataPtr {
        if (auto data =
                readStoredCopy(CVDataSetSeams::pathForCachedUrl(url, solutionId), "the data set's venue document")) {
            CVModelCache::memoryCache()->setObject(data, key);
            return data;
        }
        return bundledVenueNetwork(solutionId, venueId);
    };
    startRefresh(Refresh{std::move(url), std::move(key), solutionId, answer, false, std::move(fallback), std::nullopt});
}

}  // namespace

const platform::DispatchQueue& CVRouteNetworkService::sharedRouteNetworkServiceQueue() {
    // Never destroyed: the queue must not outlive the runtime in a static destructor.
    static const platform::DispatchQueue* const queue =
        new platform::DispatchQueue("com.ambrell.CVRouteNetworkService");
    return *queue;
}

void CVRouteNetworkService::getRouteNetworkForCurrentSolutionWithCompletion(Completion completion) {
    getRouteNetworkForSolution(AmbrellLegacy::getAmbrellAPIKey(), std::move(completion));
}

void CVRouteNetworkService::getRouteNetworkForSolution(std::optional<std::string> solutionId, Completion completion) {
    Answer answer(std::move(completion));
    // Once the runtime is down the queue refuses blocks; the caller still gets its one answer.
    if (runtimeStopped()) {
        answer.failure();
        return;
    }
    sharedRouteNetworkServiceQueue().async(
        [solutionId = std::move(solutionId), answer = std::move(answer)] { solutionLoad(solutionId, answer); });
}

bool CVRouteNetworkService::getRouteNetworkForSolution(std::optional<std::string> solutionId,
                                                       std::optional<std::string> venueId, Completion completion) {
    const auto refuse = [&](std::string_view condition, int line) {
        const auto message = fmt::format("Invalid parameter not satisfying: {} in {} ({}:{}).", condition,
                                         kVenueOperation, __FILE_NAME__, line);
        CVLog::core().debug("{} {}", kVenueOperation, message);
        return message;
    };
    if (!completion) {
        (void)refuse("completion", __LINE__);
        return false;
    }
    if (!solutionId || solutionId->empty()) {
        auto error = errorWithCode(AmbrellErrorCode::kInvalidParameter);
        error.userInfo.emplace("msg",
                               solutionId ? refuse("solutionId.length", __LINE__) : refuse("solutionId", __LINE__));
        completion(nullptr, std::move(error));
        return false;
    }
    Answer answer(std::move(completion));
    if (runtimeStopped()) {
        answer.failure();
        return true;
    }
    sharedRouteNetworkServiceQueue().async([solutionId = std::move(*solutionId), venueId = std::move(venueId),
                                            answer = std::move(answer)] { venueLoad(solutionId, venueId, answer); });
    return true;
}

void CVRouteNetworkService::getRouteNetworkForSolutionAsync(std::optional<std::string> solutionId,
                                                            Completion completion) {
    getRouteNetworkForSolution(std::move(solutionId), std::move(completion));
}

void CVRouteNetworkService::getRouteNetworkForSolutionAsync(std::optional<std::string> solutionId,
                                                            std::optional<std::string> venueId, Completion completion) {
    (void)getRouteNetworkForSolution(std::move(solutionId), std::move(venueId), std::move(completion));
}

std::string CVRouteNetworkService::cacheKeyForSolutionId(std::optional<std::string_view> solutionId) {
    return CVAXAPI::sharedInstance()->graphSyncUrlForSolutionId(solutionId, std::nullopt);
}

std::string CVRouteNetworkService::cacheKeyForSolutionIdAndVenueId(std::optional<std::string_view> solutionId,
                                                                   std::optional<std::string_view> venueId) {
    return CVAXAPI::sharedInstance()->graphSyncUrlForSolutionId(solutionId, std::nullopt, venueId.value_or(""));
}

bool CVRouteNetworkService::isCachedDataAvailableForSolutionId(std::string_view solutionId) {
    const auto url = CVAXAPI::sharedInstance()->graphSyncUrlForSolutionId(solutionId, std::nullopt);
    return CVDataSetSeams::pathForCachedUrl(url, solutionId).has_value();
}

void CVRouteNetworkService::install() {
    CVRouteNetworkSeams::setService(std::make_shared<CVRouteNetworkServiceSeam>());
}

bool CVRouteNetworkServiceSeam::isCachedDataAvailableForSolutionId(std::string_view solutionId) const {
    return CVRouteNetworkService::isCachedDataAvailableForSolutionId(solutionId);
}

void CVRouteNetworkServiceSeam::getRouteNetworkForSolutionAsync(std::string solutionId, std::string venueId,
                                                                Completion completion) {
    CVRouteNetworkService::getRouteNetworkForSolutionAsync(std::move(solutionId), std::move(venueId),
                                                           std::move(completion));
}

std::size_t CVRouteNetworkServiceSeam::networkCount(const CVRouteNetworkData& data) const {
    return data.networks().size();
}

std::shared_ptr<CVRouteNetworkData> CVRouteNetworkServiceSeam::mergeRouteNetworks(
    const std::vector<std::shared_ptr<CVRouteNetworkData>>& graphs) const {
    CVRouteNetworkData::Networks networks;
    for (const auto& graph : graphs) {
        if (!graph) continue;
        auto own = graph->networks();
        networks.insert(networks.end(), own.begin(), own.end());
    }
    return std::make_shared<CVRouteNetworkData>(std::move(networks));
}

}  // namespace ambrell

#include "routing/CVRouteLayerService.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVDataSetSeams.h"
#include "data/CVModelCache.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/StoredCopyRefresh.h"
#include "platform/FileSystem.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace route_layer_service {
namespace {

namespace fs = std::filesystem;
using Obstacles = CVRouteObstacleSource::Obstacles;
using ObstaclesPtr = CVRouteLayerService::ObstaclesPtr;

// One call's completion: called at most once, always on the main queue.
class LayerAnswer {
public:
    explicit LayerAnswer(CVRouteLayerService::Completion completion)
        : state_(std::make_shared<State>(std::move(completion))) {}

    void success() const { deliver(std::nullopt); }
    void failure() const {
        deliver(platform::NSError{std::string(kAmbrellErrorDomain), AmbrellErrorCode::kRouteLayerUnavailable, {}});
    }
    [[nodiscard]] bool answered() const { return state_->called.load(); }

private:
    struct State {
        explicit State(CVRouteLayerService::Completion completion) : completion(std::move(completion)) {}
        CVRouteLayerService::Completion completion;
        std::atomic<bool> called = false;
    };

    void deliver(std::optional<platform::NSError> error) const {
        if (state_->called.exchange(true)) return;
        platform::MainQueue::shared().deliver([state = state_, error = std::move(error)]() mutable {
            if (state->completion) state->completion(std::move(error));
        });
    }

    std::shared_ptr<State> state_;
};

// The layer stored in a file, or none when there is no file or it holds no
// layer.
std::optional<Obstacles> readStoredLayer(const std::optional<fs::path>& file) {
    if (!file) return std::nullopt;
    const auto bytes = platform::readFile(*file);
    if (!bytes) return std::nullopt;
    auto layer = CVRouteLayerService::readRouteLayer(*bytes);
    // A stored copy that holds no layer must not be revalidated against its
    // old date, or the web service would answer 304 to it for ever.
    if (!layer) xattr_setLastModified(*file, std::nullopt);
    return layer;
}

struct LayerRefresh {
    std::string url;
    std::string key;
    std::string dataSetId;
    LayerAnswer answer;
    std::function<void(ObstaclesPtr)> store;
    // The data set's copy; none when the data set keeps nothing.
    std::optional<fs::path> stored;
};

// Takes a layer read after the download: it becomes the obstacles, in memory
// too, and answers a caller still waiting.
void acceptLayer(const LayerRefresh& refresh, Obstacles layer) {
    auto obstacles = std::make_shared<const Obstacles>(std::move(layer));
    refresh.store(obstacles);
    refresh.answer.success();
    CVModelCache::memoryCache()->setObject(std::move(obstacles), refresh.key);
}

// Settles the request and says how the refresh ended, for the log. `layer` is
// what the download read, when it read.
std::string settleRefresh(const LayerRefresh& refresh, const StoredCopyRefresh& download,
                          std::optional<Obstacles> layer) {
    using Outcome = StoredCopyRefresh::Outcome;
    switch (download.outcome) {
        case Outcome::failed:
        case Outcome::unreadable:
            // Obstacles already at hand answered the call; an answer that
            // does not read keeps them, and the stored copy with them, for
            // the next start without the network, as a failed download does.
            refresh.answer.failure();
            if (download.outcome == Outcome::unreadable) {
                return fmt::format("status {}, no route layer", download.status);
            }
            return download.status != 0 ? fmt::format("status {}", download.status) : "download failed";
        case Outcome::notModified:
            // The stored file is current: it answers a caller nothing else has.
            if (!refresh.answer.answered()) {
                if (auto stored = readStoredLayer(refresh.stored)) {
                    acceptLayer(refresh, std::move(*stored));
                } else {
                    refresh.answer.failure();
                }
            }
            return "status 304";
        case Outcome::replaced: break;
    }
    std::string outcome = fmt::format("status {}", download.status);
    if (download.storeError) outcome += ", not stored: " + download.storeError.message();
    acceptLayer(refresh, std::move(*layer));
    return outcome;
}

void finishRefresh(const LayerRefresh& refresh, const StoredCopyRefresh& download, std::optional<Obstacles> layer) {
    const auto outcome = settleRefresh(refresh, download, std::move(layer));
    // Written once the caller's answer, if any, is on its way.
    CVLog::core().debug("[CVRouteLayerService] Refresh of {} ended: {}", refresh.url, outcome);
}

void synchronize(const LayerAnswer& answer, const std::function<void(ObstaclesPtr)>& store) {
    const auto solutionId = AmbrellLegacy::getAmbrellAPIKey();
    const auto language = AmbrellLegacy::getLanguage();
    auto url = CVRouteLayerService::urlForFetchingRouteLayer(solutionId, language);
    auto key = CVModelCache::cacheKeyForUrl(url);
    std::string dataSetId = solutionId.value_or("");
    const auto cache = CVModelCache::memoryCache();
    auto obstacles = cache->objectForKey<const Obstacles>(key);
    if (!obstacles) {
        if (auto layer = readStoredLayer(CVDataSetSeams::pathForCachedUrl(url, dataSetId))) {
            obstacles = std::make_shared<const Obstacles>(std::move(*layer));
            cache->setObject(obstacles, key);
        }
    }
    store(obstacles);
    if (obstacles) answer.success();

    auto stored = CVDataSetSeams::pathForCachingUrl(url, dataSetId);
    LayerRefresh refresh{std::move(url), std::move(key), std::move(dataSetId), answer, store, stored};
    if (!stored) {
        finishRefresh(refresh, StoredCopyRefresh{}, std::nullopt);
        return;
    }
    auto read = std::make_shared<std::optional<Obstacles>>();
    auto download = refresh.url;
    refreshStoredCopy(
        std::move(download), *stored,
        [read](const fs::path& incoming) {
            const auto bytes = platform::readFile(incoming);
            if (bytes) *read = CVRouteLayerService::readRouteLayer(*bytes);
            return read->has_value();
        },
        [refresh = std::move(refresh), read](const StoredCopyRefresh& outcome) {
            finishRefresh(refresh, outcome, std::move(*read));
        });
}

// A call whose block the queue refused: the runtime stopped between the look
// at it and the post, and the block never runs. The call still gets its one
// answer, the error, when the last copy of the block goes.
class PostedCall {
public:
    explicit PostedCall(LayerAnswer answer) : answer_(std::move(answer)) {}
    ~PostedCall() {
        if (!ran_) answer_.failure();
    }
    PostedCall(const PostedCall&) = delete;
    PostedCall& operator=(const PostedCall&) = delete;

    void run(const std::function<void(ObstaclesPtr)>& store) {
        ran_ = true;
        synchronize(answer_, store);
    }

private:
    LayerAnswer answer_;
    // Written by the block, read when the last copy of it goes.
    bool ran_ = false;
};

}  // namespace
}  // namespace route_layer_service

CVRouteLayerService::CVRouteLayerService() : state_(std::make_shared<State>()) {}

CVRouteLayerService::~CVRouteLayerService() = default;

const platform::DispatchQueue& CVRouteLayerService::sharedQueue() {
    // Never destroyed: the queue must not outlive the runtime in a static destructor.
    static const platform::DispatchQueue* const queue = new platform::DispatchQueue("com.ambrell.CVRouteLayerService");
    return *queue;
}

std::string CVRouteLayerService::urlForFetchingRouteLayer(std::optional<std::string_view> solutionId,
                                                          std::optional<std::string_view> locale) {
    return CVAXAPI::sharedInstance()->routeLayerSyncUrlForSolutionId(solutionId, locale);
}

std::optional<CVRouteObstacleSource::Obstacles> CVRouteLayerService::readRouteLayer(
    const std::vector<std::uint8_t>& data) {
    boost::system::error_code error;
    const auto document =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), error);
    if (error || !document.is_array()) return std::nullopt;
    Obstacles obstacles;
    for (const auto& element : document.get_array()) {
        if (!element.is_object()) continue;
        if (auto obstacle = CVRouteObstacle::initWithDictionary(element)) obstacles.push_back(std::move(obstacle));
    }
    return obstacles;
}

CVRouteObstacleSource::Obstacles CVRouteLayerService::routeLayerFromData(const std::vector<std::uint8_t>& data) {
    return readRouteLayer(data).value_or(Obstacles{});
}

CVRouteObstacleSource::Obstacles CVRouteLayerService::filterObstacles(const Obstacles& obstacles,
                                                                      const std::vector<std::string>& locationIds) {
    Obstacles taken;
    for (const auto& obstacle : obstacles) {
        if (!obstacle) continue;
        const auto& rooms = obstacle->roomIdList();
        const bool inAny = std::any_of(locationIds.begin(), locationIds.end(), [&](const std::string& id) {
            return std::find(rooms.begin(), rooms.end(), id) != rooms.end();
        });
        if (inAny) taken.push_back(obstacle);
    }
    return taken;
}

CVRouteObstacleSource::Obstacles CVRouteLayerService::obstaclesForLocationsWithIds(
    const std::vector<std::string>& locationIds) const {
    const auto obstacles = allObstacles();
    return obstacles ? filterObstacles(*obstacles, locationIds) : Obstacles{};
}

CVRouteLayerService::ObstaclesPtr CVRouteLayerService::allObstacles() const {
    std::lock_guard lock(state_->mutex);
    return state_->allObstacles;
}

void CVRouteLayerService::setAllObstacles(ObstaclesPtr obstacles) {
    std::lock_guard lock(state_->mutex);
    state_->allObstacles = std::move(obstacles);
}

void CVRouteLayerService::synchronizeObstacles(Completion completion) {
    const route_layer_service::LayerAnswer answer(std::move(completion));
    if (platform::ThreadPool::shared().isStopped()) {
        answer.failure();
        return;
    }
    auto store = [state = state_](ObstaclesPtr obstacles) {
        std::lock_guard lock(state->mutex);
        state->allObstacles = std::move(obstacles);
    };
    auto call = std::make_shared<route_layer_service::PostedCall>(answer);
    sharedQueue().async([call = std::move(call), store = std::move(store)] { call->run(store); });
}

}  // namespace ambrell

#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Ambrell/CVErrorCodes.h"
#include "data/CVModelCache.h"
#include "foundation/StoredCopyRefresh.h"
#include "platform/Error.h"
#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

// A provider's failure: the library's domain, the code (AmbrellErrorCode),
// no user info.
[[nodiscard]] platform::NSError contentProviderError(std::int64_t code);

// The check every request of a provider makes on the caller's thread: none
// when the id is usable, else the invalid-parameter error, logged at debug
// level ("solutionId" for an absent id, "solutionId.length" for an empty one).
// `file` and `line` name the check's place in the message.
[[nodiscard]] std::optional<platform::NSError> checkSolutionIdParameter(const std::optional<std::string>& solutionId,
                                                                        std::string_view operation,
                                                                        std::string_view file, int line);

namespace detail {
[[nodiscard]] bool offlineDataAvailable(bool inMemory, std::string_view className, std::string_view operation,
                                        std::string_view url, std::string_view solutionId,
                                        std::string_view endpointData, std::optional<std::string_view> language);
}  // namespace detail

// Whether a provider could answer the content of `url` without the network:
// from the memory cache, the data set `solutionId`, or the host app's
// resource for `endpointData` ("sync/appconfig") in `language`. Logs the
// answer at debug level as "<className>.isOfflineDataAvailable = YES|NO".
// Synchronous, on the caller's thread.
template <typename Model>
[[nodiscard]] bool contentOfflineDataAvailable(std::string_view className, std::string_view operation,
                                               std::string_view url, std::string_view solutionId,
                                               std::string_view endpointData,
                                               std::optional<std::string_view> language) {
    const bool inMemory =
        CVModelCache::memoryCache()->objectForKey<Model>(CVModelCache::cacheKeyForUrl(url)) != nullptr;
    return detail::offlineDataAvailable(inMemory, className, operation, url, solutionId, endpointData, language);
}

namespace detail {

using ContentBytes = std::vector<std::uint8_t>;

// The content held on the device for a URL: the data-set copy, or the host
// app's resource when the data set has none (an empty data-set copy counts
// as none when `emptyIsMissing`). `dataSetFile` is set when the bytes are the
// data set's.
struct LocalContent {
    std::optional<ContentBytes> data;
    std::optional<std::filesystem::path> dataSetFile;
};
[[nodiscard]] LocalContent readLocalContent(std::string_view url, std::string_view solutionId, bool emptyIsMissing);

// A cached copy that does not parse must not be revalidated against its old
// date (the web service would answer 304 forever): its next download is
// unconditional.
void forgetLastModified(const std::filesystem::path& file);

[[nodiscard]] bool networkReachable();
[[nodiscard]] bool runtimeStopped();

// The refresh of `url`'s file in the data set: the download lands there only
// once `read` reads it. `done` runs once, from a task of its own, with the
// data set's file (at once, on the caller's thread, failed and with no file,
// when the data set has no file for the URL).
void refreshDataSetCopy(const std::string& url, const std::string& solutionId, IncomingReader read,
                        std::function<void(StoredCopyRefresh, std::optional<std::filesystem::path>)> done);

[[nodiscard]] std::optional<ContentBytes> readContentFile(const std::filesystem::path& file);

void logParseFailure(std::string_view operation, const platform::NSError& error);

void answerOnMainQueue(std::function<void()> answer);

}  // namespace detail

// The one chain every completion-handler provider loads its content through:
// the memory cache, the data set's copy, the host app's resource, then a
// conditional download, which replaces the data set's copy only once it
// parses.
//
//   Completes: on the main queue; a model first goes to the request's ready
//     callback (the provider's delegate), then to the completion with no
//     error; an error goes to the completion only.
//   Errors: the provider's code (Departures::errorCode, or unusableErrorCode
//     for a document that does not read); the transport error
//     itself is never passed on. A memory entry, or a model parsed from the
//     local copy by the same request, hides transport errors, 304s and
//     downloads that do not read alike: behind a proxy's login page a
//     request answers what it answers with no network.
//   Cancelling: a request cannot be cancelled.
//
// Offline (the network not reachable), a local copy that parses answers at
// once without a download. The checks on the memory cache and the local copy
// run on the provider class's serial queue, the answer to the download on the
// HTTP data provider's thread; no file is read on the main queue.
template <typename Model>
class CVContentProviderChain {
public:
    using ModelPtr = std::shared_ptr<Model>;
    using Completion = std::function<void(ModelPtr, std::optional<platform::NSError>)>;
    using ReadyCallback = std::function<void(const ModelPtr&)>;
    // None without an error for bytes that hold no usable model.
    using Parser = std::function<ModelPtr(const detail::ContentBytes&, std::optional<platform::NSError>& error)>;

    // Where a provider's chain differs from the others'.
    struct Departures {
        std::int64_t errorCode = 0;
        bool emptyCopyIsMissing = false;
        Parser parseLocal;
        Parser parseDownload;
        // Runs on a freshly downloaded model before it is stored.
        std::function<void(const Model&)> beforeStoringDownload;
        // A 304 with nothing in memory parses the file as a download.
        bool parseFileOn304WithoutMemory = false;
        // The code for a download that does not parse and for a 304 with
        // nothing to answer, when it is not errorCode.
        std::int64_t unusableErrorCode = 0;
        // A memory entry or a local copy that parses answers at once, whether
        // or not the network is reachable, and the download still runs: what
        // it brings then only refreshes the memory cache.
        bool answerLocalAtOnce = false;
    };

    struct Request {
        std::string solutionId;
        std::string url;
        // Named in log lines.
        std::string operation;
        ReadyCallback ready;
        Completion completion;
    };

    static void run(const platform::DispatchQueue& queue, std::shared_ptr<const Departures> departures,
                    Request request) {
        // Once the runtime is down the queue refuses blocks; the completion is
        // still called once.
        if (detail::runtimeStopped()) {
            answer(request, nullptr, departures->errorCode);
            return;
        }
        queue.async([departures = std::move(departures), request = std::move(request)]() mutable {
            start(std::move(departures), std::move(request));
        });
    }

private:
    static void start(std::shared_ptr<const Departures> departures, Request request) {
        auto key = CVModelCache::cacheKeyForUrl(request.url);
        const auto cache = CVModelCache::memoryCache();
        ModelPtr local;
        ModelPtr inMemory = cache->template objectForKey<Model>(key);
        if (!inMemory) {
            auto content = detail::readLocalContent(request.url, request.solutionId, departures->emptyCopyIsMissing);
            if (content.data && !content.data->empty()) {
                std::optional<platform::NSError> ignored;
                local = departures->parseLocal(*content.data, ignored);
                if (local) {
                    cache->setObject(local, key);
                    if (!departures->answerLocalAtOnce && !detail::networkReachable()) {
                        answer(request, local);
                        return;
                    }
                } else if (content.dataSetFile) {
                    detail::forgetLastModified(*content.dataSetFile);
                }
            }
        }
        const bool answered = departures->answerLocalAtOnce && (inMemory || local);
        if (answered) answer(request, inMemory ? inMemory : local);
        // The download is parsed once, as it is read before it replaces the
        // data set's copy: that model is the one answered.
        auto read = std::make_shared<ReadDownload>();
        auto reader = [departures, read](const std::filesystem::path& incoming) {
            if (auto bytes = detail::readContentFile(incoming)) {
                read->model = departures->parseDownload(*bytes, read->error);
            }
            return read->model != nullptr;
        };
        const auto url = request.url;
        const auto solutionId = request.solutionId;
        detail::refreshDataSetCopy(
            url, solutionId, std::move(reader),
            [departures = std::move(departures), request = std::move(request), key = std::move(key),
             local = std::move(local), answered,
             read](const StoredCopyRefresh& refresh, const std::optional<std::filesystem::path>& stored) {
                finish(*departures, request, key, local, answered, refresh, stored, *read);
            });
    }

    struct ReadDownload {
        ModelPtr model;
        std::optional<platform::NSError> error;
    };

    static void finish(const Departures& departures, const Request& request, const std::string& key,
                       const ModelPtr& local, bool answered, const StoredCopyRefresh& refresh,
                       const std::optional<std::filesystem::path>& stored, ReadDownload read) {
        using Outcome = StoredCopyRefresh::Outcome;
        const auto cache = CVModelCache::memoryCache();
        ModelPtr held = cache->template objectForKey<Model>(key);
        if (!held) held = local;
        const auto unusableCode =
            departures.unusableErrorCode != 0 ? departures.unusableErrorCode : departures.errorCode;
        if (refresh.outcome == Outcome::notModified && !held && departures.parseFileOn304WithoutMemory && stored) {
            read = {};
            if (auto bytes = detail::readContentFile(*stored)) {
                read.model = departures.parseDownload(*bytes, read.error);
            }
            // Revalidated against its old date, a copy that does not read
            // would come back as 304 for good.
            if (!read.model) detail::forgetLastModified(*stored);
        } else if (refresh.outcome == Outcome::failed || refresh.outcome == Outcome::notModified) {
            if (answered) return;
            answer(request, held, refresh.outcome == Outcome::failed ? departures.errorCode : unusableCode);
            return;
        }
        if (read.model) {
            if (departures.beforeStoringDownload) departures.beforeStoringDownload(*read.model);
            cache->setObject(read.model, key);
            if (!answered) answer(request, read.model);
            return;
        }
        if (read.error) detail::logParseFailure(request.operation, *read.error);
        if (answered) return;
        // A download that does not read (a proxy's login page, a body cut
        // short) is a failed download for the caller too: what is held
        // answers it as it answers a transport error.
        answer(request, held, unusableCode);
    }

    // The model, or the provider's error when there is none.
    static void answer(const Request& request, ModelPtr model, std::int64_t errorCode = 0) {
        detail::answerOnMainQueue(
            [ready = request.ready, completion = request.completion, model = std::move(model), errorCode] {
                if (!model) {
                    if (completion) completion(nullptr, contentProviderError(errorCode));
                    return;
                }
                if (ready) ready(model);
                if (completion) completion(model, std::nullopt);
            });
    }
};

}  // namespace ambrell

#include "foundation/CVLogger.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/json/object.hpp>
#include <exception>
#include <type_traits>

#include "Ambrell/CVLog.h"
#include "foundation/CVFileCache.h"
#include "foundation/CVLogPackage.h"
#include "foundation/CVLogUploader.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "foundation/SdkVersion.h"
#include "platform/Paths.h"
#include "platform/TextEncoding.h"
#include "platform/UUID.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/RunBlocking.h"
#include "platform/runtime/Task.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

using platform::Awaitable;
using namespace std::chrono_literals;

namespace {

constexpr std::string_view kComponent = "iOS Core SDK";
constexpr std::size_t kMaxWaitingEntries = 999;
constexpr auto kDispatchInterval = 60s;

std::mutex clockMutex;
std::function<CVLoggerClock::time_point()> clockOverride;

std::mutex sharedLoggerMutex;
std::shared_ptr<CVLogger> sharedLogger;

// File-system work leaves the actor for the blocking I/O pool, so a slow disk
// never holds up the actor's other calls, nor the coroutine pool.
template <typename F>
Awaitable<std::invoke_result_t<F&>> offActor(F work) {
    return platform::runBlocking(std::move(work));
}

// Invalid sequences become U+FFFD one byte at a time.
std::string repairedUTF8(std::string_view text) {
    std::string repaired;
    repaired.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const auto candidate = text.substr(i, length);
        if (platform::isValidUTF8(candidate)) {
            repaired += candidate;
            i += candidate.size();
        } else {
            repaired += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return repaired;
}

std::optional<CVLogEntry::Parameters> repairedParameters(std::optional<CVLogEntry::Parameters> parameters,
                                                         CVLogEvent event) {
    if (!parameters) return parameters;
    const bool allValid = std::all_of(parameters->begin(), parameters->end(), [](const auto& item) {
        return platform::isValidUTF8(item.first) && platform::isValidUTF8(item.second);
    });
    if (allValid) return parameters;
    CVLog::core().error("CVLogger repaired parameters of {} that were not valid UTF-8", description(event));
    CVLogEntry::Parameters repaired;
    for (const auto& [key, value] : *parameters) repaired[repairedUTF8(key)] = repairedUTF8(value);
    return repaired;
}

// The names in the folder's listing order; on an error, those read until then.
std::vector<std::string> namesInFolder(const std::filesystem::path& folder, std::error_code& error) {
    std::vector<std::string> names;
    std::filesystem::directory_iterator item(folder, error);
    for (; !error && item != std::filesystem::directory_iterator(); item.increment(error)) {
        names.push_back(item->path().filename().string());
    }
    return names;
}

Awaitable<void> invokeOperation(std::function<Awaitable<void>()> operation) { co_await operation(); }

Awaitable<void> flushUnderCurrentKey(std::shared_ptr<CVLoggerActor> actor) {
    co_await actor->dispatch();
    co_await actor->uploadLogPackages();
}

}  // namespace

// MARK: - Clock

CVLoggerClock::time_point CVLoggerClock::now() {
    std::function<time_point()> source;
    {
        std::lock_guard lock(clockMutex);
        source = clockOverride;
    }
    return source ? source() : std::chrono::system_clock::now();
}

void CVLoggerClock::setNowForTesting(std::function<time_point()> now) {
    std::lock_guard lock(clockMutex);
    clockOverride = std::move(now);
}

// MARK: - Configuration

const std::shared_ptr<CVLoggingConfig>& CVLoggingConfig::eventLogging() {
    static const std::shared_ptr<CVLoggingConfig> preset(new CVLoggingConfig(true));
    return preset;
}

const std::shared_ptr<CVLoggingConfig>& CVLoggingConfig::noLogging() {
    static const std::shared_ptr<CVLoggingConfig> preset(new CVLoggingConfig(false));
    return preset;
}

CVLoggingConfig::CVLoggingConfig(const std::map<std::string, bool>& jsonDictionary) : eventLoggingEnabled_(true) {
    if (auto found = jsonDictionary.find("eventLoggingEnabled"); found != jsonDictionary.end()) {
        eventLoggingEnabled_ = found->second;
    }
}

CVLoggingConfig::CVLoggingConfig(const boost::json::object& jsonDictionary) : eventLoggingEnabled_(true) {
    const auto* value = jsonDictionary.if_contains("eventLoggingEnabled");
    if (!value) return;
    if (value->is_bool()) {
        eventLoggingEnabled_ = value->get_bool();
    } else if (value->is_int64()) {
        eventLoggingEnabled_ = value->get_int64() != 0;
    } else if (value->is_uint64()) {
        eventLoggingEnabled_ = value->get_uint64() != 0;
    } else if (value->is_double()) {
        eventLoggingEnabled_ = value->get_double() != 0.0;
    }
}

// MARK: - Actor

struct CVLoggerActor::Steps {
    using Self = std::shared_ptr<CVLoggerActor>;

    static std::optional<std::string> currentKey(const Self& self) {
        auto logger = self->logger_.lock();
        return logger ? logger->apiKey() : std::nullopt;
    }

    static Awaitable<void> append(Self self, CVLogEntry entry) {
        self->logEntries_.push_back(std::move(entry));
        const bool full = self->logEntries_.size() > kMaxWaitingEntries;
        const bool due = self->latestDispatchDate_ - CVLoggerClock::now() < -kDispatchInterval;
        if (!full && !due) co_return;
        co_await dispatch(self);
        co_await upload(self);
        self->latestDispatchDate_ = CVLoggerClock::now();
    }

    static Awaitable<void> dispatch(Self self) {
        const auto key = currentKey(self);
        if (!key || self->logEntries_.size() < 2) co_return;

        if (self->logPackageFiles_.empty()) {
            auto job = [folder = self->logUrl_] {
                std::error_code error;
                auto names = namesInFolder(folder, error);
                if (error) CVLog::core().debug("CVLoggerActor cannot list the log folder: {}", error.message());
                return names;
            };
            std::vector<std::string> listed = co_await offActor(std::move(job));
            for (auto& name : listed) {
                if (std::find(self->logPackageFiles_.begin(), self->logPackageFiles_.end(), name) ==
                    self->logPackageFiles_.end()) {
                    self->logPackageFiles_.push_back(std::move(name));
                }
            }
        }
        // The listing let other calls in; one of them may have taken the entries.
        if (self->logEntries_.size() < 2) co_return;

        // Taken out while the file is written, so that a dispatch getting in
        // meanwhile cannot write them a second time.
        std::vector<CVLogEntry> entries = std::move(self->logEntries_);
        self->logEntries_.clear();
        const CVLogPackage package(*key, self->sessionId_, self->sessionStart_, entries, std::string(kComponent),
                                   sdkVersion());
        std::optional<CVLogPackage::Bytes> data = package.jsonData();

        bool written = false;
        if (data) {
            // A named job: g++ 12 mishandles temporaries with destructors in a
            // co_await expression.
            auto job = [cache = self->logCache_, folder = self->logUrl_, bytes = std::move(*data),
                        name = package.filename()] {
                auto usable = cache ? cache : CVFileCache::newWithFolder(folder);
                const bool saved = usable && usable->saveDataWithFilename(std::span<const std::uint8_t>(bytes), name);
                return std::make_pair(usable, saved);
            };
            auto outcome = co_await offActor(std::move(job));
            if (outcome.first) self->logCache_ = std::move(outcome.first);
            written = outcome.second;
        }
        if (!written) {
            CVLog::core().error(
                "CVLoggerActor could not write a package of {} entries; they wait for the next dispatch",
                entries.size());
            self->logEntries_.insert(self->logEntries_.begin(), std::make_move_iterator(entries.begin()),
                                     std::make_move_iterator(entries.end()));
            co_return;
        }
        self->logPackageFiles_.push_back(package.filename());
    }

    static Awaitable<void> upload(Self self) {
        auto logger = self->logger_.lock();
        if (!logger) co_return;
        const auto key = logger->apiKey();
        const bool uploadFiles = logger->uploadFiles();
        logger.reset();
        if (!key || !uploadFiles) co_return;

        std::vector<std::string> names;
        for (const auto& name : self->logPackageFiles_) {
            if (!self->uploading_.contains(name) && CVLogPackage::isPackageFileOfApiKey(name, *key)) {
                names.push_back(name);
            }
        }
        if (names.empty()) co_return;

        const std::filesystem::path folder = self->logCache_ ? self->logCache_->cacheFolder() : self->logUrl_;
        std::vector<std::filesystem::path> paths;
        for (const auto& name : names) {
            self->uploading_.insert(name);
            paths.push_back(folder / name);
        }
        auto sent = std::make_shared<CVLogUploader::SentFiles>();
        // The error came from another thread through the group; it is not
        // inspected here, as what the run sent is all that matters.
        try {
            co_await CVLogUploader::upload(std::move(paths), *key, sent);
        } catch (...) {
            CVLog::core().debug("CVLoggerActor upload run ended early; the files it did not send stay");
        }
        for (const auto& name : names) self->uploading_.erase(name);

        std::vector<std::string> sentNames;
        for (const auto& path : sent->paths()) sentNames.push_back(path.filename().string());
        if (!sentNames.empty()) co_await remove(self, std::move(sentNames), *key);
    }

    static Awaitable<void> remove(Self self, std::vector<std::string> names, std::string apiKey) {
        auto& files = self->logPackageFiles_;
        std::erase_if(files, [&names](const std::string& name) {
            return std::find(names.begin(), names.end(), name) != names.end();
        });
        auto job = [names = std::move(names), folder = self->logUrl_, apiKey = std::move(apiKey)] {
            CVLogRemover::remove(names, folder, apiKey);
            return true;
        };
        co_await offActor(std::move(job));
    }

    static Awaitable<std::vector<std::string>> list(Self self) {
        return offActor([folder = self->logUrl_] {
            std::error_code error;
            auto names = namesInFolder(folder, error);
            if (error) {
                throw std::filesystem::filesystem_error("CVLoggerActor cannot list the log folder", folder, error);
            }
            return names;
        });
    }

    static Awaitable<std::vector<CVLogEntry>> entries(Self self) { co_return self->logEntries_; }
    static Awaitable<std::vector<std::string>> packageFiles(Self self) { co_return self->logPackageFiles_; }
    static Awaitable<Date> dispatchDate(Self self) { co_return self->latestDispatchDate_; }
};

CVLoggerActor::CVLoggerActor(std::weak_ptr<const CVLogger> logger)
    : CVLoggerActor(std::move(logger), platform::Paths::caches() / "com.ambrell.sdklogs") {}

CVLoggerActor::CVLoggerActor(std::weak_ptr<const CVLogger> logger, std::filesystem::path logFolder)
    : logger_(std::move(logger)),
      actor_(std::make_unique<const platform::Actor>()),
      logUrl_(std::move(logFolder)),
      sessionId_(platform::UUID::random().uuidString()),
      sessionStart_(CVLoggerClock::now()),
      latestDispatchDate_(sessionStart_),
      logCache_(CVFileCache::newWithFolder(logUrl_)) {}

CVLoggerActor::~CVLoggerActor() = default;

Awaitable<void> CVLoggerActor::append(CVLogEntry entry) {
    return actor_->run(Steps::append(shared_from_this(), std::move(entry)));
}

void CVLoggerActor::appendDetached(CVLogEntry entry) {
    // Posted rather than spawned from here: posts from one thread keep their
    // order, and a call made on the actor itself does not run in the middle of
    // the operation that made it.
    boost::asio::post(actor_->executor(), [self = shared_from_this(), entry = std::move(entry)]() mutable {
        auto executor = self->actor_->executor();
        platform::Task::startOn(std::move(executor), [self = std::move(self), entry = std::move(entry)]() mutable {
            return Steps::append(std::move(self), std::move(entry));
        });
    });
}

Awaitable<void> CVLoggerActor::dispatch() { return actor_->run(Steps::dispatch(shared_from_this())); }

Awaitable<void> CVLoggerActor::uploadLogPackages() { return actor_->run(Steps::upload(shared_from_this())); }

Awaitable<void> CVLoggerActor::removeLogPackages(std::vector<std::string> names, std::string apiKey) {
    return actor_->run(Steps::remove(shared_from_this(), std::move(names), std::move(apiKey)));
}

Awaitable<std::vector<std::string>> CVLoggerActor::listLogFolder() {
    return actor_->run(Steps::list(shared_from_this()));
}

Awaitable<std::vector<CVLogEntry>> CVLoggerActor::logEntries() {
    return actor_->run(Steps::entries(shared_from_this()));
}

Awaitable<std::vector<std::string>> CVLoggerActor::logPackageFiles() {
    return actor_->run(Steps::packageFiles(shared_from_this()));
}

Awaitable<CVLoggerActor::Date> CVLoggerActor::latestDispatchDate() {
    return actor_->run(Steps::dispatchDate(shared_from_this()));
}

// MARK: - Logger

CVLogger::CVLogger() : configuration_(CVLoggingConfig::eventLogging()) {}

CVLogger::~CVLogger() = default;

std::shared_ptr<CVLogger> CVLogger::sharedInstance() {
    std::lock_guard lock(sharedLoggerMutex);
    if (sharedLogger) return sharedLogger;

    std::shared_ptr<CVLogger> logger(new CVLogger());
    logger->loggerActor_ = std::make_shared<CVLoggerActor>(std::weak_ptr<const CVLogger>(logger));
    logger->reachabilityObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        CVNetworkingReachabilityDidChangeNotification(),
        [weakLogger = std::weak_ptr<CVLogger>(logger)](const platform::Notification& notification) {
            if (auto observer = weakLogger.lock()) observer->reachabilityDidChange(notification);
        });
    sharedLogger = logger;
    return logger;
}

void CVLogger::resetSharedForTesting() {
    std::shared_ptr<CVLogger> previous;
    {
        std::lock_guard lock(sharedLoggerMutex);
        previous = std::move(sharedLogger);
    }
}

void CVLogger::event(CVLogEvent name, CVLogDomain domain, std::optional<CVLogEntry::Parameters> parameters) {
    CVLogEntry entry;
    entry.date = CVLoggerClock::now();
    entry.domain = domain;
    entry.name = name;
    const auto logger = sharedInstance();
    if (!logger->configuration()->eventLoggingEnabled()) return;
    entry.parameters = repairedParameters(std::move(parameters), name);
    logger->loggerActor_->appendDetached(std::move(entry));
}

void CVLogger::event(CVLogEvent name, CVLogDomain domain) { event(name, domain, std::nullopt); }

std::optional<std::string> CVLogger::apiKey() const {
    std::lock_guard lock(mutex_);
    return apiKey_;
}

void CVLogger::setApiKey(std::optional<std::string> apiKey) {
    std::lock_guard change(apiKeyChangeMutex_);
    if (this->apiKey() == apiKey) return;
    if (loggerActor_->actor().isCurrent()) {
        // Waiting here for work queued behind this very call would never end.
        CVLog::core().error("CVLogger cannot write the waiting usage events under the old API key from its own actor");
    } else {
        runSynchronously(std::nullopt, [actor = loggerActor_] { return flushUnderCurrentKey(actor); });
    }
    std::lock_guard lock(mutex_);
    apiKey_ = std::move(apiKey);
}

Awaitable<void> CVLogger::changeApiKey(std::optional<std::string> apiKey) {
    if (this->apiKey() == apiKey) co_return;
    // The actor is kept by its shared pointer, not by the logger, for the
    // time of the flush.
    const auto actor = loggerActor_;
    std::exception_ptr cancelled;
    try {
        co_await flushUnderCurrentKey(actor);
    } catch (const platform::CancellationError&) {
        cancelled = std::current_exception();
    } catch (...) {
        CVLog::core().debug("CVLogger.changeApiKey: writing under the old key failed");
    }
    {
        // After a blocking setter that may be flushing meanwhile.
        std::lock_guard change(apiKeyChangeMutex_);
        std::lock_guard lock(mutex_);
        apiKey_ = std::move(apiKey);
    }
    if (cancelled) std::rethrow_exception(cancelled);
}

std::shared_ptr<CVLoggingConfig> CVLogger::configuration() const {
    std::lock_guard lock(mutex_);
    return configuration_;
}

void CVLogger::setConfiguration(std::shared_ptr<CVLoggingConfig> configuration) {
    if (!configuration) {
        CVLog::core().error("CVLogger refuses a null logging configuration");
        return;
    }
    std::lock_guard lock(mutex_);
    configuration_ = std::move(configuration);
}

void CVLogger::uploadLog() {
    platform::Task::start([actor = loggerActor_] { return actor->uploadLogPackages(); });
}

void CVLogger::reachabilityDidChange(const platform::Notification&) {
    if (CVNetworkReachabilityManager::sharedManager()->isReachable()) uploadLog();
}

void CVLogger::runSynchronously(std::optional<int>, std::function<Awaitable<void>()> operation) {
    if (!operation) return;
    try {
        platform::blockingWait(platform::ThreadPool::shared().makeStrand(), invokeOperation(std::move(operation)));
    } catch (const platform::BlockingCallError& refused) {
        CVLog::core().error("CVLogger.runSynchronously: {}", refused.what());
    } catch (...) {
        CVLog::core().debug("CVLogger.runSynchronously: the operation failed");
    }
}

}  // namespace ambrell

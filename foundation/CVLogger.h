#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/CVLogEntry.h"
#include "platform/NotificationCenter.h"
#include "platform/runtime/Executor.h"

namespace boost::json {
class object;
}

namespace ambrell::platform {
class Actor;
}

namespace ambrell {

class CVFileCache;
class CVLogger;

// The time the logger goes by: entry dates, the session start and the
// dispatch interval. Tests drive it instead of waiting.
class CVLoggerClock {
public:
    using time_point = std::chrono::system_clock::time_point;

    CVLoggerClock() = delete;

    [[nodiscard]] static time_point now();
    // Test-only: the time source from now on; an empty function restores the
    // system clock.
    static void setNowForTesting(std::function<time_point()> now);
};

// Whether usage events are recorded at all.
class CVLoggingConfig {
public:
    // One shared instance each: enabled and disabled.
    [[nodiscard]] static const std::shared_ptr<CVLoggingConfig>& eventLogging();
    [[nodiscard]] static const std::shared_ptr<CVLoggingConfig>& noLogging();

    // From the app configuration: the value under "eventLoggingEnabled",
    // enabled when the key is absent. A number counts as its truth value;
    // any other kind counts as absent.
    explicit CVLoggingConfig(const std::map<std::string, bool>& jsonDictionary);
    explicit CVLoggingConfig(const boost::json::object& jsonDictionary);

    [[nodiscard]] bool eventLoggingEnabled() const { return eventLoggingEnabled_; }
    void setEventLoggingEnabled(bool enabled) { eventLoggingEnabled_ = enabled; }

private:
    explicit CVLoggingConfig(bool enabled) : eventLoggingEnabled_(enabled) {}

    std::atomic<bool> eventLoggingEnabled_;
};

// Collects the entries of the process and turns them into package files in
// the log folder, which it uploads. Its state is touched only on its own
// serial executor; every operation hops there. While an upload is under way
// other calls get in, so bookkeeping never assumes a run has the actor to
// itself: a file being uploaded is not handed to a second run, and a run
// forgets and deletes only the files it sent.
//
// For every operation below:
//   Completes: on the caller's executor, after the hop to the actor; file
//     work runs on the blocking I/O pool meanwhile.
//   Errors: none unless the operation says so; failures are logged.
//   Cancelling: reaches an upload under way (its files' requests are
//     aborted and they stay for a later run); the other steps are short and
//     run to their end.
class CVLoggerActor : public std::enable_shared_from_this<CVLoggerActor> {
public:
    using Date = std::chrono::system_clock::time_point;

    // The log folder is the caches folder's "com.ambrell.sdklogs". The logger
    // is asked for the API key and the upload switch at each step.
    explicit CVLoggerActor(std::weak_ptr<const CVLogger> logger);
    CVLoggerActor(std::weak_ptr<const CVLogger> logger, std::filesystem::path logFolder);
    ~CVLoggerActor();
    CVLoggerActor(const CVLoggerActor&) = delete;
    CVLoggerActor& operator=(const CVLoggerActor&) = delete;

    [[nodiscard]] const platform::Actor& actor() const { return *actor_; }
    [[nodiscard]] const std::filesystem::path& logUrl() const { return logUrl_; }
    [[nodiscard]] const std::string& sessionId() const { return sessionId_; }
    [[nodiscard]] Date sessionStart() const { return sessionStart_; }

    // Adds the entry; with more than 999 entries waiting, or more than 60
    // seconds after the last dispatch, writes a package, runs an upload and
    // renews the dispatch date.
    platform::Awaitable<void> append(CVLogEntry entry);
    // Starts append() in a task of its own and returns at once. Entries
    // handed in from one thread arrive in that order.
    void appendDetached(CVLogEntry entry);
    // Writes the waiting entries (two at least) as a package of the logger's
    // key. When the package cannot be serialised or written, the entries stay.
    platform::Awaitable<void> dispatch();
    // Uploads the known package files of the logger's key that no other run
    // is uploading; never fails.
    platform::Awaitable<void> uploadLogPackages();
    // Forgets the names and deletes their files of the key.
    platform::Awaitable<void> removeLogPackages(std::vector<std::string> names, std::string apiKey);
    // The names in the log folder; throws std::filesystem::filesystem_error.
    platform::Awaitable<std::vector<std::string>> listLogFolder();

    // Copies of the state, for inspection.
    platform::Awaitable<std::vector<CVLogEntry>> logEntries();
    platform::Awaitable<std::vector<std::string>> logPackageFiles();
    platform::Awaitable<Date> latestDispatchDate();

private:
    struct Steps;

    const std::weak_ptr<const CVLogger> logger_;
    // Behind a pointer, so that this widely included header needs no more of
    // Asio than the awaitable.
    const std::unique_ptr<const platform::Actor> actor_;
    const std::filesystem::path logUrl_;
    const std::string sessionId_;
    const Date sessionStart_;

    // Touched on the actor only.
    std::vector<CVLogEntry> logEntries_;
    Date latestDispatchDate_;
    std::shared_ptr<CVFileCache> logCache_;
    std::vector<std::string> logPackageFiles_;
    std::set<std::string> uploading_;
};

// The process-wide entry point for usage events. Recording returns at once;
// the actor does the rest.
class CVLogger : public std::enable_shared_from_this<CVLogger> {
public:
    ~CVLogger();
    CVLogger(const CVLogger&) = delete;
    CVLogger& operator=(const CVLogger&) = delete;

    // Made on first use, observing the reachability-change notification.
    [[nodiscard]] static std::shared_ptr<CVLogger> sharedInstance();
    // Test-only: the next sharedInstance() makes a new logger.
    static void resetSharedForTesting();

    // Records one event of the shared logger, dated now, unless its
    // configuration disables logging. Texts that are not valid UTF-8 are
    // repaired (and logged), so that one entry cannot keep a package from
    // being written.
    static void event(CVLogEvent name, CVLogDomain domain, std::optional<CVLogEntry::Parameters> parameters);
    static void event(CVLogEvent name, CVLogDomain domain);

    [[nodiscard]] std::optional<std::string> apiKey() const;
    // Blocks until the waiting entries are written and the package files are
    // uploaded under the old key; only then is the new key stored. Setting
    // the key already held changes nothing, so it neither writes nor blocks.
    // On a pool thread the wait is refused (and logged) and the key stored
    // at once: a task there uses changeApiKey instead.
    void setApiKey(std::optional<std::string> apiKey);
    // The same change for a task, which must not block its pool thread: the
    // writing and uploading under the old key are awaited, then the new key
    // is stored. A key equal to the held one changes nothing.
    //   Completes: on the caller's executor.
    //   Errors: none; a failed write or upload is dropped, as by the setter.
    //   Cancelling: CancellationError once the flush has ended; the new key
    //     is stored all the same, as a cancelled setter would leave it.
    platform::Awaitable<void> changeApiKey(std::optional<std::string> apiKey);

    [[nodiscard]] std::shared_ptr<CVLoggingConfig> configuration() const;
    // A null configuration is refused (and logged).
    void setConfiguration(std::shared_ptr<CVLoggingConfig> configuration);

    [[nodiscard]] bool uploadFiles() const { return uploadFiles_; }
    [[nodiscard]] const std::shared_ptr<CVLoggerActor>& loggerActor() const { return loggerActor_; }

    // Starts an upload run and returns at once.
    void uploadLog();
    // Uploads when the shared reachability manager says the network is there.
    void reachabilityDidChange(const platform::Notification& notification);

    // Runs the operation in a task of its own and blocks until it has ended;
    // its error, if any, is dropped. The runtime has no task priorities, so
    // the priority is accepted and not used. Refused, and logged, on a pool
    // thread, where blocking would starve the work it waits for.
    static void runSynchronously(std::optional<int> priority, std::function<platform::Awaitable<void>()> operation);

private:
    CVLogger();

    mutable std::mutex mutex_;
    std::optional<std::string> apiKey_;
    std::shared_ptr<CVLoggingConfig> configuration_;
    const bool uploadFiles_ = true;
    std::shared_ptr<CVLoggerActor> loggerActor_;
    platform::NotificationCenter::ObserverToken reachabilityObserver_;
    // One key change at a time, so flushes never interleave.
    std::mutex apiKeyChangeMutex_;
};

}  // namespace ambrell

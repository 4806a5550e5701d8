#include "data/DataSetManager/CVDataSetUrlDownloadTask.h"

#include <fmt/format.h>

#include <functional>
#include <system_error>
#include <utility>

#include "Ambrell/ErrorObjects.h"
#include "data/CVModelCache.h"
#include "data/DataSetManager/CVDataSetStaging.h"
#include "data/DataSetManager/DataSetManagerLog.h"
#include "foundation/CVDataProvider.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVPercentEncoding.h"
#include "foundation/DateFormats.h"
#include "platform/Logger.h"
#include "platform/http/HttpErrors.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace {

std::string taskName(const std::string& url, std::optional<std::chrono::system_clock::time_point> since) {
    std::string name = fmt::format("Fetch {}", url);
    if (since) name += fmt::format(" (since {})", cv_asHTTPDate(*since));
    return name;
}

void removeDownloadStaging(const std::filesystem::path& staging) {
    std::error_code ignored;
    std::filesystem::remove(staging, ignored);
}

// Neither a status nor most transport errors say which URL failed, and a
// sync fetches hundreds: the description names it. The domain and code stay,
// so that callers that read them still can.
platform::NSError namingUrl(platform::NSError error, const std::string& url) {
    auto description = fmt::format("Could not download {}: {}", url, error.localizedDescription());
    error.userInfo.insert_or_assign(std::string(platform::NSLocalizedDescriptionKey), std::move(description));
    return error;
}

}  // namespace

CVDataSetUrlDownloadTask::CVDataSetUrlDownloadTask(const std::shared_ptr<const void>& owner, std::string url,
                                                   std::filesystem::path targetFilePath,
                                                   std::optional<std::chrono::system_clock::time_point> ifModifiedSince,
                                                   std::optional<std::chrono::seconds> maxAge, IncomingReader read)
    : CVDataSetCacheTask(owner, true),
      url_(std::move(url)),
      targetFilePath_(std::move(targetFilePath)),
      ifModifiedSince_(ifModifiedSince),
      maxAge_(maxAge),
      read_(std::move(read)) {
    setName(taskName(url_, ifModifiedSince_));
}

std::shared_ptr<CVDataSetUrlDownloadTask> CVDataSetUrlDownloadTask::newWithOwner(
    const std::shared_ptr<const void>& owner, std::string url, std::filesystem::path targetFilePath,
    std::optional<std::chrono::system_clock::time_point> ifModifiedSince, std::optional<std::chrono::seconds> maxAge,
    IncomingReader read) {
    return std::shared_ptr<CVDataSetUrlDownloadTask>(new CVDataSetUrlDownloadTask(
        owner, std::move(url), std::move(targetFilePath), ifModifiedSince, maxAge, std::move(read)));
}

std::optional<platform::HttpResponse> CVDataSetUrlDownloadTask::urlResponse() const {
    std::lock_guard lock(responseMutex_);
    return urlResponse_;
}

bool CVDataSetUrlDownloadTask::isFreshEnough() const {
    // A file the server dated is always asked about: the conditional request
    // is cheap and the server knows best.
    if (!maxAge_) return false;
    std::error_code error;
    if (!std::filesystem::exists(targetFilePath_, error)) return false;
    if (xattr_lastModified(targetFilePath_)) return false;
    const auto downloaded = xattr_downloadDate(targetFilePath_);
    if (!downloaded) return false;
    return *downloaded + *maxAge_ > std::chrono::system_clock::now();
}

void CVDataSetUrlDownloadTask::executeWork() {
    if (isFreshEnough()) {
        setStatus(CVDataSetCacheTaskStatus::finished);
        return;
    }
    const auto encoded = URLByPercentEncodingPath(url_);
    if (!encoded) {
        fail(errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kDataLoadingFailed,
                                  "Not a URL: " + url_));
        setStatus(CVDataSetCacheTaskStatus::finished);
        return;
    }
    // The staging file has no stored date: the condition is the target's.
    std::optional<std::string> since =
        ifModifiedSince_ ? cv_asHTTPDate(*ifModifiedSince_) : xattr_lastModified(targetFilePath_);
    const auto staging = CVDataSetStaging::newPathBeside(targetFilePath_.parent_path());

    auto weak =
        std::weak_ptr<CVDataSetUrlDownloadTask>(std::static_pointer_cast<CVDataSetUrlDownloadTask>(shared_from_this()));
    CVDataProvider::downloadContents(
        *encoded, staging, std::move(since),
        [weak, staging](std::optional<std::filesystem::path> /*file*/, std::optional<platform::HttpResponse> response,
                        std::exception_ptr failure) {
            auto self = weak.lock();
            if (!self) {
                removeDownloadStaging(staging);
                return;
            }
            // A cancelled task has ended: what the request brings changes nothing of it.
            const bool ended = self->status() != CVDataSetCacheTaskStatus::executing;
            if (failure) {
                removeDownloadStaging(staging);
                if (ended) return;
                // Recorded, so the data set's sync reports what it could not fetch.
                self->fail(namingUrl(errorObjectFor(failure), self->url_));
                self->setStatus(CVDataSetCacheTaskStatus::finished);
                return;
            }
            // Read, landed or dropped on the blocking I/O pool: a document of
            // megabytes is not parsed on the pool that runs the coroutines.
            std::function<void()> settling = [self, staging, response = std::move(response)]() mutable {
                self->settle(staging, std::move(response));
            };
            auto& pool = platform::ThreadPool::blockingIO();
            // Refused only once the runtime shuts down; the task still ends.
            if (!pool.tryPost(pool.executor(), settling)) settling();
        });
}

void CVDataSetUrlDownloadTask::settle(const std::filesystem::path& staging,
                                      std::optional<platform::HttpResponse> response) {
    const int code = response ? response->statusCode : 0;
    std::optional<platform::NSError> error;
    bool landed = false;
    bool unreadable = false;
    if (code >= 200 && code <= 299 && code != 304) {
        std::error_code missing;
        if (!std::filesystem::exists(staging, missing)) {
            // Nothing to land; the file in place stays.
        } else if (status() != CVDataSetCacheTaskStatus::executing) {
            // Cancelled: nothing of the answer lands, so it is not read either.
        } else if (!reads(staging)) {
            // A proxy's login page or a body cut short: the stored copy, its
            // dates and the model in memory are what the next start reads.
            unreadable = true;
            error = errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kDataLoadingFailed,
                                         "Unreadable answer for " + url_);
        } else if (land(staging)) {
            landed = true;
            didUpdateTargetFile_ = true;
            CVModelCache::memoryCache()->removeObjectForKey(CVModelCache::cacheKeyForUrl(url_));
        } else if (status() == CVDataSetCacheTaskStatus::executing) {
            error = errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kDataLoadingFailed,
                                         fmt::format("Could not store {} at {}", url_, targetFilePath_.string()));
        }
    }
    // A landed file left nothing behind to remove.
    if (!landed) removeDownloadStaging(staging);
    // A cancelled task has ended: what the request brought changes nothing of it.
    if (status() != CVDataSetCacheTaskStatus::executing) return;
    if (!unreadable) {
        // Stored before the finish, so whoever the finish wakes sees it. An
        // unreadable answer is a failed download, which leaves none.
        std::lock_guard lock(responseMutex_);
        urlResponse_ = std::move(response);
    }
    if (error) fail(std::move(*error));
    setStatus(CVDataSetCacheTaskStatus::finished);
}

void CVDataSetUrlDownloadTask::fail(platform::NSError error) {
    // Where the transport has not named the URL already (after a redirect, it
    // names the one that failed).
    error.userInfo.try_emplace(std::string(platform::NSErrorFailingURLStringKey), url_);
    dataSetManagerLog().error("[E] error {}", errorDescription(error));
    setError(std::move(error));
}

bool CVDataSetUrlDownloadTask::reads(const std::filesystem::path& staging) const {
    if (!read_) return true;
    try {
        return read_(staging);
    } catch (const std::exception& failure) {
        dataSetManagerLog().error("[E] Failed to read {}: {}", staging.string(), failure.what());
        return false;
    } catch (...) {
        dataSetManagerLog().error("[E] Failed to read {}", staging.string());
        return false;
    }
}

void CVDataSetUrlDownloadTask::cancelWork() {
    std::lock_guard lock(landingMutex_);
    landingClosed_ = true;
}

bool CVDataSetUrlDownloadTask::land(const std::filesystem::path& staging) {
    std::lock_guard lock(landingMutex_);
    if (landingClosed_) return false;
    std::error_code error;
    std::filesystem::rename(staging, targetFilePath_, error);
    if (error) dataSetManagerLog().error("[E] Failed to store {}: {}", targetFilePath_.string(), error.message());
    return !error;
}

}  // namespace ambrell

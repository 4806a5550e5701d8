#include "data/DataSetManager/CVDataSetUrlDownloadTask.h"

#include <fmt/format.h>

#include <system_error>
#include <utility>

#include "Ambrell/ErrorObjects.h"
#include "data/CVModelCache.h"
#include "data/DataSetManager/DataSetManagerLog.h"
#include "foundation/CVDataProvider.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVPercentEncoding.h"
#include "foundation/DateFormats.h"
#include "platform/Logger.h"

namespace ambrell {

namespace {

std::string taskName(const std::string& url, std::optional<std::chrono::system_clock::time_point> since) {
    std::string name = fmt::format("Fetch {}", url);
    if (since) name += fmt::format(" (since {})", cv_asHTTPDate(*since));
    return name;
}

}  // namespace

CVDataSetUrlDownloadTask::CVDataSetUrlDownloadTask(const std::shared_ptr<const void>& owner, std::string url,
                                                   std::filesystem::path targetFilePath,
                                                   std::optional<std::chrono::system_clock::time_point> ifModifiedSince,
                                                   std::optional<std::chrono::seconds> maxAge)
    : CVDataSetCacheTask(owner, true),
      url_(std::move(url)),
      targetFilePath_(std::move(targetFilePath)),
      ifModifiedSince_(ifModifiedSince),
      maxAge_(maxAge) {
    setName(taskName(url_, ifModifiedSince_));
}

std::shared_ptr<CVDataSetUrlDownloadTask> CVDataSetUrlDownloadTask::newWithOwner(
    const std::shared_ptr<const void>& owner, std::string url, std::filesystem::path targetFilePath,
    std::optional<std::chrono::system_clock::time_point> ifModifiedSince, std::optional<std::chrono::seconds> maxAge) {
    return std::shared_ptr<CVDataSetUrlDownloadTask>(
        new CVDataSetUrlDownloadTask(owner, std::move(url), std::move(targetFilePath), ifModifiedSince, maxAge));
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
        auto error = errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kDataLoadingFailed,
                                          "Not a URL: " + url_);
        dataSetManagerLog().error("[E] error {}", errorDescription(error));
        setError(std::move(error));
        setStatus(CVDataSetCacheTaskStatus::finished);
        return;
    }
    std::optional<std::string> since;
    if (ifModifiedSince_) since = cv_asHTTPDate(*ifModifiedSince_);

    auto weak =
        std::weak_ptr<CVDataSetUrlDownloadTask>(std::static_pointer_cast<CVDataSetUrlDownloadTask>(shared_from_this()));
    CVDataProvider::downloadContents(
        *encoded, targetFilePath_, std::move(since),
        [weak](std::optional<std::filesystem::path> /*file*/, std::optional<platform::HttpResponse> response,
               std::exception_ptr failure) {
            auto self = weak.lock();
            if (!self) return;
            // A cancelled task has ended: what the request brings changes nothing of it.
            const bool ended = self->status() != CVDataSetCacheTaskStatus::executing;
            if (failure) {
                if (ended) return;
                // Recorded, so the data set's sync reports what it could not fetch.
                auto error = errorObjectFor(failure);
                dataSetManagerLog().error("[E] error {}", errorDescription(error));
                self->setError(std::move(error));
                self->setStatus(CVDataSetCacheTaskStatus::finished);
                return;
            }
            const int code = response ? response->statusCode : 0;
            if (code >= 200 && code <= 299 && code != 304) {
                self->didUpdateTargetFile_ = true;
                CVModelCache::memoryCache()->removeObjectForKey(CVModelCache::cacheKeyForUrl(self->url_));
            }
            if (ended) return;
            {
                // Stored before the finish, so whoever the finish wakes sees it.
                std::lock_guard lock(self->responseMutex_);
                self->urlResponse_ = std::move(response);
            }
            self->setError(std::nullopt);
            self->setStatus(CVDataSetCacheTaskStatus::finished);
        });
}

}  // namespace ambrell

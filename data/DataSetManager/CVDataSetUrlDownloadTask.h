#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "data/DataSetManager/CVDataSetCacheTask.h"
#include "platform/http/HttpTypes.h"

namespace ambrell {

// Downloads one URL into a data set's folder with the HTTP data provider.
//
// With a maximum age, a target file that carries no stored last-modified text
// is kept, without a request, until its stored download date plus the age has
// passed. Otherwise the request is conditional on the file's stored
// last-modified text; a 2xx answer other than 304 replaces the file, sets
// didUpdateTargetFile() and drops the model memory cache's entry for the URL.
//
// Completes: on the provider's thread, with status finished. A failed request
// is logged and recorded in error() (the task still finishes; the data set's
// sync reports it). Cancelling ends the task at once; the request's late
// answer may still land the file but does not finish the task again.
class CVDataSetUrlDownloadTask : public CVDataSetCacheTask {
public:
    static std::shared_ptr<CVDataSetUrlDownloadTask> newWithOwner(
        const std::shared_ptr<const void>& owner, std::string url, std::filesystem::path targetFilePath,
        std::optional<std::chrono::system_clock::time_point> ifModifiedSince,
        std::optional<std::chrono::seconds> maxAge);

    [[nodiscard]] const std::string& url() const { return url_; }
    [[nodiscard]] const std::filesystem::path& targetFilePath() const { return targetFilePath_; }
    [[nodiscard]] std::optional<std::chrono::system_clock::time_point> ifModifiedSince() const {
        return ifModifiedSince_;
    }
    [[nodiscard]] std::optional<std::chrono::seconds> maxAge() const { return maxAge_; }
    [[nodiscard]] bool didUpdateTargetFile() const { return didUpdateTargetFile_; }
    [[nodiscard]] std::optional<platform::HttpResponse> urlResponse() const;

protected:
    CVDataSetUrlDownloadTask(const std::shared_ptr<const void>& owner, std::string url,
                             std::filesystem::path targetFilePath,
                             std::optional<std::chrono::system_clock::time_point> ifModifiedSince,
                             std::optional<std::chrono::seconds> maxAge);
    void executeWork() override;
    [[nodiscard]] std::string_view className() const override { return "CVDataSetUrlDownloadTask"; }

private:
    [[nodiscard]] bool isFreshEnough() const;

    const std::string url_;
    const std::filesystem::path targetFilePath_;
    const std::optional<std::chrono::system_clock::time_point> ifModifiedSince_;
    const std::optional<std::chrono::seconds> maxAge_;
    std::atomic<bool> didUpdateTargetFile_{false};
    mutable std::mutex responseMutex_;
    std::optional<platform::HttpResponse> urlResponse_;
};

}  // namespace ambrell

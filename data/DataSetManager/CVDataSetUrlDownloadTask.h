#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

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
// The answer is fetched into a staging file beside the target's folder (a
// data set's folder is never created again by a download of a removed data
// set) and moved into place only while the task is not cancelled.
//
// Completes: on the provider's thread, with status finished. A failed request
// is logged and recorded in error() (the task still finishes; the data set's
// sync reports it). Cancelling ends the task at once; once cancel() has
// returned, the request's late answer never lands.
class CVDataSetUrlDownloadTask : public CVDataSetCacheTask {
public:
    // Ends the names of staging files; what a killed process left is removed
    // by the data-set manager at start.
    static constexpr std::string_view kStagingSuffix = ".download";

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
    void cancelWork() override;
    [[nodiscard]] std::string_view className() const override { return "CVDataSetUrlDownloadTask"; }

private:
    [[nodiscard]] bool isFreshEnough() const;
    // Moves the staged answer onto the target unless the task was cancelled;
    // the staging file is gone afterwards either way. True when it landed.
    bool land(const std::filesystem::path& staging);

    const std::string url_;
    const std::filesystem::path targetFilePath_;
    const std::optional<std::chrono::system_clock::time_point> ifModifiedSince_;
    const std::optional<std::chrono::seconds> maxAge_;
    std::atomic<bool> didUpdateTargetFile_{false};
    // Held while an answer lands; cancelling closes the landing under it.
    std::mutex landingMutex_;
    bool landingClosed_ = false;
    mutable std::mutex responseMutex_;
    std::optional<platform::HttpResponse> urlResponse_;
};

}  // namespace ambrell

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
#include "foundation/StoredCopyRefresh.h"
#include "platform/http/HttpTypes.h"

namespace ambrell {

// Downloads one URL into a data set's folder with the HTTP data provider.
//
// With a maximum age, a target file that carries no stored last-modified text
// is kept, without a request, until its stored download date plus the age has
// passed. Otherwise the request is conditional on the file's stored
// last-modified text; a 2xx answer other than 304 that the task's reader
// reads (every one, without a reader) replaces the file, sets
// didUpdateTargetFile() and drops the model memory cache's entry for the URL.
//
// The answer is fetched into a staging file beside the target's folder (see
// CVDataSetStaging), read there, and moved into place only while the task is
// not cancelled.
//
// Completes: with status finished; on the blocking I/O pool when an answer
// came (it is read and landed there), else on the provider's thread. A failed
// request, and an answer the reader refuses, is logged and recorded in
// error(), and leaves the file, its stored dates and the memory cache as they
// were (the task still finishes; the data set's sync reports it). Every such
// error names the URL in its description and under NSErrorFailingURLStringKey;
// a failed request's keeps the domain and code it came with. Cancelling ends
// the task at once; once cancel() has returned, the request's late answer
// never lands.
class CVDataSetUrlDownloadTask : public CVDataSetCacheTask {
public:
    // A 2xx answer lands once `read` reads it as the stored copy will be read
    // (see CVDataSetDownloadReaders); without a reader every one lands.
    static std::shared_ptr<CVDataSetUrlDownloadTask> newWithOwner(
        const std::shared_ptr<const void>& owner, std::string url, std::filesystem::path targetFilePath,
        std::optional<std::chrono::system_clock::time_point> ifModifiedSince,
        std::optional<std::chrono::seconds> maxAge, IncomingReader read = {});

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
                             std::optional<std::chrono::seconds> maxAge, IncomingReader read);
    void executeWork() override;
    void cancelWork() override;
    [[nodiscard]] std::string_view className() const override { return "CVDataSetUrlDownloadTask"; }

private:
    [[nodiscard]] bool isFreshEnough() const;
    // On the blocking I/O pool: reads the staged answer of a request that
    // answered, lands it or drops it, and finishes the task.
    void settle(const std::filesystem::path& staging, std::optional<platform::HttpResponse> response);
    // Logs the error and records it, with the URL under the failing-URL key.
    void fail(platform::NSError error);
    // A reader that throws, whatever it throws, refuses the answer.
    [[nodiscard]] bool reads(const std::filesystem::path& staging) const;
    // Moves the staged answer onto the target unless the task was cancelled;
    // the staging file is gone afterwards either way. True when it landed.
    bool land(const std::filesystem::path& staging);

    const std::string url_;
    const std::filesystem::path targetFilePath_;
    const std::optional<std::chrono::system_clock::time_point> ifModifiedSince_;
    const std::optional<std::chrono::seconds> maxAge_;
    const IncomingReader read_;
    std::atomic<bool> didUpdateTargetFile_{false};
    // Held while an answer lands; cancelling closes the landing under it.
    std::mutex landingMutex_;
    bool landingClosed_ = false;
    mutable std::mutex responseMutex_;
    std::optional<platform::HttpResponse> urlResponse_;
};

}  // namespace ambrell

#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Executor.h"

namespace ambrell {

// Sends package files of one API key to the web service's logging URL.
class CVLogUploader {
public:
    // The files an upload is done with: the service took them (2xx) or
    // refused them for good (4xx other than 403), so they are not to be sent
    // again. Filled as each file ends, so it also tells what a failed upload
    // got through before it failed. Thread-safe.
    class SentFiles {
    public:
        void add(std::filesystem::path path);
        [[nodiscard]] std::vector<std::filesystem::path> paths() const;

    private:
        mutable std::mutex mutex_;
        std::vector<std::filesystem::path> paths_;
    };

    CVLogUploader() = delete;

    // Uploads the files of the key concurrently, one child task each; files
    // of other keys are skipped, missing files too, and so is everything
    // while the key has no logging URL. A file is deleted once the service
    // answered 2xx or any 4xx but 403; 403, 3xx, 5xx, an answer from
    // another URL than the logging URL (a redirect that was followed), an
    // answer without a status and a transport error keep it for a later
    // upload. 403, 404, 500
    // and above, a transport error or a failed deletion fail the upload
    // (CVError.requestFailed for the statuses; the file of a 404 is deleted
    // all the same), which cancels the files still on their way.
    //   Completes: on the caller's executor, once every file's task ended.
    //   Errors: CVError.requestFailed, the data provider's errors, a
    //     std::filesystem::filesystem_error for a failed deletion.
    //   Cancelling: cancels every file's upload; the call then throws
    //     CancellationError or the first error, after all of them ended.
    static platform::Awaitable<void> upload(std::vector<std::filesystem::path> files, std::string apiKey,
                                            std::shared_ptr<SentFiles> sent = nullptr);
};

// Deletes package files of one API key.
class CVLogRemover {
public:
    CVLogRemover() = delete;

    // Deletes folder/name for each name of a file of the key. Names that are
    // not a plain file name of the folder (empty, ".", "..", holding "/" or
    // NUL) are skipped, and a failed deletion is ignored.
    static void remove(const std::vector<std::string>& files, const std::filesystem::path& folder,
                       std::string_view apiKey);
};

}  // namespace ambrell

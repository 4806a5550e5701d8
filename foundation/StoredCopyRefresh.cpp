#include "foundation/StoredCopyRefresh.h"

#include <optional>
#include <utility>

#include "Ambrell/CVLog.h"
#include "foundation/CVDataProvider.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "platform/UUID.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/CompletionForm.h"
#include "platform/runtime/RunBlocking.h"

namespace ambrell {

namespace fs = std::filesystem;

namespace {

using Outcome = StoredCopyRefresh::Outcome;

// "." + the stored copy's name + ".incoming-" + a UUID.
constexpr std::string_view kIncomingMarker = ".incoming-";

fs::path incomingFileFor(const fs::path& stored) {
    // Shortened, so that the name stays within the file system's limit.
    const auto name = stored.filename().native().substr(0, 100);
    return stored.parent_path() / ("." + name + std::string(kIncomingMarker) + platform::UUID::random().uuidString());
}

void discardIncomingFile(const fs::path& incoming) {
    std::error_code ignored;
    fs::remove(incoming, ignored);
}

// Whatever a reader throws refuses the file: the refresh still settles, so
// that the file is removed and the outcome says what happened.
bool reads(const IncomingReader& read, const fs::path& incoming) {
    try {
        return read && read(incoming);
    } catch (...) {
        return false;
    }
}

// On the blocking I/O pool: the reader and the rename touch files.
StoredCopyRefresh settle(const std::string& url, const fs::path& stored, const fs::path& incoming, int status,
                         const IncomingReader& read) {
    StoredCopyRefresh refresh;
    refresh.status = status;
    if (status == 304) {
        refresh.outcome = Outcome::notModified;
    } else if (status < 200 || status > 299) {
        refresh.outcome = Outcome::failed;
    } else if (!reads(read, incoming)) {
        refresh.outcome = Outcome::unreadable;
        CVLog::core().debug("The answer to {} (status {}) does not read; the stored copy stays", url, status);
    } else {
        refresh.outcome = Outcome::replaced;
        // The download's dates and attributes go with it.
        refresh.storeError = platform::replaceItem(stored, incoming);
    }
    if (refresh.outcome != Outcome::replaced || refresh.storeError) discardIncomingFile(incoming);
    return refresh;
}

}  // namespace

platform::Awaitable<StoredCopyRefresh> refreshStoredCopy(std::string url, fs::path stored, IncomingReader read) {
    const auto incoming = incomingFileFor(stored);
    std::optional<CVDataProvider::FileResult> download;
    try {
        // Named: g++ 12 destroys the temporaries of a co_await expression twice.
        auto downloading = CVDataProvider::downloadContents(url, incoming, xattr_lastModified(stored));
        download = co_await std::move(downloading);
    } catch (const platform::CancellationError&) {
        discardIncomingFile(incoming);
        throw;
    } catch (...) {
        discardIncomingFile(incoming);
        StoredCopyRefresh failed;
        failed.error = std::current_exception();
        co_return failed;
    }
    const int status = download->response ? download->response->statusCode : 0;
    auto settling = [&] { return settle(url, stored, download->filePath, status, read); };
    co_return co_await platform::runBlocking(std::move(settling));
}

void refreshStoredCopy(std::string url, fs::path stored, IncomingReader read,
                       std::function<void(StoredCopyRefresh)> done) {
    auto shared = std::make_shared<std::function<void(StoredCopyRefresh)>>(std::move(done));
    platform::completeOn(
        platform::CompletionQueue::workingTask, refreshStoredCopy(std::move(url), std::move(stored), std::move(read)),
        [shared](StoredCopyRefresh refresh) {
            if (*shared) (*shared)(std::move(refresh));
        },
        [shared](const std::exception_ptr& error) {
            StoredCopyRefresh failed;
            failed.error = error;
            if (*shared) (*shared)(std::move(failed));
        });
}

bool isIncomingFileName(std::string_view fileName) {
    const auto marker = fileName.rfind(kIncomingMarker);
    return fileName.starts_with('.') && marker != std::string_view::npos && marker >= 2 &&
           platform::UUID::fromString(fileName.substr(marker + kIncomingMarker.size())).has_value();
}

}  // namespace ambrell

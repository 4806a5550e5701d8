#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/runtime/Executor.h"

namespace ambrell {

// A refresh of a stored document downloads beside the stored copy and puts the
// download in its place only once it reads as the document it should be: an
// answer that does not (an error page, a proxy's login page, a body cut short,
// an object of another kind) must not cost the copy, nor its stored date, that
// the next start without network depends on.

// How a refresh ended.
struct StoredCopyRefresh {
    enum class Outcome {
        // No document came: the transport failed, the request was refused, or
        // the status brings none (a redirect that was not followed). `error`
        // holds the transport's failure when there was one.
        failed,
        // 304: the stored copy is current and was not touched.
        notModified,
        // A 2xx answer that the reader refused; it was removed.
        unreadable,
        // A 2xx answer that read. It is now the stored copy, unless
        // `storeError` says it could not be put there; what it read holds
        // either way.
        replaced,
    };
    Outcome outcome = Outcome::failed;
    int status = 0;
    std::exception_ptr error;
    std::error_code storeError;
};

// Reads a downloaded file the way the stored copy will be read at the next
// start, and answers whether it reads. What it reads is the caller's to keep
// (the reader captures it), so a download is parsed once. Runs on the
// blocking I/O pool; a reader that throws, whatever it throws, refuses the
// file.
using IncomingReader = std::function<bool(const std::filesystem::path& incoming)>;

// Downloads `url` into a file of its own beside `stored` (refreshes that
// overlap never share one), asked for as of the stored copy's date, and
// settles it with `read`.
//   Completes: the awaitable form on the caller's executor; the completion
//     form calls `done` once, from a task of its own (never on the main
//     queue), also at shutdown (failed, with the cancelled error).
//   Errors: none; a failed download is an outcome.
//   Cancelling: the awaitable form throws CancellationError while it
//     downloads; once the answer has come it is settled all the same.
[[nodiscard]] platform::Awaitable<StoredCopyRefresh> refreshStoredCopy(std::string url, std::filesystem::path stored,
                                                                       IncomingReader read);
void refreshStoredCopy(std::string url, std::filesystem::path stored, IncomingReader read,
                       std::function<void(StoredCopyRefresh)> done);

// Whether a file name is that of a refresh's download beside a stored copy: a
// process killed during a refresh leaves it there.
[[nodiscard]] bool isIncomingFileName(std::string_view fileName);

}  // namespace ambrell

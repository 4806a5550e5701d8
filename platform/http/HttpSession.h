#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http/HttpTypes.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/TaskResult.h"

namespace ambrell::platform {

namespace detail {
class HttpSessionCore;
}

// A plain HTTP proxy. Only http:// requests go through it; https:// requests
// always connect directly.
struct HttpProxy {
    std::string host;
    // The proxy's port; 80 when absent or not positive.
    std::optional<std::int32_t> port;
};

// Lets a caller of a completion-form operation abort it. Cancelling a
// transfer that has ended, or whose session is gone, does nothing.
class HttpTransferHandle {
public:
    HttpTransferHandle() = default;
    // Aborts the transfer; its completion receives an NSURLErrorDomain error
    // with code NSURLErrorCancelled. Thread-safe.
    void cancel() const;

private:
    friend class detail::HttpSessionCore;
    HttpTransferHandle(std::weak_ptr<detail::HttpSessionCore> core, std::uint64_t id)
        : core_(std::move(core)), id_(id) {}

    std::weak_ptr<detail::HttpSessionCore> core_;
    std::uint64_t id_ = 0;
};

// HTTP requests over one pool of kept-alive connections, run by a network
// thread of the session's own. Redirects are followed; nothing is cached.
//
// Every operation comes in two forms. For each:
//   Completes: the completion form calls its handler exactly once, on the
//     network thread (never on the main queue), with the result or the
//     error; a handler must not block, and must not destroy the session. The
//     awaitable form resumes the awaiting task on its own executor.
//   Errors: transport failures are NSErrorException errors of
//     NSURLErrorDomain (see HttpErrors.h); an HTTP status of any value is a
//     response, never an error.
//   Cancelling: cancelling the awaiting task, or the handle, aborts the
//     transfer: the awaitable throws CancellationError, the handler gets
//     NSURLErrorCancelled. A download's partial file is removed.
//
// Requests may be started from any number of threads at once. Destroying the
// session, or the runtime's shutdown, aborts what is under way (each
// completion then receives NSURLErrorCancelled) and waits for the network
// thread to end, so every completion has returned by then, even when both
// stop the session at once; requests made afterwards fail the same way at
// once. An awaiting task whose transfer the runtime's shutdown aborts throws
// CancellationError, never NSURLErrorCancelled: the shutdown cancels the
// task too. One whose session is destroyed outside a shutdown throws the
// NSErrorException with NSURLErrorCancelled.
class HttpSession {
public:
    struct Configuration {
        std::optional<HttpProxy> proxy;
    };

    using DataCompletion = std::function<void(TaskResult<HttpDataResult>)>;
    using DownloadCompletion = std::function<void(TaskResult<HttpDownloadResult>)>;

    HttpSession();
    // Throws std::invalid_argument for a proxy that cannot be used (a host
    // with spaces or slashes, a port above 65535).
    explicit HttpSession(Configuration configuration);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    [[nodiscard]] const Configuration& configuration() const { return configuration_; }

    // Sends the request (any method; `body` when present) and collects the
    // answer's body in memory.
    HttpTransferHandle data(HttpRequest request, DataCompletion completion);
    Awaitable<HttpDataResult> data(HttpRequest request);

    // Streams the answer's body into a new file (mode 0644) in
    // `temporaryFolder`, whatever the status; the file is removed on failure.
    // A folder in which no file can be created fails before any request.
    HttpTransferHandle download(HttpRequest request, std::filesystem::path temporaryFolder,
                                DownloadCompletion completion);
    Awaitable<HttpDownloadResult> download(HttpRequest request, std::filesystem::path temporaryFolder);

    // Streams the file at `request.bodyFile` as the body; POST unless the
    // request names another method. A missing or unreadable file fails
    // before any request.
    HttpTransferHandle upload(HttpRequest request, DataCompletion completion);
    Awaitable<HttpDataResult> upload(HttpRequest request);

private:
    Configuration configuration_;
    std::shared_ptr<detail::HttpSessionCore> core_;
    Runtime::ServiceRegistration stopAtShutdown_;
};

// Whether a file name is that of a download's file in its temporary folder: a
// process killed during a download leaves it there.
[[nodiscard]] bool isDownloadFileName(std::string_view fileName);

}  // namespace ambrell::platform

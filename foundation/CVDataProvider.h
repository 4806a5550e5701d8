#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/http/HttpTypes.h"
#include "platform/runtime/Executor.h"

namespace boost::json {
class value;
}

namespace ambrell {

namespace platform {
class HttpSession;
}

// The one HTTP transport of the library. Every request carries the SDK's
// headers; content requests wait until the web-service session token exists.
// Operations are stateless apart from one shared session, so connections are
// reused across the whole process.
//
// Each operation has an awaitable form and a completion form. For every one:
//   Completes: the awaitable form resumes on the caller's executor; the
//     completion form runs it in a task of its own and calls the handler once,
//     from that task (never on the main queue), with the results and no
//     error, or with no results and the error.
//   Errors: CVError (requestFailed, invalidApiKey, downloadFailed, as each
//     operation says), the session-token refresh's error, NSErrorException
//     of NSURLErrorDomain for transport failures.
//   Cancelling: the awaiting task's cancellation aborts the request and
//     throws CancellationError; the runtime's shutdown aborts it with
//     NSURLErrorCancelled. A partial download never replaces the file.
class CVDataProvider {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Headers = std::map<std::string, std::string>;

    struct DataResult {
        std::optional<Bytes> data;
        std::optional<platform::HttpResponse> response;
    };
    struct FileResult {
        std::filesystem::path filePath;
        std::optional<platform::HttpResponse> response;
    };

    using DataCompletion =
        std::function<void(std::optional<Bytes>, std::optional<platform::HttpResponse>, std::exception_ptr)>;
    using FileCompletion = std::function<void(std::optional<std::filesystem::path>,
                                              std::optional<platform::HttpResponse>, std::exception_ptr)>;

    CVDataProvider() = delete;

    // GET. Statuses of 400 and above fail: 403 with CVError.invalidApiKey,
    // others with CVError.requestFailed. Without the token wait the request
    // has a 10-second timeout and never waits.
    static platform::Awaitable<DataResult> data(std::string url, std::optional<std::string> ifModifiedSince,
                                                std::optional<Headers> headers, bool waitForSessionToken = true);
    static void data(std::string url, std::optional<std::string> ifModifiedSince, std::optional<Headers> headers,
                     bool waitForSessionToken, DataCompletion completion);

    // Downloads to `toFile`, streaming through a temporary file beside it. A
    // 2xx answer replaces the file and stamps its dates and extended
    // attributes; a 304 leaves it untouched. The conditional header is
    // `ifModifiedSince` when given, else the file's stored last-modified text.
    static platform::Awaitable<FileResult> downloadContents(std::string url, std::filesystem::path toFile,
                                                            std::optional<std::string> ifModifiedSince);
    static void downloadContents(std::string url, std::filesystem::path toFile,
                                 std::optional<std::string> ifModifiedSince, FileCompletion completion);

    // POSTs the file's bytes. Neither waits for nor sends the session token;
    // the status is the caller's to check.
    static platform::Awaitable<DataResult> uploadContentsofFile(std::filesystem::path filePath, std::string url);
    static void uploadContentsOfFile(std::filesystem::path filePath, std::string url, DataCompletion completion);

    // POST and DELETE of a JSON body (none when `object` is null); the status
    // is the caller's to check.
    static platform::Awaitable<DataResult> postJsonObject(const boost::json::value* object, std::string url,
                                                          std::optional<Headers> headers);
    static platform::Awaitable<DataResult> deleteJsonObject(const boost::json::value* object, std::string url,
                                                            std::optional<Headers> headers);
    static platform::Awaitable<DataResult> sendJsonObject(const boost::json::value* object, std::string url,
                                                          std::string method, std::optional<Headers> headers);
    static void postJsonObject(const boost::json::value* object, std::string url, std::optional<Headers> headers,
                               DataCompletion completion);
    static void deleteJsonObject(const boost::json::value* object, std::string url, std::optional<Headers> headers,
                                 DataCompletion completion);

    // A GET with the default headers and a 60-second timeout.
    static platform::HttpRequest makeRequest(std::string url);
    // Returns once a session token exists; throws the recorded refresh error,
    // or CancellationError when the task is cancelled meanwhile.
    static platform::Awaitable<void> waitForSessionToken();

    // The one session of the process, built on first use from the proxy
    // settings of that moment.
    static platform::HttpSession& urlSession();
    // Test-only: the next urlSession() builds a new session from the proxy
    // settings of then. The one before lives on for what still uses it.
    static void resetUrlSessionForTesting();
};

}  // namespace ambrell

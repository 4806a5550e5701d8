#include "foundation/CVDataProvider.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <variant>
#include <vector>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "foundation/DateFormats.h"
#include "foundation/SdkVersion.h"
#include "platform/FileSystem.h"
#include "platform/NSErrorException.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/CompletionForm.h"
#include "platform/runtime/RunBlocking.h"
#include "platform/runtime/Sleep.h"
#include "platform/runtime/Task.h"

namespace ambrell {

using platform::Awaitable;
using platform::HttpRequest;
using platform::HttpResponse;

namespace {

constexpr auto kSessionTokenPollInterval = std::chrono::milliseconds(50);
constexpr auto kUnwaitedRequestTimeout = std::chrono::seconds(10);

bool isPresent(const std::optional<std::string>& text) { return text && !text->empty(); }

void addCallerHeaders(HttpRequest& request, const std::optional<CVDataProvider::Headers>& headers) {
    if (!headers) return;
    for (const auto& [name, value] : *headers) request.headers.add(name, value);
}

void addSessionTokenIfPresent(HttpRequest& request) {
    if (auto token = CVAXAPI::sharedInstance()->sessionToken()) request.headers.add("Ambrell-Session-Token", *token);
}

void addJsonContentHeaders(HttpRequest& request) {
    request.headers.add("Content-Type", "application/json");
    request.headers.add("Accept", "application/json");
}

std::string describeForLog(const HttpRequest& request) {
    return "Error fetching " + (request.url.empty() ? std::string("unknown") : request.url) + " " +
           request.headers.description();
}

[[noreturn]] void throwForStatus(int statusCode) {
    throw CVError(statusCode == 403 ? CVErrorCase::invalidApiKey : CVErrorCase::requestFailed);
}

std::string urlPath(const std::string& url) {
    // The path of an absolute URL: after the authority, before query and fragment.
    const auto scheme = url.find("://");
    const auto pathStart = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    if (pathStart == std::string::npos) return "";
    const auto pathEnd = url.find_first_of("?#", pathStart);
    return url.substr(pathStart, pathEnd == std::string::npos ? std::string::npos : pathEnd - pathStart);
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

[[noreturn]] void failMovingFile(const std::filesystem::path& from, const std::filesystem::path& to,
                                 const std::error_code& error) {
    const auto errorObject = fileSystemError(error);
    CVLog::core().error("Failed moving file:\n    from " + from.string() + "\n    to   " + to.string() +
                        "\n    error " + errorDescription(errorObject));
    throw platform::NSErrorException(errorObject);
}

std::chrono::system_clock::time_point lastModifiedOf(const platform::HttpDownloadResult& download) {
    return cv_fromHTTPDate(download.response.headers.value("Last-Modified").value_or(""))
        .value_or(std::chrono::system_clock::time_point{});
}

std::optional<std::string_view> headerValueView(const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

void logSavedDownload(const HttpRequest& request, const std::filesystem::path& target) {
    CVLog::core().debug("Saved file for url " + request.url + " at " + target.string());
}

// Moves a 2xx download into place and records where it came from on the file.
std::filesystem::path storeDownload(const platform::HttpDownloadResult& download, const HttpRequest& request,
                                    const std::filesystem::path& target) {
    if (auto error = platform::replaceItem(target, download.temporaryFile)) {
        removeQuietly(download.temporaryFile);
        failMovingFile(download.temporaryFile, target, error);
    }
    const auto lastModified = lastModifiedOf(download);
    if (auto error = platform::setModificationDate(target, lastModified)) {
        failMovingFile(download.temporaryFile, target, error);
    }
    xattr_setLastModified(target, cv_asHTTPDate(lastModified));
    xattr_setDownloadUrl(target, request.url);
    xattr_setApiEndpoint(target, urlPath(request.url));
    xattr_setDownloadDate(target, std::chrono::system_clock::now());
    xattr_setContentLanguage(target, headerValueView(download.response.headers.value("Content-Language")));
    logSavedDownload(request, target);
    return target;
}

// What storeDownload does, with the dates and attributes written on the
// download through one descriptor before it moves into place with them: no
// path look-up per attribute and no hop to the blocking pool, and the file
// never shows in place without its attributes. False when any step fails or
// the move would cross file systems (a copy, for the blocking pool); the
// caller then takes storeDownload's way, which does every step again.
bool storeDownloadInPlace(const platform::HttpDownloadResult& download, const HttpRequest& request,
                          const std::filesystem::path& target) {
    const auto& temporary = download.temporaryFile;
    if (platform::validateSystemPath(temporary) || platform::validateSystemPath(target)) return false;
    const int descriptor = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const auto lastModified = lastModifiedOf(download);
    const auto contentLanguage = download.response.headers.value("Content-Language");
    const bool stamped = !platform::setModificationDate(descriptor, lastModified) &&
                         xattr_setValue(descriptor, cv_asHTTPDate(lastModified), CVFileAttributeLastModified) &&
                         xattr_setValue(descriptor, request.url, CVFileAttributeDownloadUrl) &&
                         xattr_setValue(descriptor, urlPath(request.url), CVFileAttributeApiEndpoint) &&
                         xattr_setDownloadDate(descriptor, std::chrono::system_clock::now()) &&
                         xattr_setValue(descriptor, headerValueView(contentLanguage), CVFileAttributeContentLanguage);
    if (::close(descriptor) != 0 || !stamped) return false;
    if (::rename(temporary.c_str(), target.c_str()) != 0) return false;
    logSavedDownload(request, target);
    return true;
}

// A JSON body serialised when the call is made, so the caller's object need
// not outlive the call; a value JSON cannot carry fails after the token wait,
// where the serialisation happens in the request's order of steps.
using SerialisedBody = std::variant<std::monostate, std::string, std::exception_ptr>;

bool holdsNonFiniteNumber(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::double_: return !std::isfinite(value.get_double());
        case boost::json::kind::array:
            for (const auto& element : value.get_array()) {
                if (holdsNonFiniteNumber(element)) return true;
            }
            return false;
        case boost::json::kind::object:
            for (const auto& member : value.get_object()) {
                if (holdsNonFiniteNumber(member.value())) return true;
            }
            return false;
        default: return false;
    }
}

SerialisedBody serialise(const boost::json::value* object) {
    if (!object) return std::monostate{};
    if (holdsNonFiniteNumber(*object)) {
        return std::make_exception_ptr(platform::NSErrorException(
            errorWithDescription("NSCocoaErrorDomain", 3840, "Invalid number value (NaN or infinity) in JSON write")));
    }
    return boost::json::serialize(*object);
}

Awaitable<CVDataProvider::DataResult> sendSerialised(SerialisedBody body, std::string url, std::string method,
                                                     std::optional<CVDataProvider::Headers> headers) {
    co_await CVDataProvider::waitForSessionToken();
    auto request = CVDataProvider::makeRequest(std::move(url));
    request.method = std::move(method);
    if (auto* error = std::get_if<std::exception_ptr>(&body)) std::rethrow_exception(*error);
    if (auto* json = std::get_if<std::string>(&body))
        request.body = std::vector<std::uint8_t>(json->begin(), json->end());
    addCallerHeaders(request, headers);
    addSessionTokenIfPresent(request);
    addJsonContentHeaders(request);
    auto result = co_await CVDataProvider::urlSession().data(std::move(request));
    co_return CVDataProvider::DataResult{std::move(result.body), std::move(result.response)};
}

// Completions are called on the working task, never on the main queue.
template <typename Result, typename Completion, typename Deliver>
void completeFromTask(Awaitable<Result> work, Completion completion, Deliver deliver) {
    if (!completion) {
        platform::Task::start([work = std::move(work)]() mutable { return std::move(work); });
        return;
    }
    platform::completeOn(
        platform::CompletionQueue::workingTask, std::move(work),
        [completion, deliver](Result result) mutable { deliver(completion, std::move(result)); },
        [completion](std::exception_ptr error) mutable { completion(std::nullopt, std::nullopt, error); });
}

// Never destroyed, as a request may use its session until the process ends.
// A test that builds a new one leaves the one before to what still uses it.
struct UrlSessions {
    std::mutex mutex;
    std::vector<std::unique_ptr<platform::HttpSession>> built;
    platform::HttpSession* current = nullptr;
};

UrlSessions& urlSessions() {
    static auto* const sessions = new UrlSessions();
    return *sessions;
}

std::unique_ptr<platform::HttpSession> makeUrlSession() {
    platform::HttpSession::Configuration configuration;
    if (auto proxy = CVAXAPI::sharedInstance()->proxySettings()) {
        configuration.proxy = platform::HttpProxy{proxy->host, proxy->port};
    }
    try {
        return std::make_unique<platform::HttpSession>(configuration);
    } catch (const std::invalid_argument& unusableProxy) {
        // A mistyped proxy in the environment must not take every request
        // down with it: go direct and say why.
        CVLog::core().error(std::string(unusableProxy.what()) + "; connecting without a proxy");
        configuration.proxy.reset();
        return std::make_unique<platform::HttpSession>(std::move(configuration));
    }
}

void completeWithData(Awaitable<CVDataProvider::DataResult> work, CVDataProvider::DataCompletion completion) {
    completeFromTask(std::move(work), std::move(completion),
                     [](CVDataProvider::DataCompletion& done, CVDataProvider::DataResult result) {
                         done(std::move(result.data), std::move(result.response), nullptr);
                     });
}

}  // namespace

platform::HttpSession& CVDataProvider::urlSession() {
    // Built once: a proxy configured after the first request has no effect.
    auto& sessions = urlSessions();
    std::lock_guard lock(sessions.mutex);
    if (sessions.current == nullptr) {
        sessions.built.push_back(makeUrlSession());
        sessions.current = sessions.built.back().get();
    }
    return *sessions.current;
}

void CVDataProvider::resetUrlSessionForTesting() {
    auto& sessions = urlSessions();
    std::lock_guard lock(sessions.mutex);
    sessions.current = nullptr;
}

HttpRequest CVDataProvider::makeRequest(std::string url) {
    HttpRequest request;
    request.url = std::move(url);
    request.method = "GET";
    request.timeout = std::chrono::seconds(60);
    request.headers.add("Ambrell-SDK-Version", "IOS/" + sdkVersion());
    if (auto accessToken = CVAXAPI::sharedInstance()->accessToken(); isPresent(accessToken)) {
        request.headers.add("Authorization", "Bearer " + *accessToken);
    }
    return request;
}

Awaitable<void> CVDataProvider::waitForSessionToken() {
    auto settings = CVAXAPI::sharedInstance();
    if (isPresent(settings->sessionToken())) co_return;
    for (;;) {
        co_await platform::sleep(kSessionTokenPollInterval);
        if (auto error = settings->sessionTokenRefreshError()) throw platform::NSErrorException(*error);
        if (isPresent(settings->sessionToken())) co_return;
    }
}

Awaitable<CVDataProvider::DataResult> CVDataProvider::data(std::string url, std::optional<std::string> ifModifiedSince,
                                                           std::optional<Headers> headers, bool waitForSessionToken) {
    auto request = makeRequest(std::move(url));
    addCallerHeaders(request, headers);
    if (ifModifiedSince) request.headers.add("If-Modified-Since", *ifModifiedSince);
    if (waitForSessionToken) {
        co_await CVDataProvider::waitForSessionToken();
    } else {
        request.timeout = kUnwaitedRequestTimeout;
    }
    addSessionTokenIfPresent(request);

    platform::HttpDataResult result;
    std::exception_ptr transportError;
    try {
        result = co_await urlSession().data(request);
    } catch (const platform::NSErrorException&) {
        transportError = std::current_exception();
    }
    if (transportError) {
        CVLog::core().error(describeForLog(request));
        std::rethrow_exception(transportError);
    }
    if (result.response.statusCode >= 400) {
        CVLog::core().error(describeForLog(request));
        throwForStatus(result.response.statusCode);
    }
    co_return DataResult{std::move(result.body), std::move(result.response)};
}

void CVDataProvider::data(std::string url, std::optional<std::string> ifModifiedSince, std::optional<Headers> headers,
                          bool waitForSessionToken, DataCompletion completion) {
    completeWithData(data(std::move(url), std::move(ifModifiedSince), std::move(headers), waitForSessionToken),
                     std::move(completion));
}

Awaitable<CVDataProvider::FileResult> CVDataProvider::downloadContents(std::string url, std::filesystem::path toFile,
                                                                       std::optional<std::string> ifModifiedSince) {
    // Only a known offline state refuses: before the first reachability
    // report the status is unknown, and downloads must not fail at start-up.
    const auto status = CVNetworkReachabilityManager::sharedManager()->networkReachabilityStatus();
    if (status == CVNetworkReachabilityStatusNotReachable) throw CVError(CVErrorCase::downloadFailed);

    auto request = makeRequest(std::move(url));
    // An explicit date wins over the stored one: the data-set size fetch
    // forces a full download this way.
    if (auto since = ifModifiedSince ? ifModifiedSince : xattr_lastModified(toFile)) {
        request.headers.add("If-Modified-Since", *since);
    }
    co_await waitForSessionToken();
    addSessionTokenIfPresent(request);

    auto folder = toFile.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);

    auto download = co_await urlSession().download(request, folder);
    const int statusCode = download.response.statusCode;
    if (statusCode >= 400) {
        removeQuietly(download.temporaryFile);
        throwForStatus(statusCode);
    }
    if (download.temporaryFile.empty()) throw CVError(CVErrorCase::requestFailed);
    if (statusCode >= 200 && statusCode <= 299) {
        if (storeDownloadInPlace(download, request, toFile)) {
            co_return FileResult{std::move(toFile), std::move(download.response)};
        }
        // A move across file systems copies the whole file: off the coroutine pool.
        auto stored = co_await platform::runBlocking([&] { return storeDownload(download, request, toFile); });
        co_return FileResult{std::move(stored), std::move(download.response)};
    }
    removeQuietly(download.temporaryFile);
    co_return FileResult{std::move(toFile), std::move(download.response)};
}

void CVDataProvider::downloadContents(std::string url, std::filesystem::path toFile,
                                      std::optional<std::string> ifModifiedSince, FileCompletion completion) {
    completeFromTask(downloadContents(std::move(url), std::move(toFile), std::move(ifModifiedSince)),
                     std::move(completion), [](FileCompletion& done, FileResult result) {
                         done(std::move(result.filePath), std::move(result.response), nullptr);
                     });
}

Awaitable<CVDataProvider::DataResult> CVDataProvider::uploadContentsofFile(std::filesystem::path filePath,
                                                                           std::string url) {
    auto request = makeRequest(std::move(url));
    request.method = "POST";
    addJsonContentHeaders(request);
    request.bodyFile = std::move(filePath);
    auto result = co_await urlSession().upload(std::move(request));
    co_return DataResult{std::move(result.body), std::move(result.response)};
}

void CVDataProvider::uploadContentsOfFile(std::filesystem::path filePath, std::string url, DataCompletion completion) {
    completeWithData(uploadContentsofFile(std::move(filePath), std::move(url)), std::move(completion));
}

Awaitable<CVDataProvider::DataResult> CVDataProvider::sendJsonObject(const boost::json::value* object, std::string url,
                                                                     std::string method,
                                                                     std::optional<Headers> headers) {
    return sendSerialised(serialise(object), std::move(url), std::move(method), std::move(headers));
}

Awaitable<CVDataProvider::DataResult> CVDataProvider::postJsonObject(const boost::json::value* object, std::string url,
                                                                     std::optional<Headers> headers) {
    return sendJsonObject(object, std::move(url), "POST", std::move(headers));
}

Awaitable<CVDataProvider::DataResult> CVDataProvider::deleteJsonObject(const boost::json::value* object,
                                                                       std::string url,
                                                                       std::optional<Headers> headers) {
    return sendJsonObject(object, std::move(url), "DELETE", std::move(headers));
}

void CVDataProvider::postJsonObject(const boost::json::value* object, std::string url, std::optional<Headers> headers,
                                    DataCompletion completion) {
    completeWithData(postJsonObject(object, std::move(url), std::move(headers)), std::move(completion));
}

void CVDataProvider::deleteJsonObject(const boost::json::value* object, std::string url, std::optional<Headers> headers,
                                      DataCompletion completion) {
    completeWithData(deleteJsonObject(object, std::move(url), std::move(headers)), std::move(completion));
}

}  // namespace ambrell

#include "platform/http/CurlTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Logger.h"
#include "platform/NSErrorException.h"
#include "platform/http/HttpErrors.h"

namespace ambrell::platform::detail {

namespace {

// As the platform: a redirect loop ends with an error rather than never.
constexpr long kMaximumRedirects = 16;

// Longer inactivity bounds count as this one: it never ends a transfer in
// practice, and keeps the deadline and millisecond arithmetic from overflowing.
constexpr std::chrono::seconds kLongestTimeout = std::chrono::hours(24 * 365);

const Logger& logger() {
    static const auto* const instance = new Logger("platform");
    return *instance;
}

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar); }

bool isValidHeaderValue(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// libcurl parses the URL itself; what it would read differently from the
// caller's text (a truncating NUL, line breaks, spaces) is refused here.
bool isPlausibleUrl(std::string_view text) {
    return !text.empty() && std::none_of(text.begin(), text.end(),
                                         [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; });
}

bool hasScheme(std::string_view url, std::string_view scheme) {
    return url.size() >= scheme.size() && headerNamesEqual(url.substr(0, scheme.size()), scheme);
}

bool isHttpUrl(std::string_view url) { return hasScheme(url, "http://"); }

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string systemErrorText(int error) { return std::strerror(error); }

constexpr std::string_view kDownloadFilePrefix = "ambrell-download-";
constexpr std::string_view kDownloadFileSuffix = ".tmp";

std::int64_t openErrorCode(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return NSURLErrorFileDoesNotExist;
        case EACCES:
        case EPERM: return NSURLErrorNoPermissionsToReadFile;
        case EISDIR: return NSURLErrorFileIsDirectory;
        default: return NSURLErrorCannotOpenFile;
    }
}

}  // namespace

CurlTransfer::CurlTransfer(std::uint64_t id, Kind kind, HttpRequest request, std::filesystem::path temporaryFolder,
                           Completion completion)
    : id_(id),
      kind_(kind),
      request_(std::move(request)),
      temporaryFolder_(std::move(temporaryFolder)),
      completion_(std::move(completion)) {}

CurlTransfer::~CurlTransfer() {
    closeFiles();
    discardDownloadFile();
    if (handle_ != nullptr) curl_easy_cleanup(handle_);
    if (headerList_ != nullptr) curl_slist_free_all(headerList_);
}

NSError CurlTransfer::error(std::int64_t code, std::string description) const {
    return makeURLError(code, std::move(description), currentUrl());
}

void CurlTransfer::prepare(const std::optional<std::string>& httpProxyUrl) {
    lastActivity_ = Clock::now();
    if (!isPlausibleUrl(request_.url)) {
        throw NSErrorException(error(NSURLErrorBadURL, "Malformed URL \"" + request_.url + "\""));
    }
    // libcurl would guess a scheme for "example.com/path"; the platform does not.
    if (!isHttpUrl(request_.url) && !hasScheme(request_.url, "https://")) {
        throw NSErrorException(error(NSURLErrorUnsupportedURL, "Unsupported URL \"" + request_.url + "\""));
    }
    if (!isToken(request_.method)) {
        throw NSErrorException(error(NSURLErrorUnknown, "Invalid HTTP method \"" + request_.method + "\""));
    }
    if (request_.timeout.count() <= 0) {
        throw NSErrorException(error(NSURLErrorUnknown, "The timeout must be positive, not " +
                                                            std::to_string(request_.timeout.count()) + " seconds"));
    }
    request_.timeout = std::min(request_.timeout, kLongestTimeout);
    if (kind_ == Kind::upload && request_.body) {
        throw NSErrorException(error(NSURLErrorUnknown, "An upload streams its body file; it cannot also have a body"));
    }
    if (kind_ != Kind::upload && request_.bodyFile) {
        throw NSErrorException(error(NSURLErrorUnknown, "Only an upload streams a body file"));
    }

    handle_ = curl_easy_init();
    if (handle_ == nullptr) throw NSErrorException(error(NSURLErrorUnknown, "libcurl could not create a transfer"));
    auto require = [&](CURLcode code) {
        if (code != CURLE_OK) throw NSErrorException(error(urlErrorCode(code), curl_easy_strerror(code)));
    };
    require(curl_easy_setopt(handle_, CURLOPT_PRIVATE, this));
    require(curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorText_));
    require(curl_easy_setopt(handle_, CURLOPT_URL, request_.url.c_str()));
    require(curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, "http,https"));
    require(curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    require(curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L));
    require(curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L));
    require(curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, kMaximumRedirects));
    // Content codings the server chooses are undone, as the platform does.
    require(curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, ""));
    // Connecting has the same bound as any other silence; the total time has
    // none (see HttpRequest::timeout), the session watches activity itself.
    require(curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request_.timeout.count() * 1000)));
    // Only the configured proxy applies, never the environment's, and only
    // to http:// URLs.
    const std::string proxy = (httpProxyUrl && isHttpUrl(request_.url)) ? *httpProxyUrl : std::string();
    require(curl_easy_setopt(handle_, CURLOPT_PROXY, proxy.c_str()));
    require(curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader));
    require(curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this));
    require(curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBody));
    require(curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this));

    configureHeaders();
    if (kind_ == Kind::upload) openBodyFile();
    configureMethodAndBody();
    if (kind_ == Kind::download) createDownloadFile();
}

void CurlTransfer::configureHeaders() {
    for (const auto& field : request_.headers) {
        if (!isToken(field.name)) {
            throw NSErrorException(error(NSURLErrorUnknown, "Invalid header name \"" + field.name + "\""));
        }
        if (!isValidHeaderValue(field.value)) {
            throw NSErrorException(
                error(NSURLErrorUnknown, "The value of header \"" + field.name + "\" contains a line break or NUL"));
        }
    }
    auto append = [&](const std::string& line) {
        curl_slist* list = curl_slist_append(headerList_, line.c_str());
        if (list == nullptr) throw NSErrorException(error(NSURLErrorUnknown, "Out of memory for the request headers"));
        headerList_ = list;
    };
    std::vector<std::string_view> suppressed;
    for (const auto& field : request_.headers) {
        if (!field.value.empty()) {
            append(field.name + ": " + field.value);
            continue;
        }
        // libcurl drops "Name:" (that form removes a header of its own), but
        // sends "Name;" as an empty header. Its own header of that name (an
        // "Accept: */*", say) is removed first, so the two never clash.
        const bool alreadySuppressed = std::any_of(suppressed.begin(), suppressed.end(), [&](std::string_view name) {
            return headerNamesEqual(name, field.name);
        });
        if (!alreadySuppressed) {
            append(field.name + ":");
            suppressed.push_back(field.name);
        }
        append(field.name + ";");
    }
    if (headerList_ != nullptr && curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headerList_) != CURLE_OK) {
        throw NSErrorException(error(NSURLErrorUnknown, "libcurl refused the request headers"));
    }
}

void CurlTransfer::configureMethodAndBody() {
    const std::string& method = request_.method;
    CURLcode code = CURLE_OK;
    auto set = [&](auto option, auto value) {
        if (code == CURLE_OK) code = curl_easy_setopt(handle_, option, value);
    };
    if (kind_ == Kind::upload) {
        set(CURLOPT_POST, 1L);
        set(CURLOPT_READFUNCTION, &CurlTransfer::onRead);
        set(CURLOPT_READDATA, this);
        // A body libcurl must send again (a reused connection that turned
        // out closed, a 307 redirect) is read again from the start.
        set(CURLOPT_SEEKFUNCTION, &CurlTransfer::onSeek);
        set(CURLOPT_SEEKDATA, this);
        set(CURLOPT_POSTFIELDSIZE_LARGE, bodyFileSize_);
        if (method != "POST") set(CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (request_.body) {
        const auto& body = *request_.body;
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        // An empty body still needs a valid pointer, or libcurl sends none.
        set(CURLOPT_POSTFIELDS, body.empty() ? "" : reinterpret_cast<const char*>(body.data()));
        if (method != "POST") set(CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "GET") {
        set(CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        set(CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        set(CURLOPT_POSTFIELDS, "");
    } else {
        set(CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    if (code != CURLE_OK) throw NSErrorException(error(urlErrorCode(code), curl_easy_strerror(code)));
}

void CurlTransfer::openBodyFile() {
    if (!request_.bodyFile) throw NSErrorException(error(NSURLErrorFileDoesNotExist, "The upload names no body file"));
    const std::string path = request_.bodyFile->string();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int failure = errno;
        throw NSErrorException(error(openErrorCode(failure), "Cannot read " + path + ": " + systemErrorText(failure)));
    }
    bodyFile_ = fd;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int failure = errno;
        throw NSErrorException(
            error(NSURLErrorCannotOpenFile, "Cannot read " + path + ": " + systemErrorText(failure)));
    }
    if (S_ISDIR(status.st_mode)) {
        throw NSErrorException(error(NSURLErrorFileIsDirectory, "Cannot upload " + path + ": it is a folder"));
    }
    if (!S_ISREG(status.st_mode)) {
        throw NSErrorException(error(NSURLErrorCannotOpenFile, "Cannot upload " + path + ": not a regular file"));
    }
    bodyFileSize_ = static_cast<curl_off_t>(status.st_size);
}

void CurlTransfer::createDownloadFile() {
    if (temporaryFolder_.empty()) {
        throw NSErrorException(error(NSURLErrorCannotCreateFile, "The download names no temporary folder"));
    }
    std::string pattern = (temporaryFolder_ / (std::string(kDownloadFilePrefix) + "XXXXXX")).string();
    pattern += kDownloadFileSuffix;
    const int fd = ::mkostemps(pattern.data(), static_cast<int>(kDownloadFileSuffix.size()), O_CLOEXEC);
    if (fd < 0) {
        const int failure = errno;
        throw NSErrorException(
            error(NSURLErrorCannotCreateFile,
                  "Cannot create a file in " + temporaryFolder_.string() + ": " + systemErrorText(failure)));
    }
    downloadFile_ = fd;
    downloadPath_ = pattern;
}

size_t CurlTransfer::onHeader(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    try {
        transfer.lastActivity_ = Clock::now();
        const std::string_view line(data, length);
        // Every response (a redirect, a 100 Continue, a proxy's answer to
        // CONNECT) begins with its status line; only the last one's fields count.
        if (line.starts_with("HTTP/")) {
            transfer.responseFields_.clear();
            return length;
        }
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            // An obsolete folded line continues the previous field.
            const auto continuation = trim(line);
            if (transfer.responseFields_.empty() || continuation.empty()) return length;
            transfer.responseFields_.back().value += ' ';
            transfer.responseFields_.back().value += continuation;
            return length;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) return length;
        transfer.responseFields_.push_back(
            HttpHeaderField{std::string(trim(line.substr(0, colon))), std::string(trim(line.substr(colon + 1)))});
        return length;
    } catch (...) {
        return 0;  // libcurl fails the transfer
    }
}

size_t CurlTransfer::onBody(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const size_t length = size * count;
    transfer.lastActivity_ = Clock::now();
    if (transfer.kind_ != Kind::download) {
        try {
            transfer.body_.insert(transfer.body_.end(), data, data + length);
            return length;
        } catch (...) {  // nothing may unwind into libcurl
            transfer.fileErrno_ = ENOMEM;
            return 0;
        }
    }
    size_t written = 0;
    while (written < length) {
        const ssize_t result = ::write(transfer.downloadFile_, data + written, length - written);
        if (result < 0) {
            if (errno == EINTR) continue;
            transfer.fileErrno_ = errno;
            return 0;
        }
        written += static_cast<size_t>(result);
    }
    return length;
}

size_t CurlTransfer::onRead(char* buffer, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    transfer.lastActivity_ = Clock::now();
    for (;;) {
        const ssize_t result = ::read(transfer.bodyFile_, buffer, size * count);
        if (result >= 0) return static_cast<size_t>(result);
        if (errno == EINTR) continue;
        transfer.fileErrno_ = errno;
        return CURL_READFUNC_ABORT;
    }
}

int CurlTransfer::onSeek(void* self, curl_off_t offset, int origin) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    return ::lseek(transfer.bodyFile_, static_cast<off_t>(offset), origin) < 0 ? CURL_SEEKFUNC_CANTSEEK
                                                                               : CURL_SEEKFUNC_OK;
}

std::string CurlTransfer::currentUrl() const {
    char* url = nullptr;
    if (handle_ != nullptr && curl_easy_getinfo(handle_, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url != nullptr &&
        *url != '\0') {
        return url;
    }
    return request_.url;
}

HttpResponse CurlTransfer::response() const {
    long status = 0;
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
    HttpHeaders headers;
    for (const auto& field : responseFields_) headers.add(field.name, field.value);
    return HttpResponse{static_cast<int>(status), currentUrl(), std::move(headers)};
}

template <typename Result>
void CurlTransfer::deliver(TaskResult<Result> result) {
    if (std::exchange(completed_, true)) return;
    try {
        auto& completion = std::get<std::function<void(TaskResult<Result>)>>(completion_);
        if (completion) completion(std::move(result));
    } catch (const std::exception& error) {
        logger().error("An HTTP completion handler threw: {}", error.what());
    } catch (...) {
        logger().error("An HTTP completion handler threw");
    }
}

void CurlTransfer::finish(CURLcode result) {
    if (result == CURLE_OK) {
        if (kind_ != Kind::download) {
            deliver(TaskResult<HttpDataResult>::success(HttpDataResult{std::move(body_), response()}));
            return;
        }
        // Created private (0600); handed over with the usual permissions.
        const int fd = std::exchange(downloadFile_, -1);
        const bool madeReadable = ::fchmod(fd, 0644) == 0;
        const int chmodErrno = errno;
        const bool closed = ::close(fd) == 0;
        if (!madeReadable || !closed) {
            const int failure = !madeReadable ? chmodErrno : errno;
            fail(error(NSURLErrorCannotWriteToFile,
                       "Cannot finish " + downloadPath_.string() + ": " + systemErrorText(failure)));
            return;
        }
        auto path = std::exchange(downloadPath_, std::filesystem::path());
        deliver(TaskResult<HttpDownloadResult>::success(HttpDownloadResult{std::move(path), response()}));
        return;
    }

    long osErrno = 0;
    curl_easy_getinfo(handle_, CURLINFO_OS_ERRNO, &osErrno);
    std::int64_t code = urlErrorCode(result, static_cast<int>(osErrno));
    std::string description = errorText_[0] != '\0' ? std::string(errorText_) : std::string(curl_easy_strerror(result));
    if (result == CURLE_WRITE_ERROR && fileErrno_ != 0) {
        if (kind_ == Kind::download) {
            description = "Cannot write " + downloadPath_.string() + ": " + systemErrorText(fileErrno_);
        } else {
            code = NSURLErrorDataLengthExceedsMaximum;
            description = "The response body does not fit in memory";
        }
    } else if (result == CURLE_ABORTED_BY_CALLBACK && fileErrno_ != 0) {
        code = NSURLErrorUnknown;
        description = "Cannot read " + request_.bodyFile->string() + ": " + systemErrorText(fileErrno_);
    }
    fail(error(code, std::move(description)));
}

void CurlTransfer::fail(const NSError& error) { fail(std::make_exception_ptr(NSErrorException(error))); }

void CurlTransfer::fail(std::exception_ptr error) {
    closeFiles();
    discardDownloadFile();
    if (std::holds_alternative<HttpSession::DownloadCompletion>(completion_)) {
        deliver(TaskResult<HttpDownloadResult>::failure(std::move(error)));
    } else {
        deliver(TaskResult<HttpDataResult>::failure(std::move(error)));
    }
}

void CurlTransfer::closeFiles() noexcept {
    if (bodyFile_ >= 0) ::close(std::exchange(bodyFile_, -1));
    if (downloadFile_ >= 0) ::close(std::exchange(downloadFile_, -1));
}

void CurlTransfer::discardDownloadFile() noexcept {
    if (downloadPath_.empty()) return;
    ::unlink(downloadPath_.c_str());
    downloadPath_.clear();
}

}  // namespace ambrell::platform::detail

namespace ambrell::platform {

bool isDownloadFileName(std::string_view fileName) {
    return fileName.starts_with(detail::kDownloadFilePrefix) && fileName.ends_with(detail::kDownloadFileSuffix);
}

}  // namespace ambrell::platform

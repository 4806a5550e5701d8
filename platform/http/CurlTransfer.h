#pragma once

// Internal to platform/http: one request on a libcurl easy handle.

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Error.h"
#include "platform/http/HttpSession.h"
#include "platform/http/HttpTypes.h"

namespace ambrell::platform::detail {

// One request from preparation to its single completion. Lives on the
// network thread only, apart from construction.
class CurlTransfer {
public:
    using Clock = std::chrono::steady_clock;
    using Completion = std::variant<HttpSession::DataCompletion, HttpSession::DownloadCompletion>;
    enum class Kind { data, download, upload };

    // A download names its temporary folder and has a DownloadCompletion; the
    // other kinds have a DataCompletion.
    CurlTransfer(std::uint64_t id, Kind kind, HttpRequest request, std::filesystem::path temporaryFolder,
                 Completion completion);
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    [[nodiscard]] std::uint64_t id() const { return id_; }
    [[nodiscard]] CURL* handle() const { return handle_; }

    // Checks the request, opens the upload file or creates the download file,
    // and sets up the easy handle. Throws NSErrorException when the request
    // cannot be made; nothing has been sent then.
    void prepare(const std::optional<std::string>& httpProxyUrl);

    // When the request fails for lack of activity, as of now.
    [[nodiscard]] Clock::time_point idleDeadline() const { return lastActivity_ + request_.timeout; }
    [[nodiscard]] std::chrono::seconds timeout() const { return request_.timeout; }

    // Ends the transfer with libcurl's result; calls the completion.
    void finish(CURLcode result);
    // Ends the transfer with an error of its own; calls the completion.
    void fail(const NSError& error);
    void fail(std::exception_ptr error);
    [[nodiscard]] NSError error(std::int64_t code, std::string description) const;

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* buffer, size_t size, size_t count, void* self);
    static int onSeek(void* self, curl_off_t offset, int origin);

    void configureMethodAndBody();
    void configureHeaders();
    void openBodyFile();
    void createDownloadFile();
    void closeFiles() noexcept;
    void discardDownloadFile() noexcept;
    [[nodiscard]] HttpResponse response() const;
    [[nodiscard]] std::string currentUrl() const;
    template <typename Result>
    void deliver(TaskResult<Result> result);

    std::uint64_t id_;
    Kind kind_;
    HttpRequest request_;
    std::filesystem::path temporaryFolder_;
    Completion completion_;
    bool completed_ = false;

    CURL* handle_ = nullptr;
    curl_slist* headerList_ = nullptr;
    char errorText_[CURL_ERROR_SIZE] = {};
    Clock::time_point lastActivity_ = Clock::now();

    std::vector<HttpHeaderField> responseFields_;
    std::vector<std::uint8_t> body_;
    int bodyFile_ = -1;
    curl_off_t bodyFileSize_ = 0;
    int downloadFile_ = -1;
    std::filesystem::path downloadPath_;
    // The system error that stopped writing the download or reading the upload.
    int fileErrno_ = 0;
};

}  // namespace ambrell::platform::detail

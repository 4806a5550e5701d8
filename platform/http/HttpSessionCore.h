#pragma once

// Internal to platform/http: the network thread of an HttpSession and the
// libcurl multi handle it drives.

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/CurlTransfer.h"
#include "platform/http/HttpSession.h"

namespace ambrell::platform::detail {

class HttpSessionCore : public std::enable_shared_from_this<HttpSessionCore> {
public:
    // Starts the network thread; `httpProxyUrl` is applied to http:// URLs.
    static std::shared_ptr<HttpSessionCore> start(std::optional<std::string> httpProxyUrl);
    ~HttpSessionCore();
    HttpSessionCore(const HttpSessionCore&) = delete;
    HttpSessionCore& operator=(const HttpSessionCore&) = delete;

    // Hands a transfer to the network thread. After stop() the transfer is
    // cancelled at once, on the calling thread.
    HttpTransferHandle submit(CurlTransfer::Kind kind, HttpRequest request, std::filesystem::path temporaryFolder,
                              CurlTransfer::Completion completion);
    void cancel(std::uint64_t id);
    // Aborts every transfer and ends the network thread; waits for it, and so
    // for every cancelled completion, unless called on it.
    void stop();

private:
    explicit HttpSessionCore(std::optional<std::string> httpProxyUrl);
    void run();
    void takeCommands(bool& stopping);
    void remove(CurlTransfer& transfer);
    void collectFinished();
    void expireIdle();
    [[nodiscard]] int pollTimeoutMilliseconds() const;
    void cancelAll(std::vector<std::unique_ptr<CurlTransfer>> transfers);

    const std::optional<std::string> httpProxyUrl_;
    CURLM* multi_ = nullptr;
    std::atomic<std::uint64_t> nextId_{1};
    std::thread thread_;
    // Set before any transfer can reach the thread, and never changed.
    std::thread::id networkThread_;
    std::mutex joinMutex_;

    std::mutex mutex_;
    // Guarded by mutex_.
    std::vector<std::unique_ptr<CurlTransfer>> incoming_;
    std::vector<std::uint64_t> cancelled_;
    bool stopRequested_ = false;
    // Set once the multi handle is gone: nothing may wake it any more.
    bool closed_ = false;

    // Network thread only.
    std::map<std::uint64_t, std::unique_ptr<CurlTransfer>> active_;
};

}  // namespace ambrell::platform::detail

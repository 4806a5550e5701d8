#include "platform/http/HttpSessionCore.h"

#include <openssl/crypto.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <stdexcept>

#include "platform/NSErrorException.h"
#include "platform/http/HttpErrors.h"

namespace ambrell::platform::detail {

namespace {

// Bounds each wait of the network thread, so a clock step or a missed
// wake-up costs at most this much.
constexpr int kLongestPollMilliseconds = 1000;

// OpenSSL keeps per-thread state that it frees only when the thread says it
// stops; threads that end (pool threads at shutdown, network threads) would
// otherwise leak it.
void releaseThreadCryptoState() { OPENSSL_thread_stop(); }

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        // On a thread of its own, whose OpenSSL state ends with it.
        CURLcode result = CURLE_FAILED_INIT;
        std::thread([&result] {
            result = curl_global_init(CURL_GLOBAL_DEFAULT);
            releaseThreadCryptoState();
        }).join();
        if (result != CURLE_OK) throw std::runtime_error("curl_global_init failed");
    });
}

NSError cancelledError(const CurlTransfer& transfer) { return transfer.error(NSURLErrorCancelled, "cancelled"); }

}  // namespace

std::shared_ptr<HttpSessionCore> HttpSessionCore::start(std::optional<std::string> httpProxyUrl) {
    initialiseCurlOnce();
    std::shared_ptr<HttpSessionCore> core(new HttpSessionCore(std::move(httpProxyUrl)));
    // The thread keeps the core alive, so a session destroyed from one of its
    // own completions does not pull the loop out from under itself.
    core->thread_ = std::thread([core] {
        pthread_setname_np(pthread_self(), "ambrell-http");
        core->run();
        releaseThreadCryptoState();
    });
    core->networkThread_ = core->thread_.get_id();
    return core;
}

HttpSessionCore::HttpSessionCore(std::optional<std::string> httpProxyUrl) : httpProxyUrl_(std::move(httpProxyUrl)) {
    multi_ = curl_multi_init();
    if (multi_ == nullptr) throw std::runtime_error("curl_multi_init failed");
}

HttpSessionCore::~HttpSessionCore() {
    if (thread_.joinable()) thread_.detach();  // only when the last owner was the thread itself
}

HttpTransferHandle HttpSessionCore::submit(CurlTransfer::Kind kind, HttpRequest request,
                                           std::filesystem::path temporaryFolder, CurlTransfer::Completion completion) {
    const std::uint64_t id = nextId_++;
    auto transfer =
        std::make_unique<CurlTransfer>(id, kind, std::move(request), std::move(temporaryFolder), std::move(completion));
    {
        std::lock_guard lock(mutex_);
        if (!closed_) {
            incoming_.push_back(std::move(transfer));
            curl_multi_wakeup(multi_);
            return HttpTransferHandle(weak_from_this(), id);
        }
    }
    transfer->fail(cancelledError(*transfer));
    return {};
}

void HttpSessionCore::cancel(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    cancelled_.push_back(id);
    curl_multi_wakeup(multi_);
}

void HttpSessionCore::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!closed_) {
            stopRequested_ = true;
            curl_multi_wakeup(multi_);
        }
    }
    // A completion that stops the session runs on the network thread, which
    // cannot wait for itself; nor may it wait for the lock of a caller who
    // waits for it.
    if (std::this_thread::get_id() == networkThread_) return;
    // The runtime's shutdown and the session's destructor may both stop it:
    // whichever comes second, even while the first one's cancelled
    // completions are still being called, waits for the thread too.
    std::lock_guard join(joinMutex_);
    if (thread_.joinable()) thread_.join();
}

void HttpSessionCore::run() {
    for (;;) {
        bool stopping = false;
        takeCommands(stopping);
        if (stopping) break;
        int running = 0;
        curl_multi_perform(multi_, &running);
        collectFinished();
        expireIdle();
        curl_multi_poll(multi_, nullptr, 0, pollTimeoutMilliseconds(), nullptr);
    }

    std::vector<std::unique_ptr<CurlTransfer>> leftovers;
    for (auto& [id, transfer] : active_) {
        remove(*transfer);
        leftovers.push_back(std::move(transfer));
    }
    active_.clear();
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (auto& transfer : incoming_) leftovers.push_back(std::move(transfer));
        incoming_.clear();
    }
    cancelAll(std::move(leftovers));
    curl_multi_cleanup(multi_);
    multi_ = nullptr;
}

void HttpSessionCore::takeCommands(bool& stopping) {
    std::vector<std::unique_ptr<CurlTransfer>> incoming;
    std::vector<std::uint64_t> cancelled;
    {
        std::lock_guard lock(mutex_);
        incoming.swap(incoming_);
        cancelled.swap(cancelled_);
        stopping = stopRequested_;
    }
    for (auto& transfer : incoming) {
        if (stopping) {
            transfer->fail(cancelledError(*transfer));
            continue;
        }
        try {
            transfer->prepare(httpProxyUrl_);
            const CURLMcode added = curl_multi_add_handle(multi_, transfer->handle());
            if (added != CURLM_OK) {
                transfer->fail(transfer->error(NSURLErrorUnknown, curl_multi_strerror(added)));
                continue;
            }
            const auto id = transfer->id();
            active_.emplace(id, std::move(transfer));
        } catch (const NSErrorException& error) {
            // A fresh copy, not the exception in flight: that one is freed
            // here as the catch ends, while the completion's side may still
            // be reading the error.
            transfer->fail(error.error());
        } catch (...) {
            transfer->fail(std::current_exception());
        }
    }
    for (const auto id : cancelled) {
        const auto found = active_.find(id);
        if (found == active_.end()) continue;  // already ended
        auto transfer = std::move(found->second);
        active_.erase(found);
        remove(*transfer);
        transfer->fail(cancelledError(*transfer));
    }
}

void HttpSessionCore::remove(CurlTransfer& transfer) {
    // The connection stays in the multi handle's pool for the next request.
    curl_multi_remove_handle(multi_, transfer.handle());
}

void HttpSessionCore::collectFinished() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        char* priv = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &priv);
        const auto* finished = reinterpret_cast<const CurlTransfer*>(priv);
        const CURLcode result = message->data.result;
        if (finished == nullptr) continue;
        const auto found = active_.find(finished->id());
        if (found == active_.end()) continue;
        auto transfer = std::move(found->second);
        active_.erase(found);
        remove(*transfer);  // invalidates `message`
        transfer->finish(result);
    }
}

void HttpSessionCore::expireIdle() {
    const auto now = CurlTransfer::Clock::now();
    for (auto entry = active_.begin(); entry != active_.end();) {
        if (entry->second->idleDeadline() > now) {
            ++entry;
            continue;
        }
        auto transfer = std::move(entry->second);
        entry = active_.erase(entry);
        remove(*transfer);
        transfer->fail(transfer->error(NSURLErrorTimedOut, "Operation timed out: no data moved for " +
                                                               std::to_string(transfer->timeout().count()) +
                                                               " seconds"));
    }
}

int HttpSessionCore::pollTimeoutMilliseconds() const {
    long curlTimeout = -1;
    curl_multi_timeout(multi_, &curlTimeout);
    long timeout = (curlTimeout < 0) ? kLongestPollMilliseconds : std::min<long>(curlTimeout, kLongestPollMilliseconds);
    const auto now = CurlTransfer::Clock::now();
    for (const auto& [id, transfer] : active_) {
        const auto untilIdle =
            std::chrono::duration_cast<std::chrono::milliseconds>(transfer->idleDeadline() - now).count();
        timeout = std::min<long>(timeout, std::max<long>(0, static_cast<long>(untilIdle) + 1));
    }
    return static_cast<int>(timeout);
}

void HttpSessionCore::cancelAll(std::vector<std::unique_ptr<CurlTransfer>> transfers) {
    for (auto& transfer : transfers) transfer->fail(cancelledError(*transfer));
}

}  // namespace ambrell::platform::detail

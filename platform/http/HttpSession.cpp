#include "platform/http/HttpSession.h"

#include <boost/asio/this_coro.hpp>

#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <utility>

#include "platform/NSErrorException.h"
#include "platform/http/HttpErrors.h"
#include "platform/http/HttpSessionCore.h"
#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Continuation.h"

namespace ambrell::platform {

namespace {

using detail::CurlTransfer;
using detail::HttpSessionCore;

// The platform's default port for a plain HTTP proxy named without one.
constexpr std::int32_t kDefaultProxyPort = 80;

std::optional<std::string> proxyUrl(const std::optional<HttpProxy>& proxy) {
    if (!proxy || proxy->host.empty()) return std::nullopt;
    const std::string& host = proxy->host;
    if (host.find_first_of(" \t\r\n/@?#") != std::string::npos) {
        throw std::invalid_argument("Unusable HTTP proxy host \"" + host + "\"");
    }
    const std::int32_t port = (proxy->port && *proxy->port > 0) ? *proxy->port : kDefaultProxyPort;
    if (port > 65535) throw std::invalid_argument("Unusable HTTP proxy port " + std::to_string(port));
    // An IPv6 address needs its brackets in a URL.
    const bool bareIpv6 = host.find(':') != std::string::npos && host.front() != '[';
    return "http://" + (bareIpv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// A transfer that ended after its awaiting task gave up on it leaves nothing
// behind.
void discard(HttpDataResult&) {}
void discard(HttpDownloadResult& result) {
    std::error_code ignored;
    std::filesystem::remove(result.temporaryFile, ignored);
}

// The error of a transfer that the session aborted as it stopped (or that a
// handle cancelled).
bool endedAsCancelledTransfer(const std::exception_ptr& error) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const NSErrorException& failure) {
        return failure.error().domain == NSURLErrorDomain && failure.error().code == NSURLErrorCancelled;
    } catch (...) {
        return false;
    }
}

// Holds the core, not the session: a session destroyed before the
// awaitable starts then cancels it rather than dangling.
template <typename Result>
Awaitable<Result> awaitTransfer(std::shared_ptr<HttpSessionCore> core, CurlTransfer::Kind kind, HttpRequest request,
                                std::filesystem::path temporaryFolder) {
    co_await checkCancellation();
    auto turn = co_await Continuation::makeForCurrentExecutor();
    auto outcome = std::make_shared<std::optional<TaskResult<Result>>>();
    std::function<void(TaskResult<Result>)> completion = [turn, outcome](TaskResult<Result> result) mutable {
        *outcome = std::move(result);
        // The awaiting side alone owns the result from here, so it is also
        // destroyed there rather than on the network thread.
        outcome.reset();
        std::exchange(turn, nullptr)->resume();
    };
    const HttpTransferHandle handle =
        core->submit(kind, std::move(request), std::move(temporaryFolder), std::move(completion));
    const bool ended = co_await turn->waitInterruptibly();
    if (!ended) {
        handle.cancel();
        co_await turn->waitIgnoringCancellation();
        if ((*outcome)->hasValue()) discard((*outcome)->get());
        throw CancellationError();
    }
    // The runtime's shutdown cancels the awaiting task and stops the session,
    // and either may reach the task first: it sees its cancellation either way.
    if (endedAsCancelledTransfer((*outcome)->error()) && Runtime::shared().isShuttingDown()) {
        throw CancellationError();
    }
    co_return std::move((*outcome)->get());
}

}  // namespace

void HttpTransferHandle::cancel() const {
    if (auto core = core_.lock()) core->cancel(id_);
}

HttpSession::HttpSession() : HttpSession(Configuration{}) {}

HttpSession::HttpSession(Configuration configuration)
    : configuration_(std::move(configuration)),
      core_(HttpSessionCore::start(proxyUrl(configuration_.proxy))),
      stopAtShutdown_(Runtime::shared().registerService([core = std::weak_ptr<HttpSessionCore>(core_)] {
          if (auto running = core.lock()) running->stop();
      })) {}

HttpSession::~HttpSession() { core_->stop(); }

HttpTransferHandle HttpSession::data(HttpRequest request, DataCompletion completion) {
    return core_->submit(CurlTransfer::Kind::data, std::move(request), {}, std::move(completion));
}

HttpTransferHandle HttpSession::download(HttpRequest request, std::filesystem::path temporaryFolder,
                                         DownloadCompletion completion) {
    return core_->submit(CurlTransfer::Kind::download, std::move(request), std::move(temporaryFolder),
                         std::move(completion));
}

HttpTransferHandle HttpSession::upload(HttpRequest request, DataCompletion completion) {
    return core_->submit(CurlTransfer::Kind::upload, std::move(request), {}, std::move(completion));
}

Awaitable<HttpDataResult> HttpSession::data(HttpRequest request) {
    return awaitTransfer<HttpDataResult>(core_, CurlTransfer::Kind::data, std::move(request), {});
}

Awaitable<HttpDownloadResult> HttpSession::download(HttpRequest request, std::filesystem::path temporaryFolder) {
    return awaitTransfer<HttpDownloadResult>(core_, CurlTransfer::Kind::download, std::move(request),
                                             std::move(temporaryFolder));
}

Awaitable<HttpDataResult> HttpSession::upload(HttpRequest request) {
    return awaitTransfer<HttpDataResult>(core_, CurlTransfer::Kind::upload, std::move(request), {});
}

}  // namespace ambrell::platform

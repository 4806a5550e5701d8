// HTTP sessions racing with the runtime's shutdown. A process shuts its runtime
// down once, so each run is a child process of its own, forked afresh.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "platform/Error.h"
#include "platform/NSErrorException.h"
#include "platform/http/HttpErrors.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/Task.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/ChildTest.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

using namespace std::chrono_literals;

// A run that does not end by then has hung.
constexpr auto kSessionRunBound = 20s;
// Each run races dozens of transfers with its one shutdown, so these runs
// race well over a thousand.
constexpr int kShutdownRuns = 50;

// A loopback port that takes connections into its backlog and never answers:
// every request to it stays in flight until cancelled.
class SilentListener {
public:
    SilentListener() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(socket_, 512) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() {
        if (socket_ >= 0) ::close(socket_);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    [[nodiscard]] bool listening() const { return port_ != 0; }
    [[nodiscard]] std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/silent"; }

private:
    int socket_;
    int port_ = 0;
};

int failSessionRun(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

// What the completions of one session share; freed as soon as the session's
// destructor has returned, as a caller of it may.
struct CompletionTally {
    std::atomic<int> calls{0};
    std::atomic<bool> begun{false};
};

int destroyTheSessionWhileTheShutdownCancelsItsTransfers(int run) {
    constexpr int kTransfers = 32;
    SilentListener listener;
    if (!listener.listening()) return failSessionRun("no loopback port to listen on");
    auto tally = std::make_unique<CompletionTally>();
    auto session = std::make_unique<HttpSession>();
    for (int i = 0; i < kTransfers; ++i) {
        session->data(requestFor(listener.url()), [shared = tally.get(), run](const TaskResult<HttpDataResult>&) {
            shared->begun = true;
            // Takes a little while, so the destructor comes while they run.
            test::spinFor(run + 350);
            ++shared->calls;
        });
    }
    std::thread shutdown([] { Runtime::shared().shutdown(); });
    if (!test::waitFor([&] { return tally->begun.load(); })) return failSessionRun("no completion was called");
    session.reset();
    const int calledBeforeTheEnd = tally->calls;
    tally.reset();
    shutdown.join();
    if (calledBeforeTheEnd != kTransfers) {
        std::fprintf(stderr, "%d of %d completions had run when the session's destructor returned\n",
                     calledBeforeTheEnd, kTransfers);
        return 1;
    }
    return 0;
}

enum class TransferEnd { cancellationError, cancelledUrlError, otherError, answered };

int awaitTransfersThroughTheShutdown(int /*run*/) {
    constexpr int kTasks = 48;
    SilentListener listener;
    if (!listener.listening()) return failSessionRun("no loopback port to listen on");
    HttpSession session;
    std::atomic<int> awaiting{0};
    std::atomic<int> calls{0};
    std::atomic<int> cancellationErrors{0};
    for (int i = 0; i < kTasks; ++i) {
        // The error is told apart inside the task that caught it; see urlErrorOf.
        Task::start(
            [&session, &awaiting, url = listener.url()]() -> Awaitable<TransferEnd> {
                ++awaiting;
                try {
                    co_await session.data(requestFor(url));
                    co_return TransferEnd::answered;
                } catch (const CancellationError&) {
                    co_return TransferEnd::cancellationError;
                } catch (const NSErrorException& error) {
                    co_return error.error().code == NSURLErrorCancelled ? TransferEnd::cancelledUrlError
                                                                        : TransferEnd::otherError;
                }
            },
            [&](TaskResult<TransferEnd> result) {
                if (result.hasValue() && result.get() == TransferEnd::cancellationError) ++cancellationErrors;
                ++calls;
            });
    }
    if (!test::waitFor([&] { return awaiting == kTasks; })) return failSessionRun("the tasks did not start");
    Runtime::shared().shutdown();
    if (calls != kTasks || cancellationErrors != kTasks) {
        std::fprintf(stderr, "%d of %d tasks ended, %d of them with CancellationError\n", calls.load(), kTasks,
                     cancellationErrors.load());
        return 1;
    }
    return 0;
}

TEST(SessionShutdownRace, TheSessionsDestructorReturnsOnlyAfterEveryCancelledCompletionRan) {
    EXPECT_EQ(test::failureOfForkedRuns(kShutdownRuns, kSessionRunBound,
                                        destroyTheSessionWhileTheShutdownCancelsItsTransfers),
              "")
        << "~HttpSession while the runtime's shutdown calls the cancelled completions";
}

TEST(SessionShutdownRace, EveryAwaitingTaskSeesCancellationErrorWhenTheShutdownAbortsItsTransfer) {
    EXPECT_EQ(test::failureOfForkedRuns(kShutdownRuns, kSessionRunBound, awaitTransfersThroughTheShutdown), "")
        << "awaiting tasks whose transfers the shutdown aborted";
}

}  // namespace
}  // namespace ambrell::platform

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/http/HttpErrors.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/MainQueue.h"
#include "tests/platform/http/HttpTestSupport.h"
#include "tests/support/AsyncTesting.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

using namespace std::chrono_literals;
using test::LoopbackWebService;

class HttpFailureTest : public LoopbackSessionTest {};

TEST_F(HttpFailureTest, TransportFailuresAreUrlErrorsNamingTheUrl) {
    service_.dropConnection("/dropped");
    service_.respond("/loop", {302, "", {{"Location", "/loop"}}});
    const std::pair<std::string, std::int64_t> cases[] = {
        {"http://127.0.0.1:" + std::to_string(closedPort()) + "/refused", NSURLErrorCannotConnectToHost},
        {service_.url("/dropped"), NSURLErrorNetworkConnectionLost},
        {service_.url("/loop"), NSURLErrorHTTPTooManyRedirects},
        {"", NSURLErrorBadURL},
        {"http://exa mple.com/", NSURLErrorBadURL},
        {"http://[::1/", NSURLErrorBadURL},
        {"ftp://127.0.0.1/file", NSURLErrorUnsupportedURL},
        {"127.0.0.1/no-scheme", NSURLErrorUnsupportedURL},
    };
    for (const auto& [url, code] : cases) {
        const auto error = urlErrorOf(session_.data(requestFor(url)));
        ASSERT_TRUE(error) << url;
        EXPECT_EQ(error->domain, "NSURLErrorDomain") << url;
        EXPECT_EQ(error->code, code) << url;
        EXPECT_EQ(error->stringForKey("NSErrorFailingURLStringKey"), url);
        EXPECT_FALSE(error->stringForKey(NSLocalizedDescriptionKey).value_or("").empty()) << url;
    }
}

TEST_F(HttpFailureTest, RequestsThatCannotBeSentFailBeforeReachingTheServer) {
    std::vector<HttpRequest> requests(4, requestFor(service_.url("/x")));
    requests[0].headers.add("Bad Name", "v");
    requests[1].headers.add("X-Injected", "v\r\nX-Evil: 1");
    requests[2].method = "GE T";
    requests[3].timeout = 0s;
    for (const auto& request : requests) {
        const auto error = urlErrorOf(session_.data(request));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, NSURLErrorUnknown);
    }
    EXPECT_TRUE(service_.requests().empty());
}

TEST_F(HttpFailureTest, SilenceLongerThanTheTimeoutTimesOut) {
    service_.delay("/silent", 10s);
    auto request = requestFor(service_.url("/silent"));
    request.timeout = 1s;
    const auto started = std::chrono::steady_clock::now();
    const auto error = urlErrorOf(session_.data(request));
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NSURLErrorTimedOut);
    EXPECT_GE(elapsed, 1s);
    EXPECT_LT(elapsed, 9s);
}

TEST_F(HttpFailureTest, AnAlreadyCancelledTaskSendsNothing) {
    test::AsyncGate gate;
    auto task = test::startTask([](test::AsyncGate& g, HttpSession& s, std::string url) -> Awaitable<HttpDataResult> {
        co_await g.wait();
        co_return co_await s.data(requestFor(std::move(url)));
    }(gate, session_, service_.url("/x")));
    ASSERT_TRUE(test::waitFor([&] { return gate.arrivals() == 1; }));
    task.task.cancel();
    gate.open();
    EXPECT_TRUE(test::failedWith<CancellationError>(task.result()));
    EXPECT_TRUE(service_.requests().empty());
}

TEST_F(HttpFailureTest, CancellingAbortsATransferInEitherForm) {
    service_.delay("/hang", 60s);
    auto task = test::startTask(session_.data(requestFor(service_.url("/hang"))));
    std::promise<TaskResult<HttpDataResult>> outcome;
    const auto handle = session_.data(requestFor(service_.url("/hang")),
                                      [&](TaskResult<HttpDataResult> result) { outcome.set_value(std::move(result)); });
    ASSERT_TRUE(service_.waitForRequests(2));
    task.task.cancel();
    EXPECT_TRUE(test::failedWith<CancellationError>(task.result(5s)));
    // Cancelled twice, the completion form still reports once.
    handle.cancel();
    handle.cancel();
    auto future = outcome.get_future();
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(codeOf(future.get()), NSURLErrorCancelled);
}

TEST_F(HttpFailureTest, ConcurrentRequestsFromManyThreadsEachCompleteOnce) {
    service_.handle("/item", [](const test::RecordedRequest& request) {
        return LoopbackWebService::Response{200, request.query, {{"Content-Type", "text/plain"}}};
    });
    constexpr int kThreads = 8;
    constexpr int kPerThread = 12;
    std::mutex mutex;
    std::map<std::string, std::vector<std::string>> answers;  // every answer each id received
    std::atomic<int> completed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const std::string id = std::to_string(t) + "-" + std::to_string(i);
                session_.data(requestFor(service_.url("/item?" + id)), [&, id](TaskResult<HttpDataResult> result) {
                    {
                        std::lock_guard lock(mutex);
                        answers[id].push_back(result.hasValue() ? text(result.get().body) : "error");
                    }
                    ++completed;
                });
            }
        });
    }
    // Awaitable requests from tasks at the same time.
    std::vector<test::StartedTask<HttpDataResult>> tasks;
    for (int i = 0; i < 8; ++i) tasks.push_back(test::startTask(session_.data(requestFor(service_.url("/item?task")))));
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(test::waitFor([&] { return completed == kThreads * kPerThread; }, 30s));
    for (auto& task : tasks) {
        auto result = task.result(30s);
        ASSERT_TRUE(result && result->hasValue());
        EXPECT_EQ(text(result->get().body), "task");
    }
    std::lock_guard lock(mutex);
    ASSERT_EQ(answers.size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (const auto& [id, received] : answers) EXPECT_EQ(received, Strings{id});
}

TEST_F(HttpFailureTest, DestroyingTheSessionCancelsEachTransferOnceAndSendsNoPendingOne) {
    service_.delay("/hang", 60s);
    std::mutex mutex;
    std::vector<std::int64_t> codes;
    std::optional<Awaitable<HttpDataResult>> pending;
    {
        HttpSession doomed;
        for (int i = 0; i < 3; ++i) {
            doomed.data(requestFor(service_.url("/hang")), [&](TaskResult<HttpDataResult> result) {
                std::lock_guard lock(mutex);
                codes.push_back(codeOf(result));
            });
        }
        pending.emplace(doomed.data(requestFor(service_.url("/pending"))));
        ASSERT_TRUE(service_.waitForRequests(3));
    }
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(codes, (std::vector<std::int64_t>(3, NSURLErrorCancelled)));
    }
    // An awaitable outliving its session is cancelled without a request.
    const auto error = urlErrorOf(std::move(*pending));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NSURLErrorCancelled);
    EXPECT_TRUE(service_.requestsTo("/pending").empty());
}

TEST_F(HttpFailureTest, CompletionsRunOnTheNetworkThreadAndMayEndTheirSession) {
    MainQueueThread mainQueue;
    struct Shared {
        std::mutex mutex;  // holds the completion back until `session` is no longer in use here
        std::unique_ptr<HttpSession> session = std::make_unique<HttpSession>();
        std::promise<std::pair<std::thread::id, bool>> where;
    };
    auto shared = std::make_shared<Shared>();
    auto where = shared->where.get_future();
    {
        std::lock_guard lock(shared->mutex);
        shared->session->data(requestFor(service_.url("/ping")), [shared](TaskResult<HttpDataResult>) {
            std::lock_guard guard(shared->mutex);
            shared->session.reset();
            shared->where.set_value({std::this_thread::get_id(), MainQueue::shared().isCurrent()});
        });
    }
    ASSERT_EQ(where.wait_for(10s), std::future_status::ready);
    const auto [thread, onMainQueue] = where.get();
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_FALSE(onMainQueue);
}

}  // namespace
}  // namespace ambrell::platform

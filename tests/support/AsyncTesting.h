#pragma once

#include <algorithm>
#include <atomic>
#include <boost/asio/this_coro.hpp>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/runtime/Continuation.h"
#include "platform/runtime/Task.h"
#include "tests/support/WaitFor.h"

namespace ambrell::test {

// A gate that asynchronous operations wait at until the test opens it, so a
// test decides exactly when each operation may end.
class AsyncGate {
public:
    platform::Awaitable<void> wait() {
        auto turn = co_await platform::Continuation::makeForCurrentExecutor();
        {
            std::lock_guard lock(mutex_);
            ++arrivals_;
            if (open_) {
                turn->resume();
            } else {
                waiters_.push_back(turn);
            }
        }
        co_await turn->waitIgnoringCancellation();
    }

    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        for (auto& waiter : waiters_) waiter->resume();
        waiters_.clear();
    }

    [[nodiscard]] int arrivals() const {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }

private:
    mutable std::mutex mutex_;
    bool open_ = false;
    int arrivals_ = 0;
    std::vector<std::shared_ptr<platform::Continuation>> waiters_;
};

// A task started by a test, with its outcome to wait for.
template <typename T>
struct StartedTask {
    platform::TypedTask<T> task;
    std::shared_future<platform::TaskResult<T>> outcome;

    [[nodiscard]] bool finished() const {
        return outcome.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    // The outcome, waiting at most `bound`; none when the task has not ended.
    std::optional<platform::TaskResult<T>> result(std::chrono::milliseconds bound = kWaitBound) const {
        if (outcome.wait_for(bound) != std::future_status::ready) return std::nullopt;
        return outcome.get();
    }
};

// `work` comes from a coroutine function or method, or from a captureless
// coroutine lambda: its frame then holds all it uses.
template <typename T>
StartedTask<T> startTask(platform::Awaitable<T> work) {
    auto promise = std::make_shared<std::promise<platform::TaskResult<T>>>();
    std::shared_future<platform::TaskResult<T>> outcome = promise->get_future().share();
    auto task =
        platform::Task::start([work = std::move(work)]() mutable { return std::move(work); },
                              [promise](platform::TaskResult<T> result) { promise->set_value(std::move(result)); });
    return StartedTask<T>{std::move(task), std::move(outcome)};
}

// Busy for a while that differs from one iteration to the next, so that in a
// race test the work ends sometimes before, sometimes after the event it
// races with.
inline void spinFor(int iteration) {
    std::atomic<int> steps{0};
    for (int k = 0; k < (iteration * 37) % 400; ++k) steps.fetch_add(1, std::memory_order_relaxed);
}

// Waits, bounded, until each of many completions was called; then whether each
// was called exactly once.
inline bool eachCalledOnce(const std::vector<std::atomic<int>>& calls) {
    const auto called = [&](auto atLeast) {
        return std::all_of(calls.begin(), calls.end(), [&](const auto& count) { return atLeast(count.load()); });
    };
    return waitFor([&] { return called([](int n) { return n > 0; }); }) && called([](int n) { return n == 1; });
}

template <typename Error, typename T>
bool failedWith(const std::optional<platform::TaskResult<T>>& result) {
    if (!result || !result->error()) return false;
    try {
        std::rethrow_exception(result->error());
    } catch (const Error&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace ambrell::test

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <future>

#include "platform/runtime/Actor.h"
#include "platform/runtime/BlockingWait.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/Task.h"
#include "platform/runtime/ThreadPool.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

// Runs `f` on a pool thread and hands back what it threw, if anything.
template <typename F>
std::exception_ptr onPoolThread(F f) {
    std::promise<std::exception_ptr> thrown;
    boost::asio::post(ThreadPool::shared().executor(), [&] {
        try {
            f();
            thrown.set_value(nullptr);
        } catch (...) {
            thrown.set_value(std::current_exception());
        }
    });
    return thrown.get_future().get();
}

bool isBlockingCallError(const std::exception_ptr& error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const BlockingCallError&) {
        return true;
    } catch (...) {
    }
    return false;
}

Awaitable<int> one() { co_return 1; }

TEST(BlockingCalls, AreRefusedOnPoolThreadsWhereTheyWouldStarveThePool) {
    DispatchQueue queue("com.ambrell.test");
    EXPECT_TRUE(isBlockingCallError(onPoolThread([&] { queue.sync([] {}); })));
    EXPECT_TRUE(isBlockingCallError(onPoolThread([] { blockingWait(ThreadPool::shared().makeStrand(), one()); })));
    // On its own queue, sync runs inline and waits for nothing.
    queue.async([&] { EXPECT_EQ(queue.sync([] { return 2; }), 2); });
    EXPECT_EQ(queue.sync([] { return 3; }), 3);
}

TEST(BlockingCalls, BlockingWaitFromTheActorItTargetsIsRefused) {
    Actor actor;
    std::promise<bool> refused;
    boost::asio::post(actor.executor(), [&] {
        try {
            blockingWait(actor.executor(), one());
            refused.set_value(false);
        } catch (const BlockingCallError&) {
            refused.set_value(true);
        }
    });
    EXPECT_TRUE(refused.get_future().get());
}

TEST(BlockingCalls, BlockingWaitOnTheMainThreadForWorkThatNeedsTheMainQueueIsRefused) {
    MainQueueThread mainThread;
    std::promise<std::exception_ptr> outcome;
    MainQueue::shared().async([&] {
        try {
            // The work hops to the main queue, whose thread is blocked here.
            blockingWait(ThreadPool::shared().makeStrand(), []() -> Awaitable<int> {
                co_return co_await runOn(SerialExecutor::mainQueue(), []() -> Awaitable<int> { co_return 1; });
            });
            outcome.set_value(nullptr);
        } catch (...) {
            outcome.set_value(std::current_exception());
        }
    });
    EXPECT_TRUE(isBlockingCallError(outcome.get_future().get()));

    // Work that stays off the main queue is waited for as usual.
    std::promise<int> value;
    MainQueue::shared().async([&] { value.set_value(blockingWait(ThreadPool::shared().makeStrand(), one())); });
    EXPECT_EQ(value.get_future().get(), 1);
    // And from the main queue to the main queue itself.
    std::promise<bool> selfRefused;
    MainQueue::shared().async([&] {
        try {
            blockingWait(SerialExecutor::mainQueue(), one());
            selfRefused.set_value(false);
        } catch (const BlockingCallError&) {
            selfRefused.set_value(true);
        }
    });
    EXPECT_TRUE(selfRefused.get_future().get());
}

TEST(BlockingCalls, ThrowingBlocksAndCompletionsAreLoggedAndWorkGoesOn) {
    MainQueueThread mainThread;
    DispatchQueue queue("com.ambrell.test");
    queue.async([] { throw std::runtime_error("a block that throws"); });
    EXPECT_EQ(queue.sync([] { return 4; }), 4);

    MainQueue::shared().async([] { throw std::runtime_error("a main-queue block that throws"); });
    for (const auto where : {CompletionQueue::workingTask, CompletionQueue::main}) {
        std::atomic<bool> laterRan{false};
        Task::start(
            one(), [](TaskResult<int>) { throw std::runtime_error("a completion that throws"); }, where);
        Task::start(
            one(), [&](TaskResult<int>) { laterRan = true; }, where);
        EXPECT_TRUE(test::waitFor([&] { return laterRan.load(); }));
    }
    // Every pool thread is still there to run work.
    std::atomic<unsigned> ran{0};
    for (unsigned i = 0; i < ThreadPool::shared().threadCount() * 2; ++i) queue.async([&] { ++ran; });
    EXPECT_TRUE(test::waitFor([&] { return ran == ThreadPool::shared().threadCount() * 2; }));
}

}  // namespace
}  // namespace ambrell::platform

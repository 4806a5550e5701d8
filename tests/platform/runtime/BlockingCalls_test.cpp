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

// Runs `f` on the executor and hands back what it threw, if anything.
template <typename F>
std::exception_ptr thrownOn(const Executor& executor, F f) {
    std::promise<std::exception_ptr> thrown;
    boost::asio::post(executor, [&] {
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
    const auto pool = ThreadPool::shared().executor();
    DispatchQueue queue("com.ambrell.test");
    EXPECT_TRUE(isBlockingCallError(thrownOn(pool, [&] { queue.sync([] {}); })));
    EXPECT_TRUE(isBlockingCallError(thrownOn(pool, [] { blockingWait(ThreadPool::shared().makeStrand(), one()); })));
    // On its own queue, sync runs inline and waits for nothing.
    queue.async([&] { EXPECT_EQ(queue.sync([] { return 2; }), 2); });
    EXPECT_EQ(queue.sync([] { return 3; }), 3);
}

TEST(BlockingCalls, BlockingWaitFromTheActorItTargetsIsRefused) {
    Actor actor;
    EXPECT_TRUE(isBlockingCallError(thrownOn(actor.executor(), [&] { blockingWait(actor.executor(), one()); })));
}

TEST(BlockingCalls, BlockingWaitOnTheMainThreadForWorkThatNeedsTheMainQueueIsRefused) {
    MainQueueThread mainThread;
    const auto main = MainQueue::shared().executor();
    // The work hops to the main queue, whose thread is blocked waiting for it.
    EXPECT_TRUE(isBlockingCallError(thrownOn(main, [] {
        blockingWait(ThreadPool::shared().makeStrand(), []() -> Awaitable<int> {
            co_return co_await runOn(SerialExecutor::mainQueue(), []() -> Awaitable<int> { co_return 1; });
        });
    })));
    // And the main queue itself.
    EXPECT_TRUE(isBlockingCallError(thrownOn(main, [] { blockingWait(SerialExecutor::mainQueue(), one()); })));
    // Work that stays off the main queue is waited for as usual.
    int value = 0;
    EXPECT_EQ(thrownOn(main, [&] { value = blockingWait(ThreadPool::shared().makeStrand(), one()); }), nullptr);
    EXPECT_EQ(value, 1);
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
            one, [](TaskResult<int>) { throw std::runtime_error("a completion that throws"); }, where);
        Task::start(
            one, [&](TaskResult<int>) { laterRan = true; }, where);
        EXPECT_TRUE(test::waitFor([&] { return laterRan.load(); }));
    }
    // Every pool thread is still there to run work.
    std::atomic<unsigned> ran{0};
    for (unsigned i = 0; i < ThreadPool::shared().threadCount() * 2; ++i) queue.async([&] { ++ran; });
    EXPECT_TRUE(test::waitFor([&] { return ran == ThreadPool::shared().threadCount() * 2; }));
}

}  // namespace
}  // namespace ambrell::platform

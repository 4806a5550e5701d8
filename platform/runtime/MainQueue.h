#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// The host's main thread: an event loop the host runs. Completion handlers
// promised "on the main queue" and main-actor work are posted here. The loop
// is single-threaded by contract: only one thread runs it at a time.
//
// The runtime's shutdown closes the queue: what was queued before is called
// once, and the queue refuses work from then on.
class MainQueue {
public:
    static MainQueue& shared();

    [[nodiscard]] Executor executor() const;
    [[nodiscard]] SerialExecutor serialExecutor() const { return SerialExecutor::mainQueue(); }

    // Runs the loop on the calling thread until stop() or the runtime's
    // shutdown. The host calls this from its main thread. A block that throws
    // is logged and the loop goes on. Returns at once when closed.
    void run();
    // Ends the loop after the block it runs. Once the queue is closed it
    // stops only a loop still running.
    void stop();
    // True on the thread currently running the loop.
    [[nodiscard]] bool isCurrent() const;

    // Once the queue is closed the block is refused: logged and dropped.
    void async(std::function<void()> work);
    // Queues the block; false, and the block untouched, once the queue is closed.
    bool tryAsync(std::function<void()>& work);
    // For a completion, which must be called exactly once: queued as async()
    // does, or, once the queue is closed, called on the calling thread.
    void deliver(std::function<void()> completion);
    // Returns once everything posted before the call has run. On the main
    // thread it runs the ready work itself. Returns at once when closed.
    void drain();

    // For the runtime's shutdown: runs the blocks that are ready, unless
    // another thread runs the queue's blocks. Meanwhile run() waits to start
    // the loop: one thread at a time runs the queue.
    void runReady();
    // Refuses new blocks, calls every block queued before once, and stops the
    // loop. The host's loop runs them while it goes on; once it stops, or
    // once `deadline` passes (the loop is then stopped after the block it
    // runs), the calling thread runs what is left, as soon as the host's
    // loop has ended: its thread may still be inside run(), running nothing.
    void close(std::chrono::steady_clock::time_point deadline);
    // Once closed: runs what is still ready here, coroutine steps that
    // resume their tasks included, waiting for a block another thread still
    // runs; whether anything ran. The runtime's shutdown calls it until no
    // queue has work left.
    bool runLeftovers();

    // For tests only: called on the host's thread once its loop has ended,
    // before run() returns, so that a test can hold the thread there. None by
    // default.
    void setLoopEndedHookForTesting(std::function<void()> hook);

private:
    MainQueue();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Runs the main queue on a thread of its own for as long as it lives: what a
// test does in place of the host's main thread.
class MainQueueThread {
public:
    MainQueueThread();
    ~MainQueueThread();
    MainQueueThread(const MainQueueThread&) = delete;
    MainQueueThread& operator=(const MainQueueThread&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell::platform

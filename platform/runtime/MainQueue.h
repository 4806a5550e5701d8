#pragma once

#include <functional>
#include <memory>

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// The host's main thread: an event loop the host runs. Completion handlers
// promised "on the main queue" and main-actor work are posted here. The loop
// is single-threaded by contract: only one thread runs it at a time.
class MainQueue {
public:
    static MainQueue& shared();

    [[nodiscard]] Executor executor() const;

    // Runs the loop on the calling thread until stop(). The host calls this
    // from its main thread.
    void run();
    void stop();
    // True on the thread currently running the loop.
    [[nodiscard]] bool isCurrent() const;

    void async(std::function<void()> work);
    // Returns once everything posted before the call has run. On the main
    // thread it runs the ready work itself.
    void drain();

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

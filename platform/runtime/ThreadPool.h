#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// A process-wide pool of threads. shared() runs queues, actors and tasks;
// blockingIO() runs file-system work that may block, so a slow disk never
// holds up coroutine work. Both are created on first use and stopped by the
// runtime's shutdown (Runtime.h).
class ThreadPool {
public:
    static ThreadPool& shared();
    static ThreadPool& blockingIO();

    [[nodiscard]] Executor executor() const;
    // A new serial executor on the pool: what a task, an actor or a serial
    // queue runs on.
    [[nodiscard]] Strand makeStrand() const;
    [[nodiscard]] unsigned threadCount() const { return threadCount_; }
    [[nodiscard]] const std::string& name() const { return name_; }

    // True on a thread of this pool.
    [[nodiscard]] bool isCurrent() const;
    // The pool whose thread the caller runs on, or null off every pool.
    [[nodiscard]] static const ThreadPool* current();

    // Queues `work` on `target`, an executor of this pool (or a strand of
    // it). Work queued here runs, however its post races with the pool's
    // stop; once the pool has stopped it answers false and leaves `work`
    // untouched, for the caller to refuse or run it.
    bool tryPost(const Executor& target, std::function<void()>& work);

    // Lets the queued work run until nothing is left or the deadline passes,
    // then stops the pool and joins its threads (a block running at the
    // deadline is waited for), and runs what is still queued on the calling
    // thread, whether the threads ran out of work or the deadline stopped
    // them. tryPost() refuses work from the closing on. Called by the
    // runtime's shutdown only, after it cancelled every task.
    void stopAndJoin(std::chrono::steady_clock::time_point deadline);
    // True once stopAndJoin() began refusing work.
    [[nodiscard]] bool isStopped() const;
    // Once the threads are joined: runs what is queued, and whatever that
    // queues in turn, on the calling thread as a pool thread would; whether
    // anything ran. Nothing else runs the pool any more, and work still comes
    // from the other pool and the main queue: the runtime's shutdown calls
    // this until no queue has work left.
    bool runLeftovers();

private:
    ThreadPool(std::string name, unsigned threads);
    struct Impl;
    Impl* impl_;  // never destroyed: see shared()
    std::string name_;
    unsigned threadCount_;
};

}  // namespace ambrell::platform

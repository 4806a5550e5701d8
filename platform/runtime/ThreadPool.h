#pragma once

#include <chrono>
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

    // Lets the queued work run until nothing is left or the deadline passes,
    // then stops the pool and joins its threads. Work posted afterwards is
    // dropped. Called by the runtime's shutdown only.
    void stopAndJoin(std::chrono::steady_clock::time_point deadline);
    [[nodiscard]] bool isStopped() const;

private:
    ThreadPool(std::string name, unsigned threads);
    struct Impl;
    Impl* impl_;  // never destroyed: see shared()
    std::string name_;
    unsigned threadCount_;
};

}  // namespace ambrell::platform

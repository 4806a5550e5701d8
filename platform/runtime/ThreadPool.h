#pragma once

#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// The one process-wide pool on which queues, actors and tasks run.
class ThreadPool {
public:
    static ThreadPool& shared();

    [[nodiscard]] Executor executor() const;
    // A new serial executor on the pool: what a task, an actor or a serial
    // queue runs on.
    [[nodiscard]] Strand makeStrand() const;
    [[nodiscard]] unsigned threadCount() const { return threadCount_; }

private:
    ThreadPool();
    struct Impl;
    Impl* impl_;
    unsigned threadCount_;
};

}  // namespace ambrell::platform

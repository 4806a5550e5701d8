#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace ambrell::platform {

namespace detail {
// A started task as the runtime sees it: something to cancel at shutdown.
class RegisteredTask {
public:
    virtual ~RegisteredTask() = default;
    virtual void cancel() = 0;
};
}  // namespace detail

// Owns the life of everything in the process that has threads, sockets or
// timers: the thread pools, the main queue, the started tasks and the
// services that register here (HTTP sessions). Its shutdown brings them down
// in order, so that every completion is called exactly once and nothing runs
// while static objects are destroyed at exit.
class Runtime {
public:
    static constexpr std::chrono::milliseconds kDefaultShutdownDeadline{5000};

    static Runtime& shared();

    // Stops the runtime, in this order:
    //   1. refuses new tasks (their completions get RuntimeStoppedError);
    //   2. cancels every started task;
    //   3. stops the registered services, latest first (an HTTP session then
    //      calls each pending completion with its cancelled error);
    //   4. waits for the tasks to end, running the main queue meanwhile when
    //      no other thread runs it;
    //   5. lets the pools run what is queued, then joins their threads (work
    //      queued while they stop runs too, on this thread);
    //   6. calls what is still queued for the main queue, once, and closes it
    //      (on this thread once the host's loop has stopped);
    //   7. runs on this thread what the pools and the main queue still hold,
    //      until none has work left.
    // Past `deadline` it waits only for blocks already running; what is still
    // queued then runs on this thread, the tasks cancelled. A second call
    // does nothing. Process exit makes one: when the main thread used the
    // runtime and returns from main() or calls exit(), before any static
    // object is destroyed; otherwise later, among the exit handlers. Throws BlockingCallError on a pool
    // thread, which would wait for itself.
    void shutdown(std::chrono::milliseconds deadline = kDefaultShutdownDeadline);
    [[nodiscard]] bool isShuttingDown() const;

    // Keeps a service's stop action registered for as long as it lives.
    class ServiceRegistration {
    public:
        ServiceRegistration() = default;
        ~ServiceRegistration();
        ServiceRegistration(ServiceRegistration&& other) noexcept;
        ServiceRegistration& operator=(ServiceRegistration&& other) noexcept;

    private:
        friend class Runtime;
        explicit ServiceRegistration(std::uint64_t id) : id_(id) {}
        std::uint64_t id_ = 0;
    };
    // `stop` must end the service's work and call its pending completions;
    // it is called at most once, from the thread that shuts down.
    [[nodiscard]] ServiceRegistration registerService(std::function<void()> stop);

    // Task bookkeeping. admit() is false once shutdown began.
    bool admit(const std::shared_ptr<detail::RegisteredTask>& task);
    void retire(const detail::RegisteredTask* task);

    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

private:
    Runtime();
    void unregisterService(std::uint64_t id);
    void waitForTasks(std::chrono::steady_clock::time_point deadline);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ambrell::platform

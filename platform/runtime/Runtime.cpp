#include "platform/runtime/Runtime.h"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Logger.h"
#include "platform/runtime/Guarded.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/RuntimeErrors.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell::platform {

struct Runtime::Impl {
    // Held for the whole of a shutdown, so a second caller returns only once
    // the first is done.
    std::mutex shutdownMutex;
    bool stopped = false;  // guarded by shutdownMutex

    mutable std::mutex mutex;
    bool shuttingDown = false;
    std::unordered_map<const detail::RegisteredTask*, std::shared_ptr<detail::RegisteredTask>> tasks;
    std::map<std::uint64_t, std::function<void()>> services;  // in order of registration
    std::uint64_t nextServiceId = 1;
};

namespace runtime_exit {

void shutDownAtExit() {
    if (ThreadPool::current() == nullptr) Runtime::shared().shutdown();
}

// Lives in the main thread's thread storage. Those objects are destroyed when
// the main thread calls exit() (returning from main does), before any static
// object, whenever that was built: an atexit() handler would run only after
// the statics built later than its registration were gone, while the pools
// still use them.
struct MainThreadExitShutdown {
    MainThreadExitShutdown() = default;
    MainThreadExitShutdown(const MainThreadExitShutdown&) = delete;
    MainThreadExitShutdown& operator=(const MainThreadExitShutdown&) = delete;
    ~MainThreadExitShutdown() { shutDownAtExit(); }
};

void armOnMainThread() {
    thread_local bool armed = false;
    if (armed) return;
    armed = true;
    if (::gettid() != ::getpid()) return;
    thread_local MainThreadExitShutdown shutdownOnExit;
}

}  // namespace runtime_exit

Runtime::Runtime() : impl_(std::make_unique<Impl>()) {}

Runtime& Runtime::shared() {
    // Never destroyed: tasks may end, and retire, while static objects are
    // destroyed at exit.
    static Runtime* const runtime = [] {
        auto* created = new Runtime();
        // For an exit() called from another thread than the main one, or
        // before the main thread used the runtime.
        std::atexit(runtime_exit::shutDownAtExit);
        return created;
    }();
    runtime_exit::armOnMainThread();
    return *runtime;
}

bool Runtime::isShuttingDown() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->shuttingDown;
}

bool Runtime::admit(const std::shared_ptr<detail::RegisteredTask>& task) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->shuttingDown) return false;
    impl_->tasks.emplace(task.get(), task);
    return true;
}

void Runtime::retire(const detail::RegisteredTask* task) {
    std::shared_ptr<detail::RegisteredTask> retired;  // destroyed outside the lock
    std::lock_guard lock(impl_->mutex);
    if (auto it = impl_->tasks.find(task); it != impl_->tasks.end()) {
        retired = std::move(it->second);
        impl_->tasks.erase(it);
    }
}

Runtime::ServiceRegistration Runtime::registerService(std::function<void()> stop) {
    std::lock_guard lock(impl_->mutex);
    const auto id = impl_->nextServiceId++;
    impl_->services.emplace(id, std::move(stop));
    return ServiceRegistration(id);
}

void Runtime::unregisterService(std::uint64_t id) {
    std::function<void()> removed;
    std::lock_guard lock(impl_->mutex);
    if (auto it = impl_->services.find(id); it != impl_->services.end()) {
        removed = std::move(it->second);
        impl_->services.erase(it);
    }
}

Runtime::ServiceRegistration::~ServiceRegistration() {
    if (id_ != 0) Runtime::shared().unregisterService(id_);
}

Runtime::ServiceRegistration::ServiceRegistration(ServiceRegistration&& other) noexcept
    : id_(std::exchange(other.id_, 0)) {}

Runtime::ServiceRegistration& Runtime::ServiceRegistration::operator=(ServiceRegistration&& other) noexcept {
    if (this != &other) {
        if (id_ != 0) Runtime::shared().unregisterService(id_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void Runtime::waitForTasks(std::chrono::steady_clock::time_point deadline) {
    auto& mainQueue = MainQueue::shared();
    for (;;) {
        {
            std::lock_guard lock(impl_->mutex);
            if (impl_->tasks.empty()) return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            Logger("runtime").error("Shutdown went on with tasks still running past its deadline");
            return;
        }
        // Tasks may be waiting for the main queue, and no one else runs it.
        mainQueue.runReady();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void Runtime::shutdown(std::chrono::milliseconds deadline) {
    if (ThreadPool::current() != nullptr) {
        throw BlockingCallError("Runtime::shutdown on a pool thread would wait for the pool it runs on");
    }
    std::lock_guard once(impl_->shutdownMutex);
    if (impl_->stopped) return;
    const auto until = std::chrono::steady_clock::now() + deadline;

    std::vector<std::shared_ptr<detail::RegisteredTask>> tasks;
    std::vector<std::function<void()>> services;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->shuttingDown = true;
        for (const auto& entry : impl_->tasks) tasks.push_back(entry.second);
        for (auto it = impl_->services.rbegin(); it != impl_->services.rend(); ++it) services.push_back(it->second);
    }
    for (const auto& task : tasks) task->cancel();
    tasks.clear();
    for (const auto& stop : services) runGuarded("Stopping a service", stop);
    waitForTasks(until);
    auto& pool = ThreadPool::shared();
    auto& blockingIO = ThreadPool::blockingIO();
    auto& mainQueue = MainQueue::shared();
    pool.stopAndJoin(until);
    blockingIO.stopAndJoin(until);
    mainQueue.close(until);
    // Only this thread runs the queues now, and work still crosses them: file
    // work resumes its task on the shared pool, a main-queue step resumes its
    // task on the pool. Every task is cancelled, so each ends at its next
    // cancellation point, and its completion is called once it does.
    for (bool ran = true; ran;) {
        ran = pool.runLeftovers();
        ran = blockingIO.runLeftovers() || ran;
        ran = mainQueue.runLeftovers() || ran;
    }
    impl_->stopped = true;
}

}  // namespace ambrell::platform

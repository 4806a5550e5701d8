#pragma once

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "platform/runtime/Cancellation.h"
#include "platform/runtime/Executor.h"

namespace ambrell::platform {

// Runs `work` on `executor` and resumes the caller on its own executor with
// the result. Cancellation of the caller reaches the work.
template <typename T>
Awaitable<T> runOn(Executor executor, Awaitable<T> work) {
    return boost::asio::co_spawn(std::move(executor), detail::cooperative<T>(std::move(work)), boost::asio::use_awaitable);
}

// A serial executor whose state only its own work touches: a strand of the
// shared pool.
class Actor {
public:
    Actor();

    [[nodiscard]] const Strand& executor() const { return strand_; }
    [[nodiscard]] bool isCurrent() const { return strand_.running_in_this_thread(); }

    template <typename T>
    Awaitable<T> run(Awaitable<T> work) const {
        return runOn<T>(strand_, std::move(work));
    }

private:
    Strand strand_;
};

// Global serial executors of the library.
struct LocationServiceActor {
    static Actor& shared();
};

struct LoadingActor {
    static Actor& shared();
};

}  // namespace ambrell::platform

#include "platform/runtime/Continuation.h"

#include <atomic>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <stdexcept>

#include "platform/runtime/Cancellation.h"

namespace ambrell::platform {

namespace asio = boost::asio;

// The waiter sleeps on a timer that never expires by itself; resumption moves
// its expiry into the past, which both wakes a pending wait and makes a wait
// that has not begun yet complete at once. Both happen on the waiter's serial
// executor, so they never race.
struct Continuation::Impl {
    explicit Impl(Executor ex) : executor(ex), timer(ex, asio::steady_timer::time_point::max()) {}

    Executor executor;
    asio::steady_timer timer;
    std::atomic<bool> resumeRequested{false};
    bool resumed = false;  // on the executor only
    std::exception_ptr error;
};

Continuation::Continuation(Executor executor) : impl_(std::make_unique<Impl>(executor)) {}
Continuation::~Continuation() = default;

std::shared_ptr<Continuation> Continuation::make(SerialExecutor executor) {
    return std::shared_ptr<Continuation>(new Continuation(executor.executor()));
}

Awaitable<std::shared_ptr<Continuation>> Continuation::makeForCurrentExecutor() {
    auto serial = SerialExecutor::from(co_await asio::this_coro::executor);
    if (!serial) throw std::logic_error("A continuation needs a serial executor (a strand or the main queue)");
    co_return make(*serial);
}

void Continuation::resume() { deliver(nullptr); }
void Continuation::resume(std::exception_ptr error) { deliver(std::move(error)); }

void Continuation::deliver(std::exception_ptr error) {
    if (impl_->resumeRequested.exchange(true)) return;
    asio::post(impl_->executor, [self = shared_from_this(), error = std::move(error)]() mutable {
        self->impl_->resumed = true;
        self->impl_->error = std::move(error);
        self->impl_->timer.expires_at(asio::steady_timer::time_point::min());
    });
}

Awaitable<void> Continuation::wait() {
    const bool resumed = co_await waitInterruptibly();
    if (!resumed) throw CancellationError();
}

Awaitable<void> Continuation::waitIgnoringCancellation() {
    auto self = shared_from_this();
    while (!impl_->resumed) {
        co_await impl_->timer.async_wait(
            asio::bind_cancellation_slot(asio::cancellation_slot(), asio::as_tuple(asio::use_awaitable)));
    }
    if (impl_->error) std::rethrow_exception(impl_->error);
}

Awaitable<bool> Continuation::waitInterruptibly() {
    auto self = shared_from_this();
    const bool cancelled = co_await isCancelled();
    if (!impl_->resumed && !cancelled) {
        co_await impl_->timer.async_wait(asio::as_tuple(asio::use_awaitable));
    }
    if (!impl_->resumed) co_return false;
    if (impl_->error) std::rethrow_exception(impl_->error);
    co_return true;
}

}  // namespace ambrell::platform

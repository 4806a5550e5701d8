#include "platform/runtime/Sleep.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "platform/runtime/Cancellation.h"

namespace ambrell::platform {

Awaitable<void> sleep(std::chrono::nanoseconds duration) {
    co_await checkCancellation();
    boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor, duration);
    auto [error] = co_await timer.async_wait(boost::asio::as_tuple(boost::asio::use_awaitable));
    if (error) throw CancellationError();
    co_await checkCancellation();
}

}  // namespace ambrell::platform

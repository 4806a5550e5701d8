#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/strand.hpp>

namespace ambrell::platform {

// Every asynchronous operation of the library is an Asio coroutine on one of
// these executors. Coroutines always run on a serial executor (a strand or the
// main queue): cancellation and continuations rely on that. Coroutine threads
// are started through Task, runOn, runTaskGroup or blockingWait, which make
// cancellation cooperative.
using Executor = boost::asio::any_io_executor;
using Strand = boost::asio::strand<Executor>;

template <typename T>
using Awaitable = boost::asio::awaitable<T, Executor>;

}  // namespace ambrell::platform

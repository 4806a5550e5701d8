#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/strand.hpp>
#include <optional>

namespace ambrell::platform {

// Every asynchronous operation of the library is an Asio coroutine. Coroutine
// threads are started through Task, runOn, Actor::run, runTaskGroup or
// blockingWait, which make cancellation cooperative and run them on a
// SerialExecutor: cancellation and continuations rely on that.
using Executor = boost::asio::any_io_executor;
using Strand = boost::asio::strand<Executor>;

template <typename T>
using Awaitable = boost::asio::awaitable<T, Executor>;

// An executor that runs one thing at a time: a strand of the pool, or the main
// queue. Entry points that start coroutines take this type, so a coroutine
// cannot be started on the bare pool executor, where its steps would race.
class SerialExecutor {
public:
    SerialExecutor(Strand strand);  // NOLINT(google-explicit-constructor): every strand is serial
    static SerialExecutor mainQueue();
    // The serial executor `executor` is, or none when it runs work in parallel.
    static std::optional<SerialExecutor> from(const Executor& executor);

    [[nodiscard]] const Executor& executor() const { return executor_; }
    operator const Executor&() const { return executor_; }  // NOLINT(google-explicit-constructor)
    [[nodiscard]] bool isMainQueue() const { return kind_ == Kind::mainQueue; }
    [[nodiscard]] bool runningInThisThread() const;

    friend bool operator==(const SerialExecutor& lhs, const SerialExecutor& rhs) {
        return lhs.executor_ == rhs.executor_;
    }

private:
    enum class Kind { strand, mainQueue };
    SerialExecutor(Executor executor, Kind kind) : executor_(std::move(executor)), kind_(kind) {}

    Executor executor_;
    Kind kind_;
};

}  // namespace ambrell::platform

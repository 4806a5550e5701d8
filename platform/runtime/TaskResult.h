#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

namespace ambrell::platform {

namespace detail {
[[noreturn]] inline void throwEmptyResult() {
    throw std::logic_error("This task result is empty: the operation delivered neither a value nor an error");
}
}  // namespace detail

// The outcome of an asynchronous operation handed to a completion handler:
// a value or the error the operation threw. A default-constructed result is
// empty; reading it throws std::logic_error.
template <typename T>
class TaskResult {
public:
    TaskResult() = default;
    static TaskResult success(T value) {
        TaskResult r;
        r.value_.emplace(std::move(value));
        return r;
    }
    static TaskResult failure(std::exception_ptr error) {
        TaskResult r;
        r.error_ = std::move(error);
        return r;
    }

    [[nodiscard]] bool hasValue() const { return value_.has_value(); }
    [[nodiscard]] const std::exception_ptr& error() const { return error_; }
    // The value, or the operation's error rethrown.
    T& get() {
        if (error_) std::rethrow_exception(error_);
        if (!value_) detail::throwEmptyResult();
        return *value_;
    }

private:
    std::optional<T> value_;
    std::exception_ptr error_;
};

template <>
class TaskResult<void> {
public:
    TaskResult() = default;
    static TaskResult success() {
        TaskResult r;
        r.succeeded_ = true;
        return r;
    }
    static TaskResult failure(std::exception_ptr error) {
        TaskResult r;
        r.error_ = std::move(error);
        return r;
    }

    [[nodiscard]] bool hasValue() const { return succeeded_; }
    [[nodiscard]] const std::exception_ptr& error() const { return error_; }
    void get() const {
        if (error_) std::rethrow_exception(error_);
        if (!succeeded_) detail::throwEmptyResult();
    }

private:
    bool succeeded_ = false;
    std::exception_ptr error_;
};

}  // namespace ambrell::platform

#pragma once

#include <exception>
#include <optional>
#include <utility>

namespace ambrell::platform {

// The outcome of an asynchronous operation handed to a completion handler:
// a value or the error the operation threw.
template <typename T>
class TaskResult {
public:
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
        return *value_;
    }

private:
    std::optional<T> value_;
    std::exception_ptr error_;
};

template <>
class TaskResult<void> {
public:
    static TaskResult success() { return {}; }
    static TaskResult failure(std::exception_ptr error) {
        TaskResult r;
        r.error_ = std::move(error);
        return r;
    }

    [[nodiscard]] bool hasValue() const { return !error_; }
    [[nodiscard]] const std::exception_ptr& error() const { return error_; }
    void get() const {
        if (error_) std::rethrow_exception(error_);
    }

private:
    std::exception_ptr error_;
};

}  // namespace ambrell::platform

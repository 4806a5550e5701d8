#pragma once

#include <exception>
#include <string>
#include <utility>

#include "platform/Error.h"

namespace ambrell::platform {

// An error object thrown through asynchronous code: transport errors
// ("NSURLErrorDomain"), file-system errors and the library's own error domains
// travel as this, and reach completion handlers as the error object again.
class NSErrorException : public std::exception {
public:
    explicit NSErrorException(NSError error)
        : error_(std::move(error)),
          what_(error_.domain + " " + std::to_string(error_.code) + ": " + error_.localizedDescription()) {}

    [[nodiscard]] const NSError& error() const noexcept { return error_; }
    [[nodiscard]] const char* what() const noexcept override { return what_.c_str(); }

private:
    NSError error_;
    std::string what_;
};

}  // namespace ambrell::platform

#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>

#include "Ambrell/CVErrorCodes.h"
#include "platform/Error.h"

namespace ambrell {

// An error object whose user info holds only the localized description.
[[nodiscard]] platform::NSError errorWithDescription(std::string domain, std::int64_t code, std::string description);

// The error object of any error the library throws, as a completion handler
// or a stored error field needs it: an NSErrorException gives its own error;
// CVError bridges to the domain "Ambrell.CVError" with its case as code; a
// cancellation to "Swift.CancellationError"; anything else to the library's
// domain with its text as description.
[[nodiscard]] platform::NSError errorObjectFor(const std::exception_ptr& error);

// A file-system failure as the platform reports it ("NSPOSIXErrorDomain").
[[nodiscard]] platform::NSError fileSystemError(const std::error_code& error);

// The platform's one-line description of an error object, as log lines print it.
[[nodiscard]] std::string errorDescription(const platform::NSError& error);

}  // namespace ambrell

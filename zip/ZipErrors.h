#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "platform/Error.h"

namespace ambrell::zipio {

inline constexpr std::string_view kPosixErrorDomain = "NSPOSIXErrorDomain";

// An error of "SSZipArchiveErrorDomain" with its message as the localized description.
[[nodiscard]] platform::NSError zipArchiveError(std::int64_t code, const std::string& message);
// The same with the system's error beneath it.
[[nodiscard]] platform::NSError zipArchiveError(std::int64_t code, const std::string& message,
                                                const std::error_code& cause);
// An error of the POSIX domain, with a message when one is given.
[[nodiscard]] platform::NSError posixError(std::int64_t code, const std::optional<std::string>& message = {});

}  // namespace ambrell::zipio

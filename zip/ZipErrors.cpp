#include "zip/ZipErrors.h"

#include <memory>

#include "zip/SSZipArchiveTypes.h"

namespace ambrell::zipio {

platform::NSError zipArchiveError(std::int64_t code, const std::string& message) {
    platform::NSError error;
    error.domain = std::string(SSZipArchiveErrorDomain);
    error.code = code;
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), message);
    return error;
}

platform::NSError zipArchiveError(std::int64_t code, const std::string& message, const std::error_code& cause) {
    auto error = zipArchiveError(code, message);
    error.userInfo.emplace(std::string(platform::NSUnderlyingErrorKey),
                           std::make_shared<const platform::NSError>(posixError(cause.value(), cause.message())));
    return error;
}

platform::NSError posixError(std::int64_t code, const std::optional<std::string>& message) {
    platform::NSError error;
    error.domain = std::string(kPosixErrorDomain);
    error.code = code;
    if (message) error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), *message);
    return error;
}

}  // namespace ambrell::zipio

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace ambrell::platform {

// Transport errors travel as the platform's URL-loading errors, so callers
// compare domain and code exactly as they would there.
inline constexpr std::string_view NSURLErrorDomain = "NSURLErrorDomain";
inline constexpr std::string_view NSErrorFailingURLStringKey = "NSErrorFailingURLStringKey";

inline constexpr std::int64_t NSURLErrorUnknown = -1;
inline constexpr std::int64_t NSURLErrorCancelled = -999;
inline constexpr std::int64_t NSURLErrorBadURL = -1000;
inline constexpr std::int64_t NSURLErrorTimedOut = -1001;
inline constexpr std::int64_t NSURLErrorUnsupportedURL = -1002;
inline constexpr std::int64_t NSURLErrorCannotFindHost = -1003;
inline constexpr std::int64_t NSURLErrorCannotConnectToHost = -1004;
inline constexpr std::int64_t NSURLErrorNetworkConnectionLost = -1005;
inline constexpr std::int64_t NSURLErrorHTTPTooManyRedirects = -1007;
inline constexpr std::int64_t NSURLErrorNotConnectedToInternet = -1009;
inline constexpr std::int64_t NSURLErrorBadServerResponse = -1011;
inline constexpr std::int64_t NSURLErrorCannotDecodeContentData = -1016;
inline constexpr std::int64_t NSURLErrorFileDoesNotExist = -1100;
inline constexpr std::int64_t NSURLErrorFileIsDirectory = -1101;
inline constexpr std::int64_t NSURLErrorNoPermissionsToReadFile = -1102;
inline constexpr std::int64_t NSURLErrorDataLengthExceedsMaximum = -1103;
inline constexpr std::int64_t NSURLErrorSecureConnectionFailed = -1200;
inline constexpr std::int64_t NSURLErrorServerCertificateUntrusted = -1202;
inline constexpr std::int64_t NSURLErrorClientCertificateRequired = -1206;
inline constexpr std::int64_t NSURLErrorCannotCreateFile = -3000;
inline constexpr std::int64_t NSURLErrorCannotOpenFile = -3001;
inline constexpr std::int64_t NSURLErrorCannotWriteToFile = -3003;

// The URL-loading code for a libcurl result code (a CURLcode), refined by the
// system error number libcurl saw (CURLINFO_OS_ERRNO, 0 when none): a connect
// that failed because no network is up is "not connected to internet" rather
// than "cannot connect to host".
[[nodiscard]] std::int64_t urlErrorCode(int curlCode, int osErrno = 0);

// An error of NSURLErrorDomain with the description and the failing URL in its
// user info.
[[nodiscard]] NSError makeURLError(std::int64_t code, std::string description, std::string_view failingUrl);

}  // namespace ambrell::platform

#pragma once

#include <cstdint>
#include <string_view>

namespace ambrell {

// The domain of the library's own error objects. Sub-domains such as
// "com.corvay.Ambrell.CVPoint" belong to one initialiser each and keep their
// own code 1; they are not listed here.
inline constexpr std::string_view kAmbrellErrorDomain = "com.corvay.Ambrell";

// Every code the library reports in kAmbrellErrorDomain. Hosts compare these
// numbers, so a code never changes once shipped; the six-digit ones are grouped
// by area (1014xx route network, 1015xx session, 1016xx data-set sync). A
// subsystem that reports a new code adds it here, which keeps two areas from
// taking the same number.
namespace AmbrellErrorCode {

// An exception of no error kind of its own reached a completion or a stored
// error field; its text is the description. Also the answer for an empty
// exception pointer ("No error").
inline constexpr std::int64_t kUnclassified = -1;

// A downloaded tile package is missing or could not be unpacked.
inline constexpr std::int64_t kTilePackageUnavailable = 101210;

// The venue's route network could be neither downloaded nor read; reported by
// the route-network service, and at once when no service is installed.
inline constexpr std::int64_t kRouteNetworkUnavailable = 101400;

// The session gateway rejected the API key. The session refresh stores it as
// its error, and the key is marked invalid on this code alone.
inline constexpr std::int64_t kInvalidApiKey = 101500;

// Loading or syncing content failed; the causes, when known, are under
// "syncContent::underlyingError".
inline constexpr std::int64_t kDataLoadingFailed = 101610;

// A data-set synchronisation was cancelled; the errors met before the
// cancellation, when there were any, are under "syncContent::underlyingError".
inline constexpr std::int64_t kDataSyncCancelled = 101600;

}  // namespace AmbrellErrorCode

}  // namespace ambrell

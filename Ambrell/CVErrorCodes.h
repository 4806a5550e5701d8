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

// The venue provider found no venue with the asked id in its list.
inline constexpr std::int64_t kVenueNotFound = 100200;

// The venue list could be neither downloaded nor read from the device.
inline constexpr std::int64_t kVenuesUnavailable = 100210;

// No building with the asked id in the building list.
inline constexpr std::int64_t kBuildingNotFound = 100300;

// The downloaded building list does not read and no list is held, or it was
// not modified while no list is in memory.
inline constexpr std::int64_t kBuildingsUnreadable = 100310;

// No solution to answer: the download failed and nothing is on the device;
// also the building list's answer to a failed download with no list.
inline constexpr std::int64_t kSolutionUnavailable = 100410;

// No app data to answer.
inline constexpr std::int64_t kAppDataUnavailable = 100810;

// No user roles to answer, also when the download is not a usable list.
inline constexpr std::int64_t kUserRolesUnavailable = 100910;

// No derived geometry to answer, also when the download is not a list of them.
inline constexpr std::int64_t kDerivedGeometryUnavailable = 100920;

// A provider was asked without a usable solution id; the text "Invalid
// parameter not satisfying: <condition> in <operation> (<file>:<line>)." is
// under "msg".
inline constexpr std::int64_t kInvalidParameter = 101200;

// A downloaded tile package is missing or could not be unpacked.
inline constexpr std::int64_t kTilePackageUnavailable = 101210;

// The venue's route network could be neither downloaded nor read; reported by
// the route-network service, and at once when no service is installed.
inline constexpr std::int64_t kRouteNetworkUnavailable = 101400;

// The route layer (the obstacles of path optimisation) could be neither
// downloaded nor read from the device.
inline constexpr std::int64_t kRouteLayerUnavailable = 103010;

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

#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ambrell {

// The two date texts that cross the library's boundaries: HTTP dates
// ("Last-Modified", "If-Modified-Since") and UTC ISO 8601 date-times with
// milliseconds (usage-event records, session records). Written and read with
// fixed English names, whatever the process locale, from any thread.
//
// Writing truncates to the millisecond. Reading answers none for anything that
// is not a valid date-time of the pattern, and for instants a time point cannot
// hold (system_clock counts nanoseconds: years 1678 to 2261 are safe).

// "Tue, 05 Mar 2024 07:08:09 GMT" (29 characters).
[[nodiscard]] std::string cv_asHTTPDate(std::chrono::system_clock::time_point date);

// Reads exactly the pattern cv_asHTTPDate writes. The weekday must be one of the
// English abbreviations but is not checked against the date, as HTTP servers
// are not always right about it.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> cv_fromHTTPDate(std::string_view text);

// "2024-03-05T07:08:09.123Z" (24 characters).
[[nodiscard]] std::string cv_asUtcIso8601(std::chrono::system_clock::time_point date);

// Reads cv_normalizedUtcIso8601 of the text as a date-time with a fraction and
// "Z" or a "+hh:mm"/"-hh:mm" offset. Digits of the fraction beyond the
// millisecond are dropped.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> cv_fromUtcIso8601(std::string_view text);

// Brings a UTC date-time without fraction, or with a short one, to the
// 24-character form: "2024-03-05T07:08:09Z" and "2024-03-05T07:08:09" become
// "2024-03-05T07:08:09.000Z", "2024-03-05T07:08:09.5Z" becomes
// "2024-03-05T07:08:09.500Z". Texts longer than 23 characters (bytes) are
// returned unchanged.
[[nodiscard]] std::string cv_normalizedUtcIso8601(std::string_view text);

}  // namespace ambrell

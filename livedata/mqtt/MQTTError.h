#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace ambrell {

// The error domain of the MQTT client library.
inline constexpr std::string_view MQTTSessionErrorDomain = "MQTT";

// A received frame that cannot be a packet: the session reports it as a
// protocol error.
inline constexpr std::int64_t kMQTTErrorIllegalMessage = -7;
inline constexpr std::string_view kMQTTErrorIllegalMessageText = "MQTT illegal message received";

// An error of the library's domain with text as its localised description.
[[nodiscard]] platform::NSError makeMQTTError(std::int64_t code, std::string_view text);

}  // namespace ambrell

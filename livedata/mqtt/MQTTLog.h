#pragma once

#include <cstdint>

namespace ambrell {

// The process-wide log level a user of the MQTT client sets. It is kept for
// them to read back; the client itself writes no diagnostics by it.
class MQTTLog {
public:
    static void setLogLevel(std::uint64_t level);
    [[nodiscard]] static std::uint64_t logLevel();
};

}  // namespace ambrell

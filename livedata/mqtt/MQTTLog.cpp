#include "livedata/mqtt/MQTTLog.h"

#include <atomic>

namespace ambrell {

namespace {
std::atomic<std::uint64_t>& level() {
    static std::atomic<std::uint64_t> value{0};
    return value;
}
}  // namespace

void MQTTLog::setLogLevel(std::uint64_t value) { level().store(value); }

std::uint64_t MQTTLog::logLevel() { return level().load(); }

}  // namespace ambrell

#include "livedata/mqtt/MQTTError.h"

namespace ambrell {

platform::NSError makeMQTTError(std::int64_t code, std::string_view text) {
    platform::NSError error;
    error.domain = std::string(MQTTSessionErrorDomain);
    error.code = code;
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), std::string(text));
    return error;
}

}  // namespace ambrell

#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace ambrell {

// The process-wide switch for strict argument checks of sessions. Off unless
// a user of the library turns it on; while on, a session refuses arguments
// that would make packets a broker must reject, by throwing MQTTStrictError
// before anything is sent.
class MQTTStrict {
public:
    [[nodiscard]] static bool strict();
    static void setStrict(bool strict);
};

// A refused argument: name() says which check failed, reason() shows the
// offending value.
class MQTTStrictError : public std::invalid_argument {
public:
    MQTTStrictError(std::string name, std::string reason);
    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] const std::string& reason() const { return reason_; }

private:
    std::string name_;
    std::string reason_;
};

// Topic filters of a SUBSCRIBE or UNSUBSCRIBE: not empty, each 1 to 65,535
// UTF-8 bytes, "+" alone on its level, "#" alone on the last level. Checks
// only while strict; throws MQTTStrictError.
void checkTopicFilters(const std::vector<std::string>& topicFilters);

}  // namespace ambrell

#include "livedata/mqtt/MQTTStrict.h"

#include <atomic>
#include <cstddef>
#include <string_view>

#include "platform/TextEncoding.h"

namespace ambrell {

namespace {

std::atomic<bool>& strictSwitch() {
    static std::atomic<bool> value{false};
    return value;
}

std::string listText(const std::vector<std::string>& list) {
    std::string text = "(";
    for (std::size_t i = 0; i < list.size(); ++i) text += (i == 0 ? "" : ", ") + list[i];
    return text + ")";
}

std::vector<std::string_view> levelsOf(std::string_view filter) {
    std::vector<std::string_view> levels;
    std::size_t start = 0;
    while (true) {
        const auto slash = filter.find('/', start);
        levels.push_back(
            filter.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) return levels;
        start = slash + 1;
    }
}

void checkTopicFilter(const std::string& filter) {
    const auto fail = [&filter](const char* name) { throw MQTTStrictError(name, "topicFilter = " + filter); };
    if (filter.empty()) throw MQTTStrictError("topicFilter must be at least 1 characters long", filter);
    if (filter.size() >= 65536) {
        throw MQTTStrictError("topicFilter may not be longer than 65535 bytes in UTF8 representation",
                              "topicFilter length = " + std::to_string(filter.size()));
    }
    if (!platform::isValidUTF8(filter)) fail("topicFilter must not contain non-UTF8 characters");
    const auto levels = levelsOf(filter);
    for (const auto level : levels) {
        if (level.find('+') != std::string_view::npos && level.size() >= 2) {
            fail("singlelevel wildcard must be alone on a level of a topic filter");
        }
    }
    if (levels.size() >= 2) {
        for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
            if (levels[i].find('#') != std::string_view::npos) {
                fail("multilevel wildcard must be on the last level of a topic filter");
            }
        }
    }
    if (levels.back().find('#') != std::string_view::npos && levels.back().size() >= 2) {
        fail("multilevel wildcard must be alone on a level of a topic filter");
    }
    const auto hash = filter.find('#');
    if (hash != std::string::npos && (hash != filter.size() - 1 || (filter.size() > 1 && filter[hash - 1] != '/'))) {
        fail("multilevel wildcard must alone on the last level of a topic filter");
    }
}

}  // namespace

bool MQTTStrict::strict() { return strictSwitch().load(); }

void MQTTStrict::setStrict(bool strict) { strictSwitch().store(strict); }

MQTTStrictError::MQTTStrictError(std::string name, std::string reason)
    : std::invalid_argument(name + ": " + reason), name_(std::move(name)), reason_(std::move(reason)) {}

void checkTopicFilters(const std::vector<std::string>& topicFilters) {
    if (!MQTTStrict::strict()) return;
    if (topicFilters.empty()) {
        throw MQTTStrictError("topicFilter array in SUBSCRIBE or UNSUBSRIBE must not be empty", listText(topicFilters));
    }
    for (const auto& filter : topicFilters) checkTopicFilter(filter);
}

}  // namespace ambrell

#include "platform/Logger.h"

#include <mutex>

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/stdout_color_sinks.h>

namespace ambrell::platform {

namespace {

spdlog::level::level_enum spdlogLevel(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return spdlog::level::debug;
        case LogLevel::info: return spdlog::level::info;
        case LogLevel::error: return spdlog::level::err;
    }
    return spdlog::level::err;
}

class StandardErrorSink final : public LogSink {
public:
    StandardErrorSink() : logger_("ambrell", std::make_shared<spdlog::sinks::stderr_color_sink_mt>()) {
        logger_.set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ %v");
        logger_.set_level(spdlog::level::debug);
    }

    void write(LogLevel level, std::string_view channel, std::string_view message) override {
        logger_.log(spdlogLevel(level), "[{}] {}", channel, message);
    }

private:
    // Kept out of spdlog's registry so that a host using spdlog itself never
    // clashes with our logger's name.
    spdlog::logger logger_;
};

struct SinkSlot {
    std::mutex mutex;
    std::shared_ptr<LogSink> installed;
    std::shared_ptr<LogSink> standardError = std::make_shared<StandardErrorSink>();
};

// Never destroyed: code running in static destructors may still log.
SinkSlot& sinkSlot() {
    static auto* const slot = new SinkSlot;
    return *slot;
}

std::shared_ptr<LogSink> activeSink() {
    auto& slot = sinkSlot();
    std::lock_guard lock(slot.mutex);
    return slot.installed ? slot.installed : slot.standardError;
}

}  // namespace

Logger::Logger(std::string channel) : channel_(std::move(channel)) {}

void Logger::log(LogLevel level, std::string_view message) const noexcept {
    try {
        activeSink()->write(level, channel_, message);
    } catch (...) {
        // A failing sink must not turn a log line into a failure of the caller.
    }
}

void Logger::logFormatted(LogLevel level, fmt::string_view format, fmt::format_args args) const noexcept {
    std::string message;
    try {
        message = fmt::vformat(format, args);
    } catch (const std::exception& error) {
        // Only a runtime format string can get here; keep the line readable.
        try {
            message =
                fmt::format("{} (format error: {})", std::string_view(format.data(), format.size()), error.what());
        } catch (...) {
            return;
        }
    }
    log(level, message);
}

void Logger::setSink(std::shared_ptr<LogSink> sink) {
    auto& slot = sinkSlot();
    std::lock_guard lock(slot.mutex);
    // The previous sink dies with `sink`, once the lock is released, so its
    // destructor may log; writes in flight on other threads hold their own reference.
    slot.installed.swap(sink);
}

std::shared_ptr<LogSink> Logger::sink() {
    auto& slot = sinkSlot();
    std::lock_guard lock(slot.mutex);
    return slot.installed;
}

}  // namespace ambrell::platform

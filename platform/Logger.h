#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/core.h>

namespace ambrell::platform {

enum class LogLevel { debug, info, error };

// Where log lines go. Called from any thread, concurrently: an implementation
// guards its own state.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(LogLevel level, std::string_view channel, std::string_view message) = 0;
};

// A named channel of the process-wide log. Cheap to copy; logging never
// throws, whatever the sink or the format arguments do.
class Logger {
public:
    explicit Logger(std::string channel);

    [[nodiscard]] const std::string& channel() const { return channel_; }

    // A plain message is written as it is: braces in it are not format fields.
    void debug(std::string_view message) const noexcept { log(LogLevel::debug, message); }
    void info(std::string_view message) const noexcept { log(LogLevel::info, message); }
    void error(std::string_view message) const noexcept { log(LogLevel::error, message); }

    template <typename... Args>
    void debug(fmt::format_string<Args...> format, Args&&... args) const noexcept {
        logFormatted(LogLevel::debug, format, fmt::make_format_args(args...));
    }
    template <typename... Args>
    void info(fmt::format_string<Args...> format, Args&&... args) const noexcept {
        logFormatted(LogLevel::info, format, fmt::make_format_args(args...));
    }
    template <typename... Args>
    void error(fmt::format_string<Args...> format, Args&&... args) const noexcept {
        logFormatted(LogLevel::error, format, fmt::make_format_args(args...));
    }

    void log(LogLevel level, std::string_view message) const noexcept;

    // Replaces the process-wide sink; nullptr restores the default one, which
    // writes to standard error.
    static void setSink(std::shared_ptr<LogSink> sink);
    // The sink set with setSink(), or null while the default one is in use.
    [[nodiscard]] static std::shared_ptr<LogSink> sink();

private:
    void logFormatted(LogLevel level, fmt::string_view format, fmt::format_args args) const noexcept;

    std::string channel_;
};

}  // namespace ambrell::platform

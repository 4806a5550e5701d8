#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Logger.h"

namespace ambrell::test {

// Records every log line, from any thread.
class CapturingLogSink : public platform::LogSink {
public:
    struct Entry {
        platform::LogLevel level;
        std::string channel;
        std::string message;
    };

    void write(platform::LogLevel level, std::string_view channel, std::string_view message) override {
        std::lock_guard lock(mutex_);
        entries_.push_back(Entry{level, std::string(channel), std::string(message)});
    }

    [[nodiscard]] std::vector<Entry> messages() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

    // Whether a recorded message contains the text.
    [[nodiscard]] bool contains(std::string_view text) const {
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_) {
            if (entry.message.find(text) != std::string::npos) return true;
        }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// Installs a capturing sink for as long as it lives, then puts the previous
// sink back.
class ScopedLogCapture {
public:
    ScopedLogCapture() : previous_(platform::Logger::sink()) { platform::Logger::setSink(sink_); }
    ~ScopedLogCapture() { platform::Logger::setSink(previous_); }
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

    [[nodiscard]] const CapturingLogSink& sink() const { return *sink_; }

private:
    std::shared_ptr<platform::LogSink> previous_;
    std::shared_ptr<CapturingLogSink> sink_ = std::make_shared<CapturingLogSink>();
};

}  // namespace ambrell::test

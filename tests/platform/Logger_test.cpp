#include "platform/Logger.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/CapturingLogSink.h"
#include "tests/support/WaitFor.h"

namespace ambrell::platform {
namespace {

TEST(LoggerTest, SinkReceivesLevelChannelAndFormattedMessage) {
    test::ScopedLogCapture capture;
    const Logger logger("maps");
    logger.debug("plain");
    logger.info("{} of {} floors", 3, std::string("five"));
    logger.error(std::string("user text with {} and {0}"));  // not a format
    logger.error(fmt::runtime("{} and {}"), 1);              // a bad runtime format is logged, not thrown

    using Line = std::tuple<LogLevel, std::string, std::string>;
    std::vector<Line> lines;
    for (const auto& entry : capture.sink().messages()) lines.emplace_back(entry.level, entry.channel, entry.message);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], Line(LogLevel::debug, "maps", "plain"));
    EXPECT_EQ(lines[1], Line(LogLevel::info, "maps", "3 of five floors"));
    EXPECT_EQ(lines[2], Line(LogLevel::error, "maps", "user text with {} and {0}"));
    EXPECT_TRUE(capture.sink().contains("format error"));
}

TEST(LoggerTest, FailingSinkDoesNotReachTheCallerAndNullRestoresStandardError) {
    struct ThrowingSink : LogSink {
        void write(LogLevel, std::string_view, std::string_view) override { throw std::runtime_error("disk full"); }
    };
    Logger::setSink(std::make_shared<ThrowingSink>());
    EXPECT_NO_THROW(Logger("maps").error("lost"));

    Logger::setSink(nullptr);
    testing::internal::CaptureStderr();
    Logger("maps").error("to standard error {}", 42);
    const auto written = testing::internal::GetCapturedStderr();
    EXPECT_NE(written.find("[maps] to standard error 42"), std::string::npos) << written;
}

TEST(LoggerTest, SinkCanBeReplacedWhileOtherThreadsLog) {
    auto first = std::make_shared<test::CapturingLogSink>();
    auto second = std::make_shared<test::CapturingLogSink>();
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int index = 0; index < 4; ++index) {
        writers.emplace_back([&, index] {
            while (!stop) Logger("thread").debug("line from {}", index);
        });
    }
    for (int swap = 0; swap < 200; ++swap) Logger::setSink(swap % 2 == 0 ? first : second);
    EXPECT_TRUE(test::waitFor([&] { return second->contains("line from"); }));  // the last one set
    stop = true;
    for (auto& writer : writers) writer.join();
    Logger::setSink(nullptr);
}

}  // namespace
}  // namespace ambrell::platform

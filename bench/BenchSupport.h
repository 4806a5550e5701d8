#pragma once

// What the benchmarks share: a log sink that writes nothing (the library's
// own log lines would otherwise be measured with the work) and reading a
// whole file.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Logger.h"

namespace ambrell::bench {

class QuietLogSink final : public platform::LogSink {
public:
    void write(platform::LogLevel /*level*/, std::string_view /*category*/, std::string_view /*message*/) override {}
};

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace ambrell::bench

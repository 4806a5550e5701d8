#pragma once

// What the benchmarks share: a log sink that writes nothing (the library's
// own log lines would otherwise be measured with the work), reading a whole
// file, two arms timed in turns, and the median by which they are judged.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

// 0 for no values: a run stopped by an error has no figures.
inline double medianOf(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The seconds `run` takes.
template <typename Run>
double secondsOf(Run&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Two arms timed in turns, one of each per call and the first of them
// alternating, so that a load that comes and goes on the machine weighs on
// both alike. Kept over every repetition: the closing figures are medians.
struct ArmsInTurns {
    std::vector<double> firstSeconds;
    std::vector<double> secondSeconds;

    template <typename First, typename Second>
    void runBoth(First&& first, Second&& second) {
        if (firstSeconds.size() % 2 == 0) {
            firstSeconds.push_back(secondsOf(first));
            secondSeconds.push_back(secondsOf(second));
        } else {
            secondSeconds.push_back(secondsOf(second));
            firstSeconds.push_back(secondsOf(first));
        }
    }
};

}  // namespace ambrell::bench

#pragma once

// What the benchmarks share: a log sink that writes nothing (the library's
// own log lines would otherwise be measured with the work), reading a whole
// file, two arms timed in turns, and the median of their rounds' ratios by
// which they are judged.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
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

// The median of the rounds' ratios, numerators[i] / denominators[i]. Both
// terms of a ratio were timed side by side, so that a load that comes and
// goes on the machine weighs on both alike; a ratio of two medians would set
// a quiet round of one arm against a busy round of the other. 0 for no rounds.
inline double medianOfRatios(const std::vector<double>& numerators, const std::vector<double>& denominators) {
    std::vector<double> ratios;
    const std::size_t rounds = std::min(numerators.size(), denominators.size());
    ratios.reserve(rounds);
    for (std::size_t i = 0; i < rounds; ++i) {
        if (denominators[i] > 0) ratios.push_back(numerators[i] / denominators[i]);
    }
    return medianOf(std::move(ratios));
}

// The seconds `run` takes.
template <typename Run>
double secondsOf(Run&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The seconds an arm takes to make something and to let go of it, while
// `check` looks at what it made in between, untimed: the check stays out of
// the arm's time, the letting go does not, as when nothing was checked. What
// is made must leave nothing behind when moved from (containers, owning
// pointers, handles to an implementation).
template <typename Make, typename Check>
double secondsToMake(Make&& make, Check&& check) {
    auto start = std::chrono::steady_clock::now();
    auto made = make();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    check(std::as_const(made));
    start = std::chrono::steady_clock::now();
    { const auto gone = std::move(made); }
    return seconds + std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Two arms timed in turns, one of each per call and the first of them
// alternating, so that a load that comes and goes on the machine weighs on
// both alike. Kept over every repetition: the closing figures are medians,
// the verdict the median of the rounds' ratios. A round whose results were
// not what both arms should have made records a fault: the times then
// measure no equal work, and no ratio is given.
struct ArmsInTurns {
    std::vector<double> firstSeconds;
    std::vector<double> secondSeconds;
    std::string fault;

    // The first fault is kept: the later ones tend to follow from it.
    void fail(std::string why) {
        if (fault.empty()) fault = std::move(why);
    }
    [[nodiscard]] bool failed() const { return !fault.empty(); }
    [[nodiscard]] std::size_t rounds() const { return std::min(firstSeconds.size(), secondSeconds.size()); }
    // The first arm's time over the second's: the median of the rounds'
    // ratios; 0 for no rounds or after a fault.
    [[nodiscard]] double medianRatio() const { return failed() ? 0.0 : medianOfRatios(firstSeconds, secondSeconds); }
    // The second arm's time over the first's, for figures given as rates.
    [[nodiscard]] double medianInverseRatio() const {
        return failed() ? 0.0 : medianOfRatios(secondSeconds, firstSeconds);
    }

    // Ends a checked round of `round`, one repetition's arms: keeps its
    // times here, or, when its results were wrong, the fault, and says so.
    [[nodiscard]] bool keepRound(const ArmsInTurns& round, const std::string& roundFault) {
        if (!roundFault.empty()) {
            fail(roundFault);
            return false;
        }
        firstSeconds.push_back(round.firstSeconds.back());
        secondSeconds.push_back(round.secondSeconds.back());
        return true;
    }

    template <typename First, typename Second>
    void runBoth(First&& first, Second&& second) {
        runBothTimed([&] { return secondsOf(first); }, [&] { return secondsOf(second); });
    }

    // The same for arms that time themselves, each answering its seconds: an
    // arm that checks what it made before letting it go leaves the check out
    // of its time, but not the letting go.
    template <typename First, typename Second>
    void runBothTimed(First&& first, Second&& second) {
        if (firstSeconds.size() % 2 == 0) {
            firstSeconds.push_back(first());
            secondSeconds.push_back(second());
        } else {
            secondSeconds.push_back(second());
            firstSeconds.push_back(first());
        }
    }
};

// A time as a reader takes it in: microseconds below a millisecond.
inline std::string durationText(double seconds) {
    char text[32];
    if (seconds < 1e-3) {
        std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
    }
    return text;
}

// The closing line of a pair of arms: each one's median time and the median
// of the rounds' ratios, the first arm's time over the second's, with the
// goal it is judged by (none when empty); when a round's results were wrong,
// what went wrong instead of any figure.
inline void printVerdict(std::string_view subject, const ArmsInTurns& arms, std::string_view first,
                         std::string_view second, std::string_view goal) {
    const auto text = [](std::string_view view) { return std::string(view); };
    if (arms.failed()) {
        std::printf("%s: no ratio, a round went wrong: %s\n", text(subject).c_str(), arms.fault.c_str());
    } else if (arms.rounds() == 0) {
        std::printf("%s: not run\n", text(subject).c_str());
    } else {
        std::printf("%s, in turns, medians: %s %s, %s %s; ratio %.2f (median of %zu rounds' ratios%s%s)\n",
                    text(subject).c_str(), text(first).c_str(), durationText(medianOf(arms.firstSeconds)).c_str(),
                    text(second).c_str(), durationText(medianOf(arms.secondSeconds)).c_str(), arms.medianRatio(),
                    arms.rounds(), goal.empty() ? "" : "; goal ", text(goal).c_str());
    }
}

}  // namespace ambrell::bench

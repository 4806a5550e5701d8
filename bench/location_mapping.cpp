// The locations document mapped into location objects, and each location's
// search-engine record built, against Boost.JSON's parse of the same bytes.
//
//     location_mapping [benchmark flags] [locations.json]
//
// Without a path the document is generated here, the same on every run:
// 50,000 GeoJSON features shaped like the web service's (rooms as polygons
// with an anchor, points of interest, areas). With a path, that document is
// read instead, such as the large sample solution's:
//
//     python3 examples/sample-solution/generate.py --out /tmp/big --large
//     location_mapping /tmp/big/service/sync/locations_en.json
//
// The mapping and the raw parse also run in turns
// (BM_MappingAndRawParseInTurn), each round's two results checked to hold
// every feature of the document: the closing line, the median of the rounds'
// ratios over every repetition, is the figure to judge by.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "bench/BenchSupport.h"
#include "data/CVLocationInternal.h"

namespace ambrell::bench {

constexpr int kBuiltInLocations = 50'000;

class Generator {
public:
    std::uint32_t below(std::uint32_t bound) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33) % bound;
    }
    double between(double low, double high) { return low + (high - low) * (below(1u << 30) / double(1u << 30)); }

private:
    std::uint64_t state_ = 20240601;
};

void appendNumber(std::string& out, double value) {
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "%.7f", value);
    out.append(buffer, static_cast<std::size_t>(length));
}

void appendPair(std::string& out, double longitude, double latitude) {
    out += '[';
    appendNumber(out, longitude);
    out += ',';
    appendNumber(out, latitude);
    out += ']';
}

std::string generateDocument() {
    static constexpr const char* kTypes[] = {"Office", "MeetingRoom", "Toilet", "Kitchen",
                                             "Lift",   "Stairs",      "Desk",   "Lounge"};
    Generator random;
    std::string out = "[\n";
    for (int n = 0; n < kBuiltInLocations; ++n) {
        if (n > 0) out += ",\n";
        const double latitude = random.between(51.47, 51.48);
        const double longitude = random.between(-0.002, 0.002);
        const std::uint32_t kind = random.below(3);  // room, point of interest, area
        const std::string floor = std::to_string(random.below(5));
        out += R"({"id":"loc-)" + std::to_string(n) + R"(","type":"Feature","geometry":)";
        if (kind == 1) {
            out += R"({"type":"Point","coordinates":)";
            appendPair(out, longitude, latitude);
            out += '}';
        } else {
            out += R"({"type":"Polygon","coordinates":[[)";
            const double d = 0.00004;
            appendPair(out, longitude - d, latitude - d);
            out += ',';
            appendPair(out, longitude + d, latitude - d);
            out += ',';
            appendPair(out, longitude + d, latitude + d);
            out += ',';
            appendPair(out, longitude - d, latitude + d);
            out += ',';
            appendPair(out, longitude - d, latitude - d);
            out += "]]}";
        }
        const char* type = kTypes[random.below(std::size(kTypes))];
        out += R"(,"properties":{"name":"Room )" + std::to_string(n) + R"(","type":")" + type +
               R"(","locationType":")" +
               (kind == 0   ? "ROOM"
                : kind == 1 ? "POI"
                            : "AREA") +
               R"(","venue":"MERIDIAN","building":"HALL-)" + std::to_string(random.below(3)) + R"(","floor":)" + floor +
               R"(,"floorName":"Floor )" + floor + R"(","externalId":"EXT-)" + std::to_string(n) +
               R"(","aliases":["R)" + std::to_string(n) + R"(","Wing )" + std::to_string(random.below(4)) +
               R"("],"categories":{"facilities":"Facilities"},"fields":{"email":{"type":"email","text":"Email",)" +
               R"("value":"room)" + std::to_string(n) + R"(@example.com"}},"status":3)";
        if (kind != 1) {
            out += R"(,"anchor":{"type":"Point","coordinates":)";
            appendPair(out, longitude, latitude);
            out += '}';
        }
        out += "}}";
    }
    out += "\n]\n";
    return out;
}

std::string& document() {
    static std::string text;
    return text;
}

// The features of the document, as the raw parse counts them.
std::size_t& documentFeatures() {
    static std::size_t features = 0;
    return features;
}

std::size_t featuresOf(const boost::json::value& parsed) {
    const boost::json::value* features = &parsed;
    if (parsed.is_object()) features = parsed.get_object().if_contains("features");
    return features != nullptr && features->is_array() ? features->get_array().size() : 0;
}

std::span<const std::uint8_t> bytes() {
    return {reinterpret_cast<const std::uint8_t*>(document().data()), document().size()};
}

std::size_t mappedLocations = 0;

void BM_RawParse(benchmark::State& state) {
    for (auto _ : state) {
        boost::json::value parsed = boost::json::parse(document());
        benchmark::DoNotOptimize(parsed);
    }
}
BENCHMARK(BM_RawParse)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MapLocations(benchmark::State& state) {
    std::size_t count = 0;
    for (auto _ : state) {
        auto dataset = CVLocationDataset::fromData(bytes());
        count = dataset && dataset->list ? dataset->list->size() : 0;
        benchmark::DoNotOptimize(dataset);
    }
    mappedLocations = count;
    state.counters["locations/s"] = benchmark::Counter(
        static_cast<double>(count) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MapLocations)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MapLocationsAndBuildRecords(benchmark::State& state) {
    std::size_t count = 0;
    for (auto _ : state) {
        auto dataset = CVLocationDataset::fromData(bytes());
        std::vector<AXLocation> records;
        if (dataset && dataset->list) {
            records.reserve(dataset->list->size());
            for (const auto& location : *dataset->list) records.push_back(location->axLocation());
        }
        count = records.size();
        benchmark::DoNotOptimize(records);
    }
    state.counters["locations/s"] = benchmark::Counter(
        static_cast<double>(count) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MapLocationsAndBuildRecords)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The mapping (first) and the raw parse (second), over every repetition.
ArmsInTurns& inTurnRounds() {
    static ArmsInTurns rounds;
    return rounds;
}

// The mapping and the raw parse in turns: the ratio is judged from here.
// Each arm counts what it made as it finishes, and the counts are checked
// after the round.
void BM_MappingAndRawParseInTurn(benchmark::State& state) {
    ArmsInTurns& rounds = inTurnRounds();
    ArmsInTurns repetition;
    for (auto _ : state) {
        std::size_t mapped = 0;
        std::size_t parsedFeatures = 0;
        repetition.runBoth(
            [&] {
                auto dataset = CVLocationDataset::fromData(bytes());
                mapped = dataset && dataset->list ? dataset->list->size() : 0;
                benchmark::DoNotOptimize(dataset);
            },
            [&] {
                boost::json::value parsed = boost::json::parse(document());
                benchmark::DoNotOptimize(parsed);
                parsedFeatures = featuresOf(parsed);
            });
        mappedLocations = mapped;
        std::string fault;
        if (mapped != documentFeatures() || parsedFeatures != documentFeatures())
            fault = "of " + std::to_string(documentFeatures()) + " features the mapping made " +
                    std::to_string(mapped) + " locations, the parse " + std::to_string(parsedFeatures) + " features";
        if (!rounds.keepRound(repetition, fault)) {
            state.SkipWithError(rounds.fault.c_str());
            break;
        }
    }
    state.counters["mapping_ms"] = medianOf(repetition.firstSeconds) * 1e3;
    state.counters["parse_ms"] = medianOf(repetition.secondSeconds) * 1e3;
    state.counters["ratio"] = repetition.medianRatio();
}
BENCHMARK(BM_MappingAndRawParseInTurn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);

// Prints locations per second and the times against the raw parse after the
// table. Under repetitions each figure is the median of its repetitions: the
// other aggregate rows (mean, standard deviation, coefficient of variation)
// are no times or rates. Where only aggregates are shown, the median row is
// taken. The single arms ran apart, so no ratio is made of them: the closing
// line is the one from the rounds in turns, the median of their ratios over
// every repetition.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            Figures& figures = figures_[run.run_name.function_name];
            const auto rate = run.counters.find("locations/s");
            if (run.run_type == Run::RT_Iteration) {
                figures.seconds.push_back(run.GetAdjustedRealTime());
                if (rate != run.counters.end()) figures.rates.push_back(rate->second.value);
            } else if (run.aggregate_name == "median") {
                figures.medianSeconds = run.GetAdjustedRealTime();
                if (rate != run.counters.end()) figures.medianRate = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const Figures parse = figuresOf("BM_RawParse");
        const Figures map = figuresOf("BM_MapLocations");
        const Figures records = figuresOf("BM_MapLocationsAndBuildRecords");
        std::printf("document: %.1f MB, %zu locations\n", static_cast<double>(document().size()) / 1e6,
                    mappedLocations);
        if (parse.time() > 0) std::printf("raw parse:          %.1f ms\n", parse.time());
        printLine("mapping:           ", map);
        printLine("mapping + records: ", records);
        const ArmsInTurns& rounds = inTurnRounds();
        const double mappingSeconds = medianOf(rounds.firstSeconds);
        const double parseSeconds = medianOf(rounds.secondSeconds);
        if (rounds.failed()) {
            std::printf("in turns: no ratio, a round went wrong: %s\n", rounds.fault.c_str());
        } else if (rounds.rounds() > 0) {
            std::printf(
                "in turns, medians: mapping %.1f ms (%.0f locations/s), raw parse %.1f ms; %.2f x the raw parse's "
                "time (median of %zu rounds' ratios)\n",
                mappingSeconds * 1e3, static_cast<double>(mappedLocations) / mappingSeconds, parseSeconds * 1e3,
                rounds.medianRatio(), rounds.rounds());
        }
    }

private:
    struct Figures {
        std::vector<double> seconds;
        std::vector<double> rates;
        double medianSeconds = 0;
        double medianRate = 0;
        [[nodiscard]] double time() const { return seconds.empty() ? medianSeconds : medianOf(seconds); }
        [[nodiscard]] double rate() const { return rates.empty() ? medianRate : medianOf(rates); }
    };

    Figures figuresOf(const std::string& function) const {
        const auto found = figures_.find(function);
        return found != figures_.end() ? found->second : Figures{};
    }

    // A benchmark left out by a filter says so rather than showing zeros.
    static void printLine(const char* label, const Figures& figures) {
        if (figures.time() <= 0) {
            std::printf("%s not run\n", label);
        } else {
            std::printf("%s %.0f locations/s\n", label, figures.rate());
        }
    }

    std::map<std::string, Figures> figures_;
};

}  // namespace ambrell::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] [locations.json]\n", argv[0]);
        return 2;
    }
    if (argc == 2) {
        std::ifstream file(argv[1], std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "location_mapping: cannot read %s\n", argv[1]);
            return 1;
        }
        ambrell::bench::document().assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } else {
        ambrell::bench::document() = ambrell::bench::generateDocument();
    }
    try {
        ambrell::bench::documentFeatures() = ambrell::bench::featuresOf(boost::json::parse(ambrell::bench::document()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "location_mapping: the document is not JSON: %s\n", error.what());
        return 1;
    }
    ambrell::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

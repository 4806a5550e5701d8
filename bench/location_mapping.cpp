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

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

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

// Prints locations per second and the times against the raw parse after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const double seconds = run.GetAdjustedRealTime();
            if (name.starts_with("BM_RawParse")) parse_ = seconds;
            if (name.starts_with("BM_MapLocations/")) map_ = seconds;
            if (name.starts_with("BM_MapLocationsAndBuildRecords")) records_ = seconds;
            if (auto rate = run.counters.find("locations/s"); rate != run.counters.end()) {
                (name.starts_with("BM_MapLocationsAndBuildRecords") ? recordsRate_ : mapRate_) = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf(
            "document: %.1f MB, %zu locations\n"
            "mapping:            %.0f locations/s, %.2f x the raw parse's time\n"
            "mapping + records:  %.0f locations/s, %.2f x the raw parse's time\n",
            static_cast<double>(document().size()) / 1e6, mappedLocations, mapRate_, parse_ > 0 ? map_ / parse_ : 0.0,
            recordsRate_, parse_ > 0 ? records_ / parse_ : 0.0);
    }

private:
    double parse_ = 0;
    double map_ = 0;
    double records_ = 0;
    double mapRate_ = 0;
    double recordsRate_ = 0;
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
        (void)boost::json::parse(ambrell::bench::document());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "location_mapping: the document is not JSON: %s\n", error.what());
        return 1;
    }
    ambrell::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

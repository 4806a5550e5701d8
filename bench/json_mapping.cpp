// JSON to model mapping of a large locations document, against Boost.JSON's
// parse of the same bytes alone. The document is generated here, the same on
// every run: tens of thousands of GeoJSON location features. The mapping and
// the parse into an arena also run in turns (BM_MappingAndArenaParseInTurn),
// each round's two results checked to hold every feature of the document:
// the closing line, the median of the rounds' ratios over every repetition,
// is the figure to judge by (goal: the mapping at half the arena parse's MB/s
// or better).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "bench/BenchSupport.h"
#include "jsonmodel/JSONModel/JSONModel.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell::bench {

struct FieldModel : JSONModelOf<FieldModel> {
    std::optional<std::string> text;
    std::string value;
};
BOOST_DESCRIBE_STRUCT(FieldModel, (JSONModel), (text, value))

struct AnchorModel : JSONModelOf<AnchorModel> {
    std::string type;
    std::vector<double> coordinates;
};
BOOST_DESCRIBE_STRUCT(AnchorModel, (JSONModel), (type, coordinates))

struct GeometryModel : JSONModelOf<GeometryModel> {
    std::string type;
    boost::json::value coordinates;
};
BOOST_DESCRIBE_STRUCT(GeometryModel, (JSONModel), (type, coordinates))

// Shaped like the location model: most values one level down, under "properties".
struct LocationModel : JSONModelOf<LocationModel> {
    std::string locationId;
    std::string name;
    std::string type;
    std::string locationBaseTypeString;
    std::string venue;
    std::string building;
    std::optional<double> floorIndex;
    std::string floorName;
    std::optional<std::string> externalId;
    std::optional<std::string> locationDescription;
    std::vector<std::string> aliases;
    std::vector<std::string> categories;
    std::map<std::string, std::shared_ptr<FieldModel>> fields;
    std::optional<std::string> imageURL;
    std::optional<double> activeFrom;
    std::optional<double> activeTo;
    bool isBookable = false;
    std::vector<std::string> restrictions;
    std::optional<int> status;
    std::shared_ptr<AnchorModel> anchor;
    std::shared_ptr<GeometryModel> geometry;

    static void declareJSON(JSONModelDeclaration<LocationModel>& d) {
        d.keyMapper(JSONKeyMapper::initWithModelToJSONDictionary({
                        {"locationId", "id"},
                        {"name", "properties.name"},
                        {"type", "properties.type"},
                        {"locationBaseTypeString", "properties.locationType"},
                        {"venue", "properties.venue"},
                        {"building", "properties.building"},
                        {"floorIndex", "properties.floor"},
                        {"floorName", "properties.floorName"},
                        {"externalId", "properties.externalId"},
                        {"locationDescription", "properties.description"},
                        {"aliases", "properties.aliases"},
                        {"categories", "properties.categories"},
                        {"fields", "properties.fields"},
                        {"imageURL", "properties.imageURL"},
                        {"activeFrom", "properties.activeFrom"},
                        {"activeTo", "properties.activeTo"},
                        {"isBookable", "properties.bookable"},
                        {"restrictions", "properties.restrictions"},
                        {"status", "properties.status"},
                        {"anchor", "properties.anchor"},
                    }))
            .optional({"name", "type", "locationBaseTypeString", "venue", "building", "floorName", "aliases",
                       "categories", "fields", "isBookable", "restrictions", "anchor", "geometry"});
    }
};
BOOST_DESCRIBE_STRUCT(LocationModel, (JSONModel),
                      (locationId, name, type, locationBaseTypeString, venue, building, floorIndex, floorName,
                       externalId, locationDescription, aliases, categories, fields, imageURL, activeFrom, activeTo,
                       isBookable, restrictions, status, anchor, geometry))

struct FeatureCollectionModel : JSONModelOf<FeatureCollectionModel> {
    std::string type;
    std::vector<std::shared_ptr<LocationModel>> features;
};
BOOST_DESCRIBE_STRUCT(FeatureCollectionModel, (JSONModel), (type, features))

// A small linear congruential generator: the same document on every run.
class Generator {
public:
    std::uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::uint32_t below(std::uint32_t bound) { return next() % bound; }
    double between(double low, double high) { return low + (high - low) * (next() / 2147483648.0); }
    std::string word() {
        static constexpr const char* kWords[] = {"Meeting", "Room", "Cafe", "Lobby", "North", "East",    "Stairs",
                                                 "Office",  "Lab",  "Hall", "Quiet", "Print", "Kitchen", "Lounge"};
        return kWords[below(std::size(kWords))];
    }

private:
    std::uint64_t state_ = 20240501;
};

void appendNumber(std::string& out, double value) {
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "%.7f", value);
    out.append(buffer, static_cast<std::size_t>(length));
}

// The document and the number of its features.
std::pair<std::string, std::size_t> generateDocument(std::size_t minimumBytes) {
    Generator random;
    std::size_t features = 0;
    std::string out = R"({"type": "FeatureCollection", "features": [)";
    out.reserve(minimumBytes + 4096);
    for (int n = 0; out.size() < minimumBytes; ++n) {
        ++features;
        if (n > 0) out += ",\n";
        const double lat = random.between(55.0, 56.0);
        const double lng = random.between(12.0, 13.0);
        const bool polygon = random.below(3) != 0;
        out += R"({"id": ")" + std::to_string(0x10000000 + n * 7919) + R"(a1b2c3d4", "type": "Feature", "geometry": )";
        if (polygon) {
            out += R"({"type": "Polygon", "coordinates": [[)";
            const std::uint32_t corners = 4 + random.below(9);
            for (std::uint32_t c = 0; c <= corners; ++c) {
                if (c > 0) out += ", ";
                out += "[";
                appendNumber(out, lng + random.between(-0.0002, 0.0002));
                out += ", ";
                appendNumber(out, lat + random.between(-0.0002, 0.0002));
                out += "]";
            }
            out += "]]}";
        } else {
            out += R"({"type": "Point", "coordinates": [)";
            appendNumber(out, lng);
            out += ", ";
            appendNumber(out, lat);
            out += "]}";
        }
        out += R"(, "properties": {"name": ")" + random.word() + " " + random.word() + " " + std::to_string(n) +
               R"(", "type": ")" + random.word() + R"(", "locationType": ")" + (polygon ? "room" : "poi") +
               R"(", "venue": "HQ", "building": "B)" + std::to_string(random.below(4)) + R"(", "floor": )" +
               std::to_string(random.below(8) * 10) + R"(, "floorName": ")" + std::to_string(random.below(8)) +
               R"(", "externalId": "EXT-)" + std::to_string(n) + R"(", "description": "A )" + random.word() +
               " next to the " + random.word() + R"(", "aliases": [")" + random.word() + R"(", ")" + random.word() +
               R"("], "categories": ["c)" + std::to_string(random.below(20)) +
               R"("], "fields": {"website": {"text": "Website", "value": "https://example.com/)" + std::to_string(n) +
               R"("}, "capacity": {"value": ")" + std::to_string(random.below(40)) +
               R"("}}, "imageURL": "https://images.example.com/)" + std::to_string(n) +
               R"(.png", "activeFrom": 1700000000, "bookable": )" + (random.below(5) == 0 ? "true" : "false") +
               R"(, "restrictions": [], "status": 3, "anchor": {"type": "Point", "coordinates": [)";
        appendNumber(out, lng);
        out += ", ";
        appendNumber(out, lat);
        out += "]}}}";
    }
    out += "]}";
    return {out, features};
}

const std::pair<std::string, std::size_t>& generated() {
    static const auto made = generateDocument(22 * 1000 * 1000);
    return made;
}

const std::string& document() { return generated().first; }

std::size_t documentFeatures() { return generated().second; }

void setThroughput(benchmark::State& state) {
    const double bytes = static_cast<double>(document().size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

void BM_ParseOnly(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        boost::json::value parsed = boost::json::parse(text);
        benchmark::DoNotOptimize(parsed);
    }
    setThroughput(state);
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The same parse into an arena freed at once, as the mapping parses: the
// cost of the parse alone without the per-node frees.
void BM_ParseOnlyIntoArena(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        boost::json::monotonic_resource arena;
        boost::json::value parsed = boost::json::parse(text, boost::json::storage_ptr(&arena));
        benchmark::DoNotOptimize(parsed);
    }
    setThroughput(state);
}
BENCHMARK(BM_ParseOnlyIntoArena)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_MapIntoModels(benchmark::State& state) {
    const std::string& text = document();
    std::size_t features = 0;
    for (auto _ : state) {
        std::optional<JSONModelError> error;
        auto collection = FeatureCollectionModel::fromString(text, &error);
        if (!collection) {
            state.SkipWithError(error ? error->localizedDescription().c_str() : "mapping failed");
            return;
        }
        features = collection->features.size();
        benchmark::DoNotOptimize(collection);
    }
    if (features != documentFeatures()) state.SkipWithError("the mapping lost features");
    state.counters["features"] = static_cast<double>(features);
    setThroughput(state);
}
BENCHMARK(BM_MapIntoModels)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The mapping (first) and the arena parse (second), over every repetition.
ArmsInTurns& inTurnRounds() {
    static ArmsInTurns rounds;
    return rounds;
}

// The mapping and the arena parse in turns: the ratio is judged from here.
// Each arm counts the features it made as it finishes, and the counts are
// checked after the round.
void BM_MappingAndArenaParseInTurn(benchmark::State& state) {
    const std::string& text = document();
    ArmsInTurns& rounds = inTurnRounds();
    ArmsInTurns repetition;
    for (auto _ : state) {
        std::size_t mapped = 0;
        std::size_t parsedFeatures = 0;
        repetition.runBoth(
            [&] {
                auto collection = FeatureCollectionModel::fromString(text);
                benchmark::DoNotOptimize(collection);
                mapped = collection ? collection->features.size() : 0;
            },
            [&] {
                boost::json::monotonic_resource arena;
                boost::json::value parsed = boost::json::parse(text, boost::json::storage_ptr(&arena));
                benchmark::DoNotOptimize(parsed);
                const auto* features = parsed.is_object() ? parsed.get_object().if_contains("features") : nullptr;
                parsedFeatures = features != nullptr && features->is_array() ? features->get_array().size() : 0;
            });
        std::string fault;
        if (mapped != documentFeatures() || parsedFeatures != documentFeatures())
            fault = "of " + std::to_string(documentFeatures()) + " features the mapping made " +
                    std::to_string(mapped) + ", the parse " + std::to_string(parsedFeatures);
        if (!rounds.keepRound(repetition, fault)) {
            state.SkipWithError(rounds.fault.c_str());
            break;
        }
    }
    const double megabytes = static_cast<double>(text.size()) / 1e6;
    const double mapping = medianOf(repetition.firstSeconds);
    const double arena = medianOf(repetition.secondSeconds);
    state.counters["mapping_MB/s"] = mapping > 0 ? megabytes / mapping : 0;
    state.counters["arena_MB/s"] = arena > 0 ? megabytes / arena : 0;
    state.counters["ratio"] = repetition.medianInverseRatio();
}
BENCHMARK(BM_MappingAndArenaParseInTurn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(6.0);

// Prints the throughputs after the usual table. Under repetitions each
// single-arm figure is the median of its repetitions (the other aggregate
// rows are no throughputs); where only aggregates are shown, the median row
// is taken. The single arms ran apart, so no ratio is made of them: the
// closing line is the one from the rounds in turns, the median of their
// ratios over every repetition.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("MB/s");
            if (rate == run.counters.end() || run.error_occurred) continue;
            Throughput& throughput = throughputs_[run.run_name.function_name];
            if (run.run_type == Run::RT_Iteration) {
                throughput.runs.push_back(rate->second.value);
            } else if (run.aggregate_name == "median") {
                throughput.aggregateMedian = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double parse = throughputOf("BM_ParseOnly");
        const double arena = throughputOf("BM_ParseOnlyIntoArena");
        const double map = throughputOf("BM_MapIntoModels");
        const double megabytes = static_cast<double>(document().size()) / 1e6;
        std::printf("document: %.1f MB\n", megabytes);
        printThroughput("raw parse:           ", parse);
        printThroughput("raw parse into arena:", arena);
        printThroughput("mapping:             ", map);
        const ArmsInTurns& rounds = inTurnRounds();
        const double mappingSeconds = medianOf(rounds.firstSeconds);
        const double arenaSeconds = medianOf(rounds.secondSeconds);
        if (rounds.failed()) {
            std::printf("in turns: no ratio, a round went wrong: %s\n", rounds.fault.c_str());
        } else if (rounds.rounds() > 0) {
            std::printf(
                "in turns, medians: mapping %.1f MB/s (%.1f ms), raw parse into arena %.1f MB/s (%.1f ms); mapping / "
                "raw parse into arena = %.2f of its rate (median of %zu rounds' ratios; goal >= 0.5)\n",
                megabytes / mappingSeconds, mappingSeconds * 1e3, megabytes / arenaSeconds, arenaSeconds * 1e3,
                rounds.medianInverseRatio(), rounds.rounds());
        }
    }

private:
    struct Throughput {
        std::vector<double> runs;
        double aggregateMedian = 0;
    };

    double throughputOf(const std::string& function) const {
        const auto found = throughputs_.find(function);
        if (found == throughputs_.end()) return 0;
        const Throughput& throughput = found->second;
        return throughput.runs.empty() ? throughput.aggregateMedian : medianOf(throughput.runs);
    }

    // A benchmark left out by a filter says so rather than showing a zero rate.
    static void printThroughput(const char* label, double rate) {
        if (rate > 0) {
            std::printf("%s %.1f MB/s\n", label, rate);
        } else {
            std::printf("%s not run\n", label);
        }
    }

    std::map<std::string, Throughput> throughputs_;
};

}  // namespace ambrell::bench

AMBRELL_JSON_MODEL_DEFINE(ambrell::bench::FieldModel)
AMBRELL_JSON_MODEL_DEFINE(ambrell::bench::AnchorModel)
AMBRELL_JSON_MODEL_DEFINE(ambrell::bench::GeometryModel)
AMBRELL_JSON_MODEL_DEFINE(ambrell::bench::LocationModel)
AMBRELL_JSON_MODEL_DEFINE(ambrell::bench::FeatureCollectionModel)

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ambrell::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

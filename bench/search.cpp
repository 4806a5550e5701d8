// Search over a synthetic solution of 100,000 locations: the location store
// against a plain linear scan of the same data (the floor any index must
// beat). Each operation is measured per query; the closing table gives the
// scan's time divided by the store's.

#include "Source/AXCommon/AXLocationService.h"
#include "Source/AXCommon/AXSearchText.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell {
namespace {

constexpr std::size_t kLocationCount = 100'000;

// splitmix64: the same sequence on every machine and standard library, unlike
// the distributions of <random>.
class Generator {
public:
    explicit Generator(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }

private:
    std::uint64_t state_;
};

constexpr std::array<std::string_view, 20> kAdjectives = {
    "Quiet", "Main",  "North",   "South", "East",    "West", "Upper",   "Lower", "Small", "Large",
    "Blue",  "Green", "Private", "Staff", "Guest",   "Open", "Central", "Old",   "New",   "Grand"};
constexpr std::array<std::string_view, 30> kNouns = {
    "Meeting Room", "Office",  "Kitchen",    "Café",     "Lounge",     "Restroom",     "Storage", "Lab",
    "Studio",       "Library", "Reception",  "Auditorium", "Classroom", "Workshop",    "Gym",     "Shop",
    "Pharmacy",     "Bakery",  "Cinema",     "Garage",   "Straße",     "Atrium",       "Lobby",   "Corridor",
    "Stairs",       "Elevator", "Print Room", "Server Room", "Wardrobe", "Terrace"};
constexpr std::array<std::string_view, 8> kAliases = {"wc", "toilet", "coffee", "canteen",
                                                       "lift", "print", "copy", "info"};

struct Venue {
    double lat;
    double lng;
};
constexpr std::array<Venue, 2> kVenues = {{{55.6761, 12.5683}, {56.1629, 10.2039}}};
constexpr double kMetresPerDegree = 111'195.0;

AXLocation makeLocation(Generator& random, std::int32_t id) {
    const auto& venue = kVenues[random.below(kVenues.size())];
    const auto building = static_cast<std::int32_t>(random.below(12));
    const int floor = static_cast<int>(random.below(8)) - 1;
    const std::size_t noun = random.below(kNouns.size());

    // Buildings stand on a 4 x 3 grid of 120 m blocks; rooms fill them.
    const double cosLat = std::cos(venue.lat * 3.141592653589793 / 180.0);
    const double eastMetres = (building % 4) * 150.0 + random.unit() * 120.0;
    const double northMetres = (building / 4) * 150.0 + random.unit() * 120.0;
    const AXCoordinate position{venue.lat + northMetres / kMetresPerDegree,
                                venue.lng + eastMetres / (kMetresPerDegree * cosLat)};
    AXCoordinateBounds bounds{position, position};
    if (random.below(10) < 7) {  // rooms and areas; the rest are points
        const double width = (3 + random.unit() * 17) / (kMetresPerDegree * cosLat);
        const double height = (3 + random.unit() * 17) / kMetresPerDegree;
        bounds = {{position.lat + height, position.lng + width}, position};
    }

    AXLocation location;
    location.locationId = id;
    location.parentId = 1'000'000 + building;
    location.typeId = 2000 + static_cast<std::int32_t>(noun);
    location.groups = {static_cast<std::int32_t>(random.below(15))};
    if (random.below(4) == 0) {
        location.groups.push_back(static_cast<std::int32_t>(random.below(15)));
    }
    const std::size_t statusRoll = random.below(100);
    location.status = statusRoll < 90 ? 3 : statusRoll < 94 ? 1 : statusRoll < 97 ? 7 : 5;
    location.baseType = 2;
    location.altitude = static_cast<float>(floor);
    location.isIndoor = random.below(20) != 0;
    location.geometry = {position, bounds};

    const std::string number = std::to_string(floor) + "." + std::to_string(100 + random.below(900));
    const std::string name = std::string(kAdjectives[random.below(kAdjectives.size())]) + " " +
                             std::string(kNouns[noun]) + " " + number;
    location.properties.push_back({"en", "name", name});
    location.properties.push_back({"en", "externalid", "R-" + std::to_string(id)});
    if (random.below(5) == 0) {
        location.properties.push_back({"en", "description", "Near the " + std::string(kNouns[random.below(30)])});
    }
    if (random.below(6) == 0) {
        location.aliases = {std::string(kAliases[random.below(kAliases.size())])};
    }
    return location;
}

const std::vector<AXLocation>& solution() {
    static const std::vector<AXLocation> locations = [] {
        Generator random(20240611);
        std::vector<AXLocation> all;
        all.reserve(kLocationCount);
        for (std::size_t i = 0; i < kLocationCount; ++i) {
            all.push_back(makeLocation(random, static_cast<std::int32_t>(i * 7919 + 13)));
        }
        return all;
    }();
    return locations;
}

const AXLocationService& store() {
    static const AXLocationService service = [] {
        auto built = AXLocationService::create();
        built.addOrUpdateLocations(solution());
        return built;
    }();
    return service;
}

// ---------------------------------------------------------------------------
// The linear scan: the same rules, no index. Words are folded once up front,
// as any sensible scan would, so it is measured at its best.

struct ScannedText {
    std::string word;
    std::uint32_t weight;
};

struct ScannedLocation {
    std::vector<ScannedText> words;
    std::string wholeName;
};

std::uint32_t weightOf(const std::string& key) {
    return key == "name" ? 4 : key == "aliases" ? 3 : key == "externalid" ? 2 : 1;
}

std::vector<ScannedLocation> prepareScan(const std::vector<AXLocation>& locations) {
    std::vector<ScannedLocation> scanned;
    scanned.reserve(locations.size());
    for (const auto& location : locations) {
        ScannedLocation entry;
        for (const auto& property : location.properties) {
            const auto words = axsearch::searchTokens(property.value);
            for (const auto& word : words) {
                entry.words.push_back({word, weightOf(property.key)});
            }
            if (property.key == "name") {
                for (const auto& word : words) {
                    entry.wholeName += entry.wholeName.empty() ? word : " " + word;
                }
            }
        }
        for (const auto& alias : location.aliases) {
            for (const auto& word : axsearch::searchTokens(alias)) {
                entry.words.push_back({word, 3});
            }
        }
        scanned.push_back(std::move(entry));
    }
    return scanned;
}

const std::vector<ScannedLocation>& scanData() {
    static const auto data = prepareScan(solution());
    return data;
}

bool visibleStatus(std::uint32_t status) {
    return (status & 1) != 0 && (status & 4) == 0 && (status & 2) != 0;
}

std::vector<std::int32_t> scanText(const std::string& text) {
    const auto& locations = solution();
    const auto& scanned = scanData();
    const auto queryWords = axsearch::searchTokens(text);
    std::string wholeQuery;
    for (const auto& word : queryWords) {
        wholeQuery += wholeQuery.empty() ? word : " " + word;
    }
    struct Hit {
        std::uint32_t score;
        std::size_t index;
    };
    std::vector<Hit> hits;
    for (std::size_t i = 0; i < locations.size(); ++i) {
        if (!visibleStatus(locations[i].status)) {
            continue;
        }
        std::uint32_t score = 0;
        bool all = true;
        for (const auto& query : queryWords) {
            std::uint32_t best = 0;
            for (const auto& [word, weight] : scanned[i].words) {
                if (word.starts_with(query)) {
                    best = std::max(best, weight * (word.size() == query.size() ? 2u : 1u));
                }
            }
            if (best == 0) {
                all = false;
                break;
            }
            score += best;
        }
        if (all) {
            hits.push_back({score + (scanned[i].wholeName == wholeQuery ? 8u : 0u), i});
        }
    }
    std::sort(hits.begin(), hits.end(),
              [](const Hit& a, const Hit& b) { return a.score != b.score ? a.score > b.score : a.index < b.index; });
    std::vector<std::int32_t> ids;
    ids.reserve(hits.size());
    for (const auto& hit : hits) {
        ids.push_back(locations[hit.index].locationId);
    }
    return ids;
}

std::vector<std::int32_t> scanFilter(const AXFilter& filter) {
    std::vector<std::int32_t> ids;
    for (const auto& location : solution()) {
        if (!visibleStatus(location.status | (filter.ignoreSearchableStatus ? 2u : 0u))) {
            continue;
        }
        if (filter.floor && location.isIndoor && std::round(location.altitude) != *filter.floor) {
            continue;
        }
        if (filter.groups && std::none_of(location.groups.begin(), location.groups.end(), [&](std::int32_t g) {
                return std::find(filter.groups->begin(), filter.groups->end(), g) != filter.groups->end();
            })) {
            continue;
        }
        if (filter.typeIds &&
            std::find(filter.typeIds->begin(), filter.typeIds->end(), location.typeId) == filter.typeIds->end()) {
            continue;
        }
        if (filter.bounds) {
            const auto& b = location.geometry.bounds;
            const auto& f = *filter.bounds;
            if (b.southwest.lng > f.northeast.lng || f.southwest.lng > b.northeast.lng ||
                b.southwest.lat > f.northeast.lat || f.southwest.lat > b.northeast.lat) {
                continue;
            }
        }
        ids.push_back(location.locationId);
    }
    return ids;
}

// ---------------------------------------------------------------------------
// The queries, each cycled through so that no single answer is measured.

const std::vector<std::string> kPrefixQueries = {"mee", "caf", "lo", "stu", "pri", "kit", "res", "gar", "str", "q"};

const std::vector<std::string>& exactQueries() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> picked;
        for (std::size_t i = 0; i < 32; ++i) {
            picked.push_back(solution()[i * 3001].properties.front().value);
        }
        return picked;
    }();
    return names;
}

// A visible map region of about 150 m x 150 m on one floor, as a render asks.
std::vector<AXFilter> boundsFilters() {
    std::vector<AXFilter> filters;
    for (int i = 0; i < 16; ++i) {
        const auto& venue = kVenues[static_cast<std::size_t>(i) % kVenues.size()];
        const double cosLat = std::cos(venue.lat * 3.141592653589793 / 180.0);
        const double south = venue.lat + (i * 37 % 450) / kMetresPerDegree;
        const double west = venue.lng + (i * 53 % 600) / (kMetresPerDegree * cosLat);
        AXFilter filter;
        filter.bounds = AXCoordinateBounds{{south + 150 / kMetresPerDegree, west + 150 / (kMetresPerDegree * cosLat)},
                                           {south, west}};
        filter.floor = i % 6;
        filter.ignoreSearchableStatus = true;
        filters.push_back(filter);
    }
    return filters;
}

std::vector<AXFilter> categoryFilters() {
    std::vector<AXFilter> filters;
    for (int i = 0; i < 15; ++i) {
        AXFilter filter;
        filter.groups = std::vector<std::int32_t>{i};
        filter.typeIds = std::vector<std::int32_t>{2000 + i, 2000 + (i + 7) % 30};
        filter.floor = i % 5;
        filters.push_back(filter);
    }
    return filters;
}

void checkScanAgreesWithStore() {
    for (const auto& text : kPrefixQueries) {
        if (store().locationIdsForQuery({.text = text}, {}) != scanText(text)) {
            std::fprintf(stderr, "scan and store disagree on \"%s\"\n", text.c_str());
            std::abort();
        }
    }
    for (const auto& text : exactQueries()) {
        if (store().locationIdsForQuery({.text = text}, {}) != scanText(text)) {
            std::fprintf(stderr, "scan and store disagree on \"%s\"\n", text.c_str());
            std::abort();
        }
    }
    for (const auto& filters : {boundsFilters(), categoryFilters()}) {
        for (const auto& filter : filters) {
            if (store().locationIdsForQuery({}, filter) != scanFilter(filter)) {
                std::fprintf(stderr, "scan and store disagree on a filter\n");
                std::abort();
            }
        }
    }
}

// ---------------------------------------------------------------------------

void IndexBuild_store(benchmark::State& state) {
    const auto& locations = solution();
    for (auto _ : state) {
        auto service = AXLocationService::create();
        service.addOrUpdateLocations(locations);
        benchmark::DoNotOptimize(service.count());
    }
}

void IndexBuild_scan(benchmark::State& state) {
    const auto& locations = solution();
    for (auto _ : state) {
        auto scanned = prepareScan(locations);
        benchmark::DoNotOptimize(scanned.data());
    }
}

template <class Query>
void measure(benchmark::State& state, std::size_t variants, Query query) {
    std::size_t i = 0;
    std::size_t answered = 0;
    for (auto _ : state) {
        const auto ids = query(i++ % variants);
        answered += ids.size();
        benchmark::DoNotOptimize(ids.data());
    }
    state.counters["ids/query"] = static_cast<double>(answered) / static_cast<double>(state.iterations());
}

void PrefixQuery_store(benchmark::State& state) {
    measure(state, kPrefixQueries.size(),
            [](std::size_t i) { return store().locationIdsForQuery({.text = kPrefixQueries[i]}, {}); });
}
void PrefixQuery_scan(benchmark::State& state) {
    measure(state, kPrefixQueries.size(), [](std::size_t i) { return scanText(kPrefixQueries[i]); });
}
void ExactQuery_store(benchmark::State& state) {
    measure(state, exactQueries().size(),
            [](std::size_t i) { return store().locationIdsForQuery({.text = exactQueries()[i]}, {}); });
}
void ExactQuery_scan(benchmark::State& state) {
    measure(state, exactQueries().size(), [](std::size_t i) { return scanText(exactQueries()[i]); });
}
void BoundsQuery_store(benchmark::State& state) {
    static const auto filters = boundsFilters();
    measure(state, filters.size(), [](std::size_t i) { return store().locationIdsForQuery({}, filters[i]); });
}
void BoundsQuery_scan(benchmark::State& state) {
    static const auto filters = boundsFilters();
    measure(state, filters.size(), [](std::size_t i) { return scanFilter(filters[i]); });
}
void FilterOnlyQuery_store(benchmark::State& state) {
    static const auto filters = categoryFilters();
    measure(state, filters.size(), [](std::size_t i) { return store().locationIdsForQuery({}, filters[i]); });
}
void FilterOnlyQuery_scan(benchmark::State& state) {
    static const auto filters = categoryFilters();
    measure(state, filters.size(), [](std::size_t i) { return scanFilter(filters[i]); });
}

BENCHMARK(IndexBuild_store)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexBuild_scan)->Unit(benchmark::kMillisecond);
BENCHMARK(PrefixQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(PrefixQuery_scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(ExactQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(ExactQuery_scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BoundsQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(BoundsQuery_scan)->Unit(benchmark::kMicrosecond);
BENCHMARK(FilterOnlyQuery_store)->Unit(benchmark::kMicrosecond);
BENCHMARK(FilterOnlyQuery_scan)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then each operation's store time beside the scan's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            const std::string name = run.benchmark_name();
            const auto split = name.rfind('_');
            if (split != std::string::npos) {
                const double micros = run.GetAdjustedRealTime() *
                                      (run.time_unit == benchmark::kMillisecond ? 1000.0 : 1.0);
                times_[name.substr(0, split)][name.substr(split + 1)] = micros;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-18s %14s %14s %14s\n", "operation", "store (us)", "scan (us)", "scan / store");
        for (const auto& [operation, times] : times_) {
            const auto store = times.find("store");
            const auto scan = times.find("scan");
            if (store != times.end() && scan != times.end()) {
                std::printf("%-18s %14.1f %14.1f %14.2f\n", operation.c_str(), store->second, scan->second,
                            scan->second / store->second);
            }
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace
}  // namespace ambrell

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    ambrell::checkScanAgreesWithStore();
    ambrell::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

// A cold offline load of the sample solution's 50,000-location variant
// through the entry object, from its data set on disk to the first answered
// search, against reading the same documents from the data set and mapping
// each into its models alone, in the same run.
//
//     load [benchmark flags] [variant folder]
//
// The variant folder defaults to the one the build writes beside this
// program (python3 examples/sample-solution/generate.py --large --out <folder>).
//
// Once, before the timing: the variant is served on loopback, loaded and its
// data set synchronised; then the service stops and the network is reported
// down. Each iteration resets the entry object (untimed), which drops what a
// load keeps in memory (models, caches, the location store), and loads again
// offline: every document comes from the data set. The two arms run in turns, so that
// a load that comes and goes on the machine weighs on both alike. Every
// round is checked: the load's search answers as many locations as the
// online load's did, the parse maps as many locations as the sample has.
// The closing line is the median of the rounds' ratios over every
// repetition (goal: ratio < 1.5).

#include <benchmark/benchmark.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/AmbrellShared.h"
#include "bench/BenchSupport.h"
#include "core/AmbrellInternal.h"
#include "core/CVAmbrell.h"
#include "data/AmbrellLegacy.h"
#include "data/CVAppData.h"
#include "data/CVBuildingCollection.h"
#include "data/CVCategories.h"
#include "data/CVDerivedGeometry.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"
#include "data/CVUserRoleProvider.h"
#include "data/CVVenueCollection.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/FileSystem.h"
#include "platform/Logger.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "routing/CVRouteNetworkService.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"

namespace ambrell::bench {

namespace fs = std::filesystem;

constexpr auto kBound = std::chrono::minutes(5);

fs::path& variantFolder() {
    static fs::path folder = AMBRELL_LOAD_SOLUTION;
    return folder;
}

template <typename Result, typename Start>
Result answerOf(const char* what, Start&& start) {
    auto promise = std::make_shared<std::promise<Result>>();
    auto answer = promise->get_future();
    start([promise](Result result) { promise->set_value(std::move(result)); });
    if (answer.wait_for(kBound) != std::future_status::ready) throw std::runtime_error(std::string(what) + " hangs");
    return answer.get();
}

using Error = std::optional<platform::NSError>;

void check(const Error& error, const char* what) {
    if (error) throw std::runtime_error(std::string(what) + ": " + error->localizedDescription());
}

// The variant loaded once online with its data set synchronised; offline from then on.
class OfflineSolution {
public:
    explicit OfflineSolution(const fs::path& sample) : service_(sample), key_(service_.solutionId()) {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        CVRouteNetworkService::install();
        sdk_ = CVAmbrell::shared();
        sdk_->setEventLoggingDisabled(true);
        check(answerOf<Error>("The online load", [&](auto done) { sdk_->load(key_, std::nullopt, done); }),
              "the online load failed");
        const auto manager = sdk_->dataSetCacheManager();
        const auto dataSet = manager ? manager->dataSetForCurrentAmbrellAPIKey() : nullptr;
        if (!dataSet) throw std::runtime_error("the solution has no data set");
        answerOf<Error>("The synchronisation", [&](auto done) { manager->synchronizeContent(done); });
        check(dataSet->syncResult(), "the synchronisation failed");
        // What every offline load must answer again.
        onlineFound_ = search();
        const auto counts = platform::readTextFile(sample / "expected-counts.json");
        if (!counts) throw std::runtime_error("the sample has no expected counts");
        sampleLocations_ = boost::json::parse(*counts).at("locations").at("total").to_number<std::size_t>();

        // The documents an offline load reads, as the data set holds them.
        const auto api = CVAXAPI::sharedInstance();
        const auto internal = AmbrellLegacy::dataSetCacheManager();
        const auto file = [&](const std::string& url) {
            auto path = internal->pathForCachingUrl(url, key_);
            if (!path || !fs::exists(*path)) throw std::runtime_error("the data set lacks " + url);
            return *path;
        };
        const auto sync = [&](const char* endpoint) {
            return file(api->urlStringForSyncEndpoint(endpoint, key_, "en"));
        };
        documents_ = {sync("solutions"),
                      sync("appconfig"),
                      sync("appuserroles"),
                      sync("categories"),
                      sync("venues"),
                      sync("buildings"),
                      file(api->derivedGeometrySyncUrlForSolutionId(key_, "en")),
                      file(api->locationSyncUrlForSolutionId(key_, "en"))};

        service_.stop();
        CVNetworkReachabilityManager::setForcedStatusForTesting(CVNetworkReachabilityStatusNotReachable);
    }
    ~OfflineSolution() {
        try {
            reset();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "load: %s\n", error.what());
        }
        CVNetworkReachabilityManager::resetSharedManagerForTesting();
        ::unsetenv("AMBRELL_API");
    }
    OfflineSolution(const OfflineSolution&) = delete;
    OfflineSolution& operator=(const OfflineSolution&) = delete;

    // Forgets what the last load kept in memory.
    void reset() {
        answerOf<Error>("The reset", [&](auto done) { sdk_->reset(done); });
    }

    // A load and the first search; the number of locations found.
    std::size_t loadAndSearch() {
        check(answerOf<Error>("The load", [&](auto done) { sdk_->load(key_, std::nullopt, done); }),
              "the offline load failed");
        return search();
    }

    // The first search's answer count after the online load, and the sample's locations.
    [[nodiscard]] std::size_t onlineFound() const { return onlineFound_; }
    [[nodiscard]] std::size_t sampleLocations() const { return sampleLocations_; }

    // The same documents read and mapped into their models, each once; the
    // number of locations.
    [[nodiscard]] std::size_t parse() const {
        const auto bytes = [](const fs::path& path) {
            auto data = platform::readFile(path);
            if (!data) throw std::runtime_error("unreadable: " + path.string());
            return std::move(*data);
        };
        const auto text = [](const std::vector<std::uint8_t>& data) {
            return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
        };
        bool parsed = CVSolutionInternal::fromData(bytes(documents_[0])) != nullptr;
        parsed = CVAppData::fromData(bytes(documents_[1])) != nullptr && parsed;
        parsed = CVUserRoleProvider::userRolesFromData(bytes(documents_[2])) != nullptr && parsed;
        parsed = CVCategories().initWithData(bytes(documents_[3])) && parsed;
        parsed = CVVenueCollection::fromData(bytes(documents_[4])) != nullptr && parsed;
        parsed = CVBuildingCollection().initWithData(bytes(documents_[5])) && parsed;
        parsed = CVDerivedGeometry::arrayOfModelsFromString(text(bytes(documents_[6]))).has_value() && parsed;
        const auto locations = CVLocationDataset::fromData(bytes(documents_[7]));
        if (!parsed || !locations || !locations->list) {
            throw std::runtime_error("a document of the data set does not parse");
        }
        return locations->list->size();
    }

private:
    std::size_t search() {
        CVQuery query;
        query.query = "office";
        return answerOf<std::vector<std::shared_ptr<CVLocation>>>(
                   "The search", [&](auto done) { sdk_->locationsWithQuery(query, CVFilter{}, done); })
            .size();
    }

    test::SampleSolutionService service_;
    std::string key_;
    std::size_t onlineFound_ = 0;
    std::size_t sampleLocations_ = 0;
    std::shared_ptr<AmbrellShared> sdk_;
    std::vector<fs::path> documents_;
};

// The library's errors only: its debug lines would cost the load their writing.
class ErrorsOnly : public platform::LogSink {
public:
    void write(platform::LogLevel level, std::string_view channel, std::string_view message) override {
        if (level == platform::LogLevel::error)
            std::fprintf(stderr, "[%.*s] %.*s\n", int(channel.size()), channel.data(), int(message.size()),
                         message.data());
    }
};

// The load (first) and the parse (second), over every repetition: the
// closing line is the median of the rounds' ratios, not the last repetition's.
ArmsInTurns& loadAndParse() {
    static ArmsInTurns rounds;
    return rounds;
}

// Made at the first run of the benchmark, kept for the later ones.
std::unique_ptr<OfflineSolution>& offlineSolution() {
    static std::unique_ptr<OfflineSolution> instance;
    return instance;
}

void BM_ColdOfflineLoadAgainstParsing(benchmark::State& state) {
    auto& solution = offlineSolution();
    ArmsInTurns& all = loadAndParse();
    try {
        if (!solution) solution = std::make_unique<OfflineSolution>(variantFolder());
    } catch (const std::exception& error) {
        all.fail(error.what());
        state.SkipWithError(error.what());
        return;
    }
    ArmsInTurns repetition;
    std::size_t found = 0;
    std::size_t locations = 0;
    for (auto _ : state) {
        try {
            // The reset that empties the memory, right before the load, is no part of it.
            repetition.runBothTimed(
                [&] {
                    solution->reset();
                    return secondsOf([&] { found = solution->loadAndSearch(); });
                },
                [&] { return secondsOf([&] { locations = solution->parse(); }); });
        } catch (const std::exception& error) {
            all.fail(error.what());
            state.SkipWithError(error.what());
            break;
        }
        std::string fault;
        if (found == 0 || found != solution->onlineFound()) {
            fault = "the offline load's search found " + std::to_string(found) + " locations, the online load's " +
                    std::to_string(solution->onlineFound());
        } else if (locations != solution->sampleLocations()) {
            fault = "the parse mapped " + std::to_string(locations) + " of the sample's " +
                    std::to_string(solution->sampleLocations()) + " locations";
        }
        if (!all.keepRound(repetition, fault)) {
            state.SkipWithError(all.fault.c_str());
            break;
        }
    }
    state.counters["load_ms"] = medianOf(repetition.firstSeconds) * 1e3;
    state.counters["parse_ms"] = medianOf(repetition.secondSeconds) * 1e3;
    state.counters["ratio"] = repetition.medianRatio();
    state.counters["locations"] = static_cast<double>(locations);
    state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_ColdOfflineLoadAgainstParsing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace ambrell::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] [variant folder]\n", argv[0]);
        return 2;
    }
    if (argc == 2) ambrell::bench::variantFolder() = argv[1];
    ambrell::platform::Logger::setSink(std::make_shared<ambrell::bench::ErrorsOnly>());
    {
        // Caches, data sets and user defaults go to a temp folder, and the main queue runs.
        ambrell::test::ScopedContainer container;
        ambrell::platform::MainQueueThread mainThread;
        benchmark::RunSpecifiedBenchmarks();
        ambrell::bench::offlineSolution().reset();
        ambrell::bench::printVerdict("cold offline load to the first search, against parsing the documents alone",
                                     ambrell::bench::loadAndParse(), "load", "parse", "< 1.5");
    }
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return 0;
}

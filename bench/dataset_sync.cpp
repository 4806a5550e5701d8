// A whole synchronisation of a data set at the full scope, from the sample
// solution's loopback web service, through the data-set cache manager (its
// task graph, attributes, tile-package unpacking and info files), against
// the same URLs fetched by the bare HTTP transport with the same six
// downloads at a time, in the same run. Then the end-to-end synchronisation
// of the committed sample.
//
//     dataset_sync [benchmark flags] [variant folder]
//
// The variant folder defaults to the 50,000-location variant the build
// writes beside this program:
//
//     python3 examples/sample-solution/generate.py --large --out <folder>
//
// The data sets are written under the temp folder, which should be on the
// disk a host would use (TMPDIR pointing at a folder there, not tmpfs). Every
// pass writes into fresh folders, and all of them are removed once, when the
// benchmark ends: on an ext4 file system without a journal, creating a file
// skips every inode of its group deleted in the last seconds (up to five
// minutes while the inode table is not written back), so removing the
// previous pass's seven hundred files made each file of the next pass cost
// up to a millisecond of kernel time, far more than the synchronisation's own
// work, and the more so for the arm that writes more files. A run started
// right after another, whose folders were just removed, pays the same way:
// leave a few minutes between runs whose figures are compared. The passes are
// few, so the folders stay within a couple of gigabytes. BM_PairedLarge runs
// the manager and the bare transport in turns, and its closing line is the
// one verdict: the median of the rounds' ratios, each round's files checked
// first (every URL's file holding the bytes the other arms fetched for it,
// the manager's unpacked tiles the sample's). BM_UnpackTilePackage shows the
// tile package's share.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/parse.hpp>

#include "Ambrell/CVDataSetCacheItem.h"
#include "bench/BenchSupport.h"
#include "data/AmbrellLegacy.h"
#include "data/CVUrlResourceCollection.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/CVDataProvider.h"
#include "platform/FileSystem.h"
#include "platform/http/HttpSession.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/Runtime.h"
#include "tests/support/SampleSolutionService.h"
#include "tests/support/TempDirectory.h"
#include "zip/SSZipArchive.h"

namespace ambrell::bench {

namespace fs = std::filesystem;

constexpr int kConcurrentDownloads = 6;  // the work scheduler's limit

fs::path& variantFolder() {
    static fs::path folder = AMBRELL_SYNC_SOLUTION;
    return folder;
}

// Waits for a count of things to end.
class Countdown {
public:
    void add(std::size_t count = 1) {
        std::lock_guard lock(mutex_);
        pending_ += count;
    }
    void done() {
        std::lock_guard lock(mutex_);
        if (--pending_ == 0) ended_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    std::size_t pending_ = 0;
};

// The passes' folders, removed together when the benchmark ends: removing
// them pass by pass would slow the next pass's file creation (see above).
class PassFolders {
public:
    const fs::path& fresh(std::string_view prefix) {
        return folders_.emplace_back(std::make_unique<test::TempDirectory>(prefix))->path();
    }

private:
    std::vector<std::unique_ptr<test::TempDirectory>> folders_;
};

// The process's settings pointed at one sample's service, as the library runs against it.
class SyncSetup {
public:
    explicit SyncSetup(const fs::path& sample) : service_(sample) {
        ::setenv("AMBRELL_API", service_.baseUrl().c_str(), 1);
        CVAXAPI::resetSharedForTesting();
        AmbrellLegacy::resetForTesting();
        CVAXAPI::sharedInstance()->setSessionToken("session-token");
        AmbrellLegacy::setApiKey(service_.solutionId());
        const auto api = CVAXAPI::sharedInstance();
        sizeUrls_ = {api->dataSetSyncUrlForSolutionId(service_.solutionId(), std::nullopt)};
        const auto collection =
            CVUrlResourceCollection::initWithJsonValue(boost::json::parse(service_.syncDocument("dataset", "en")));
        if (!collection) throw std::runtime_error("the sample has no size response");
        const auto counts = platform::readTextFile(sample / "expected-counts.json");
        if (!counts) throw std::runtime_error("the sample has no expected counts");
        expectedTiles_ = boost::json::parse(*counts).at("tiles").at("total").to_number<std::size_t>();
        urls_ = api->allEndpointUrlsForSyncingSolutionId(service_.solutionId(), "en");
        urls_.push_back(api->derivedGeometrySyncUrlForSolutionId(service_.solutionId(), "en"));
        for (const auto* type : {"images", "externalimages", "tiles"}) {
            for (const auto& url : collection->resources().at(type).urls().value_or(std::vector<std::string>{})) {
                urls_.push_back(url);
                if (std::string_view(type) == "tiles") packageUrls_.insert(url);
            }
        }
    }
    ~SyncSetup() {
        AmbrellLegacy::resetForTesting();
        CVAXAPI::resetSharedForTesting();
        ::unsetenv("AMBRELL_API");
    }

    // A fresh data set of the sample, synchronised at the full scope; the
    // item's result. The manager is handed out through `kept` when asked for.
    std::optional<platform::NSError> managerSync(const fs::path& root,
                                                 std::shared_ptr<CVDataSetCacheManagerInternal>* kept = nullptr) {
        const auto manager =
            std::make_shared<CVDataSetCacheManagerInternal>(CVDataSetCacheManagerInternal::Options{root, nullptr, {}});
        const auto dataSet = manager->addDataSet(service_.solutionId(), rawValue(CVDataSetCachingScope::full));
        Countdown run;
        run.add();
        std::optional<platform::NSError> result;
        manager->synchronizeCacheItems(
            {dataSet->cacheItem()}, [&](auto) { run.done(); }, [&](const auto&, auto error) { result = error; });
        run.wait();
        if (kept != nullptr) *kept = manager;
        return result;
    }

    // What a round wrote, read back: the manager's data set holds each URL
    // with the bytes the bare transport fetched for it (into `bare`, files
    // named as bareSync names them), but for the tile package, which it
    // keeps emptied once unpacked; the HTTP provider's copy in `provider` is
    // the same; and the unpacked tiles are the sample's, as many as its
    // expected counts say. Empty when all is so.
    [[nodiscard]] std::string checkWritten(const CVDataSetCacheManagerInternal& manager, const fs::path& bare,
                                           const fs::path& provider) const {
        const auto check = [&](const std::string& url, const fs::path& name) -> std::string {
            const auto fetched = platform::readFile(bare / name);
            if (!fetched) return "the bare transport wrote no file for " + url;
            if (platform::readFile(provider / name) != fetched) return "the HTTP provider wrote other bytes for " + url;
            const auto kept = manager.dataForCachedUrl(url, service_.solutionId());
            if (packageUrls_.contains(url) ? (!kept || !kept->empty()) : kept != fetched) {
                return "the data set holds other bytes for " + url;
            }
            return {};
        };
        if (auto wrong = check(sizeUrls_.front(), "0"); !wrong.empty()) return wrong;
        for (std::size_t index = 0; index < urls_.size(); ++index) {
            if (auto wrong = check(urls_[index], std::to_string(index + 1)); !wrong.empty()) return wrong;
        }
        std::size_t tiles = 0;
        const auto package = manager.pathForCachingDataSetId(service_.solutionId()) / "tilecache-package";
        std::error_code error;
        for (fs::recursive_directory_iterator entry(package, error), end; !error && entry != end;
             entry.increment(error)) {
            if (!entry->is_regular_file()) continue;
            const auto name = entry->path().lexically_relative(package);
            if (platform::readFile(entry->path()) != platform::readFile(service_.sample() / "bundle" / "res" / name)) {
                return "the unpacked tile " + name.generic_string() + " is not the sample's";
            }
            ++tiles;
        }
        if (tiles != expectedTiles_) {
            return "the data set has " + std::to_string(tiles) + " unpacked tiles, not " +
                   std::to_string(expectedTiles_);
        }
        return {};
    }

    // The size response, then the same URLs the manager fetches, six at a
    // time; the number that failed. Through the bare session, each file moved
    // into place as it lands, or through the library's HTTP provider, which
    // also stamps each file's dates and extended attributes.
    std::size_t bareSync(const fs::path& folder, bool throughProvider) {
        failures_ = 0;
        for (const auto* urls : {&sizeUrls_, &urls_}) {
            sixAtATime(urls->size(), [&](std::size_t index, std::function<void()> done) {
                const std::string& url = (*urls)[index];
                const fs::path file = folder / std::to_string(urls == &urls_ ? index + 1 : 0);
                throughProvider ? fetchThroughProvider(url, file, std::move(done))
                                : fetchThroughSession(url, file, std::move(done));
            });
        }
        return failures_.load();
    }

    [[nodiscard]] std::size_t urlCount() const { return urls_.size() + 1; }

private:
    using Start = std::function<void(std::size_t index, std::function<void()> done)>;

    // Starts each index, at most six at a time, and waits until all are done.
    static void sixAtATime(std::size_t count, const Start& start) {
        Countdown all;
        all.add(count);
        std::mutex mutex;
        std::size_t next = 0;
        std::function<void()> startNext = [&] {
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex);
                if (next == count) return;
                index = next++;
            }
            start(index, [&] {
                startNext();
                all.done();
            });
        };
        for (int i = 0; i < kConcurrentDownloads; ++i) startNext();
        all.wait();
    }

    void fetchThroughSession(const std::string& url, const fs::path& file, std::function<void()> done) {
        CVDataProvider::urlSession().download(
            CVDataProvider::makeRequest(url), file.parent_path(),
            [this, file, done = std::move(done)](platform::TaskResult<platform::HttpDownloadResult> result) {
                std::error_code error;
                if (!result.hasValue() || result.get().response.statusCode != 200) {
                    ++failures_;
                } else {
                    fs::rename(result.get().temporaryFile, file, error);
                }
                done();
            });
    }

    void fetchThroughProvider(const std::string& url, const fs::path& file, std::function<void()> done) {
        CVDataProvider::downloadContents(
            url, file, std::nullopt,
            [this, done = std::move(done)](auto path, auto response, std::exception_ptr error) {
                if (error || !path || !response || response->statusCode != 200) ++failures_;
                done();
            });
    }

    test::SampleSolutionService service_;
    std::vector<std::string> sizeUrls_;
    std::vector<std::string> urls_;
    std::set<std::string> packageUrls_;
    std::size_t expectedTiles_ = 0;
    std::atomic<std::size_t> failures_{0};
};

void runManager(benchmark::State& state, const fs::path& sample) {
    SyncSetup setup(sample);
    PassFolders folders;
    for (auto _ : state) {
        state.PauseTiming();
        const auto& root = folders.fresh("ambrell-bench-sync");
        state.ResumeTiming();
        if (const auto error = setup.managerSync(root / "datasets")) {
            state.SkipWithError(("the synchronisation failed: " + error->localizedDescription()).c_str());
            break;
        }
    }
    state.counters["urls"] = static_cast<double>(setup.urlCount());
}

// The manager (first) and the bare transport (second) in turns, and the
// HTTP provider against the manager's round, over every repetition.
struct Paired {
    ArmsInTurns managerAndBare;
    std::vector<double> providerSeconds;
};

Paired& paired() {
    static Paired rounds;
    return rounds;
}

// Both arms in turns, one synchronisation each per iteration, so that a load
// that comes and goes on the machine weighs on both alike: the median of the
// rounds' ratios is the figure the goal is judged by. The same URLs through
// the library's HTTP provider run in turn too, to tell the provider's share
// of the gap from the manager's own. Each round's files are read back and
// checked, outside the timing, before its times count.
void BM_PairedLarge(benchmark::State& state) {
    SyncSetup setup(variantFolder());
    Paired& rounds = paired();
    ArmsInTurns repetition;
    std::vector<double> provider;
    PassFolders folders;
    for (auto _ : state) {
        const auto& root = folders.fresh("ambrell-bench-sync");
        const auto& folder = folders.fresh("ambrell-bench-bare");
        const auto& providerFolder = folders.fresh("ambrell-bench-provider");
        std::optional<platform::NSError> error;
        std::shared_ptr<CVDataSetCacheManagerInternal> manager;
        std::size_t failed = 0;
        repetition.runBoth([&] { error = setup.managerSync(root / "datasets", &manager); },
                           [&] { failed = setup.bareSync(folder, false); });
        provider.push_back(secondsOf([&] { failed += setup.bareSync(providerFolder, true); }));
        std::string fault;
        if (error) {
            fault = "the synchronisation failed: " + error->localizedDescription();
        } else if (failed != 0) {
            fault = std::to_string(failed) + " downloads failed";
        } else {
            fault = setup.checkWritten(*manager, folder, providerFolder);
        }
        if (!rounds.managerAndBare.keepRound(repetition, fault)) {
            state.SkipWithError(rounds.managerAndBare.fault.c_str());
            break;
        }
        rounds.providerSeconds.push_back(provider.back());
    }
    state.counters["manager_ms"] = medianOf(repetition.firstSeconds) * 1e3;
    state.counters["bare_ms"] = medianOf(repetition.secondSeconds) * 1e3;
    state.counters["provider_ms"] = medianOf(provider) * 1e3;
    state.counters["ratio"] = repetition.medianRatio();
}
BENCHMARK(BM_PairedLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(9);

// The unpacking of the tile package alone, part of the manager's figures.
void BM_UnpackTilePackage(benchmark::State& state) {
    fs::path package;
    for (const auto& entry : fs::recursive_directory_iterator(variantFolder() / "service" / "tiles")) {
        if (entry.path().extension() == ".zip") package = entry.path();
    }
    PassFolders folders;
    for (auto _ : state) {
        state.PauseTiming();
        const auto& folder = folders.fresh("ambrell-bench-unzip");
        state.ResumeTiming();
        if (!SSZipArchive::unzipFileAtPath(package.string(), (folder / "tilecache-package").string())) {
            state.SkipWithError("the tile package did not unpack");
            break;
        }
    }
}
BENCHMARK(BM_UnpackTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_ManagerSyncSample(benchmark::State& state) {
    runManager(state, test::SampleSolutionService::committedSample());
}
BENCHMARK(BM_ManagerSyncSample)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// After the table: the sample's synchronisation and the tile package's
// share, which have no arm to be set against; the provider's figures from
// the rounds in turns; last the one verdict, from the same rounds.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With repetitions the median stands for the benchmark.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            if (run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            const double milliseconds = run.GetAdjustedRealTime();
            if (name.starts_with("BM_ManagerSyncSample")) sample_ = milliseconds;
            if (name.starts_with("BM_UnpackTilePackage")) unpack_ = milliseconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (sample_ > 0) std::printf("sample solution: end-to-end synchronisation %.1f ms\n", sample_);
        if (unpack_ > 0) std::printf("large variant: the tile package's unpacking alone takes %.1f ms\n", unpack_);
        const Paired& rounds = paired();
        if (!rounds.managerAndBare.failed() && !rounds.providerSeconds.empty()) {
            std::printf("large variant, in the same rounds: HTTP provider %.1f ms, manager / HTTP provider %.2f\n",
                        medianOf(rounds.providerSeconds) * 1e3,
                        medianOfRatios(rounds.managerAndBare.firstSeconds, rounds.providerSeconds));
        }
        printVerdict("large variant, manager against the bare transport", rounds.managerAndBare, "manager",
                     "bare transport", "<= 1.3");
    }

private:
    double sample_ = 0;
    double unpack_ = 0;
};

}  // namespace ambrell::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] [variant folder]\n", argv[0]);
        return 2;
    }
    if (argc == 2) ambrell::bench::variantFolder() = argv[1];
    // The library's debug lines would be written while it is measured.
    ambrell::platform::Logger::setSink(std::make_shared<ambrell::bench::QuietLogSink>());
    int status = 0;
    {
        // Caches, logs and user defaults go to a temp folder, and the main queue runs.
        ambrell::test::ScopedContainer container;
        ambrell::platform::MainQueueThread mainThread;
        try {
            ambrell::bench::RatioReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "dataset_sync: %s\n", error.what());
            status = 1;
        }
    }
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return status;
}

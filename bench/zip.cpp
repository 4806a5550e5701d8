// Extraction throughput of a tile package: a few hundred PNG-like files of
// 10 to 40 KB that deflate can hardly shrink, as map tiles are; and of a large
// venue's package of 70,000 small tiles, beside Info-ZIP's unzip on the same
// archive. Both arms of the large case also run in turns within each
// iteration, which prints the ratio of the two after the table.
//
// Every pass extracts into a fresh folder, and the folders are removed once,
// when the benchmark ends: deleting 70,000 files after each pass took longer
// than the passes themselves, and on an ext4 file system without a journal
// the next pass's file creation pays again for every inode deleted in the
// last seconds.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "zip/SSZipArchive.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTileCount = 300;

// Fresh folders below one parent, all removed when the object goes.
class PassFolders {
public:
    explicit PassFolders(fs::path parent) : parent_(std::move(parent)) {}
    ~PassFolders() {
        std::error_code ignored;
        fs::remove_all(parent_, ignored);
    }
    PassFolders(const PassFolders&) = delete;
    PassFolders& operator=(const PassFolders&) = delete;

    fs::path fresh() { return parent_ / std::to_string(next_++); }

private:
    fs::path parent_;
    int next_ = 0;
};

struct TilePackage {
    fs::path folder;
    fs::path archive;
    std::uint64_t bytes = 0;

    TilePackage() {
        folder = fs::temp_directory_path() / ("ambrell-bench-zip-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        archive = folder / "tiles.zip";
        std::mt19937 random(42);
        std::uniform_int_distribution<int> size(10 * 1024, 40 * 1024);
        std::uniform_int_distribution<int> byte(0, 255);
        ambrell::SSZipArchive zip(archive.string());
        zip.open();
        for (int i = 0; i < kTileCount; ++i) {
            std::vector<std::uint8_t> tile(static_cast<std::size_t>(size(random)));
            const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
            std::copy(std::begin(signature), std::end(signature), tile.begin());
            // Mostly random bytes with some runs, roughly how compressed image data looks.
            for (std::size_t j = sizeof signature; j < tile.size(); ++j) {
                tile[j] = (j % 64 < 8) ? 0 : static_cast<std::uint8_t>(byte(random));
            }
            bytes += tile.size();
            zip.writeData(tile, "17/" + std::to_string(i % 20) + "/" + std::to_string(i) + ".png", std::nullopt);
        }
        zip.close();
    }
    ~TilePackage() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

void BM_UnzipTilePackage(benchmark::State& state) {
    static TilePackage package;
    PassFolders folders(package.folder / "out");
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path destination = folders.fresh();
        state.ResumeTiming();
        if (!ambrell::SSZipArchive::unzipFileAtPath(package.archive.string(), destination.string())) {
            state.SkipWithError("extraction failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * package.bytes));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kTileCount));
    state.counters["archive_MB"] = static_cast<double>(fs::file_size(package.archive)) / 1e6;
}
BENCHMARK(BM_UnzipTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);

constexpr int kLargeTileCount = 70000;

// 70,000 tiles of 100 to 1,000 bytes in 274 folders of up to 256.
struct LargeTilePackage {
    fs::path folder;
    fs::path archive;

    LargeTilePackage() {
        folder = fs::temp_directory_path() / ("ambrell-bench-zip-large-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        archive = folder / "tiles.zip";
        std::mt19937 random(7);
        std::uniform_int_distribution<int> size(100, 1000);
        std::uniform_int_distribution<int> byte(0, 255);
        ambrell::SSZipArchive zip(archive.string());
        zip.open();
        for (int i = 0; i < kLargeTileCount; ++i) {
            std::vector<std::uint8_t> tile(static_cast<std::size_t>(size(random)));
            for (std::size_t j = 0; j < tile.size(); ++j)
                tile[j] = (j % 16 < 4) ? 0 : static_cast<std::uint8_t>(byte(random));
            zip.writeData(tile, "18/" + std::to_string(i / 256) + "/" + std::to_string(i % 256) + ".png", std::nullopt);
        }
        zip.close();
    }
    ~LargeTilePackage() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

LargeTilePackage& largePackage() {
    static LargeTilePackage package;
    return package;
}

bool unzipWithLibrary(const fs::path& archive, const fs::path& destination) {
    return ambrell::SSZipArchive::unzipFileAtPath(archive.string(), destination.string());
}

bool infoZipInstalled() { return std::system("command -v unzip >/dev/null 2>&1") == 0; }

bool unzipWithInfoZip(const fs::path& archive, const fs::path& destination) {
    const std::string command = "unzip -q -o '" + archive.string() + "' -d '" + destination.string() + "'";
    return std::system(command.c_str()) == 0;
}

// Each pass unpacks into a fresh folder.
template <typename Unzip>
void unzipLargePackage(benchmark::State& state, Unzip&& unzip) {
    auto& package = largePackage();
    PassFolders folders(package.folder / "out");
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path destination = folders.fresh();
        state.ResumeTiming();
        if (!unzip(package.archive, destination)) {
            state.SkipWithError("extraction failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLargeTileCount));
    state.counters["entries_per_s"] =
        benchmark::Counter(static_cast<double>(kLargeTileCount), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_UnzipLargeTilePackage(benchmark::State& state) { unzipLargePackage(state, unzipWithLibrary); }
BENCHMARK(BM_UnzipLargeTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Info-ZIP's unzip as a child process, for comparison on the same archive.
void BM_InfoZipUnzipLargeTilePackage(benchmark::State& state) {
    if (!infoZipInstalled()) {
        state.SkipWithError("unzip is not installed");
        return;
    }
    unzipLargePackage(state, unzipWithInfoZip);
}
BENCHMARK(BM_InfoZipUnzipLargeTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The library and Info-ZIP in turns, one extraction each per iteration, the
// arm that goes first alternating, so that a load that comes and goes on the
// machine weighs on both alike; the medians and their ratio are the figures
// to judge by.
void BM_LargeTilePackageInTurns(benchmark::State& state) {
    if (!infoZipInstalled()) {
        state.SkipWithError("unzip is not installed");
        return;
    }
    auto& package = largePackage();
    PassFolders folders(package.folder / "out");
    std::vector<double> library;
    std::vector<double> infoZip;
    const auto timed = [&](auto&& unzip, std::vector<double>& times) {
        const fs::path destination = folders.fresh();
        const auto start = std::chrono::steady_clock::now();
        const bool unpacked = unzip(package.archive, destination);
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        return unpacked;
    };
    for (auto _ : state) {
        const bool libraryFirst = library.size() % 2 == 0;
        bool unpacked = libraryFirst ? timed(unzipWithLibrary, library) : timed(unzipWithInfoZip, infoZip);
        unpacked = (libraryFirst ? timed(unzipWithInfoZip, infoZip) : timed(unzipWithLibrary, library)) && unpacked;
        if (!unpacked) {
            state.SkipWithError("extraction failed");
            break;
        }
    }
    const auto median = [](std::vector<double> values) {
        if (values.empty()) return 0.0;
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
        return values[values.size() / 2];
    };
    state.counters["library_ms"] = median(library);
    state.counters["infozip_ms"] = median(infoZip);
}
BENCHMARK(BM_LargeTilePackageInTurns)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Prints the library's time against Info-ZIP's, from the run in turns, after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.benchmark_name().starts_with("BM_LargeTilePackageInTurns")) continue;
            // A run that stopped with an error has no figures.
            const auto library = run.counters.find("library_ms");
            const auto infoZip = run.counters.find("infozip_ms");
            if (library != run.counters.end() && infoZip != run.counters.end()) {
                library_ = library->second;
                infoZip_ = infoZip->second;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (library_ > 0 && infoZip_ > 0) {
            // The package is unpacked within a synchronisation, whose goal is 1.3 times the bare transport.
            std::printf("70,000 tiles, in turns: library %.1f ms, Info-ZIP %.1f ms, ratio %.2f (goal <= 1.3)\n",
                        library_, infoZip_, library_ / infoZip_);
        }
    }

private:
    double library_ = 0;
    double infoZip_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

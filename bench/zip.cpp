// Extraction throughput of a tile package: a few hundred PNG-like files of
// 10 to 40 KB that deflate can hardly shrink, as map tiles are; and of a large
// venue's package of 70,000 small tiles.
//
// Every pass extracts into a fresh folder, and the folders are removed once,
// when the program ends: deleting 70,000 files after each pass took longer
// than the passes themselves, and on an ext4 file system without a journal
// the next pass's file creation pays again for every inode deleted in the
// last seconds, so that a benchmark run after another's folders were
// removed would pay for them.
//
// Each package's extraction also runs in turns with writing the same tiles
// as plain files (the floor any extraction stands on: the files must be
// made), every round's two trees read back and checked to hold every tile
// with its bytes; the closing line per package is the median of the rounds'
// ratios over every repetition.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "bench/BenchSupport.h"
#include "platform/FileSystem.h"
#include "zip/SSZipArchive.h"

namespace {

namespace fs = std::filesystem;
namespace platform = ambrell::platform;

constexpr int kTileCount = 300;

// A package's tiles by their path in it, in the order they were written.
using Tiles = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;

// Fresh folders below one parent, which the package removes with its folder
// when the program ends.
class PassFolders {
public:
    explicit PassFolders(fs::path parent) : parent_(std::move(parent)) {}

    // Numbered across the program, so that a repetition gets fresh ones too.
    fs::path fresh() {
        static int next = 0;
        return parent_ / std::to_string(next++);
    }

private:
    fs::path parent_;
};

struct TilePackage {
    fs::path folder;
    fs::path archive;
    std::uint64_t bytes = 0;
    Tiles tiles;

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
            const std::string name = "17/" + std::to_string(i % 20) + "/" + std::to_string(i) + ".png";
            zip.writeData(tile, name, std::nullopt);
            tiles.emplace_back(name, std::move(tile));
        }
        zip.close();
    }
    ~TilePackage() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

TilePackage& smallPackage() {
    static TilePackage package;
    return package;
}

void BM_UnzipTilePackage(benchmark::State& state) {
    auto& package = smallPackage();
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
    Tiles tiles;

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
            const std::string name = "18/" + std::to_string(i / 256) + "/" + std::to_string(i % 256) + ".png";
            zip.writeData(tile, name, std::nullopt);
            tiles.emplace_back(name, std::move(tile));
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

// Each pass unpacks into a fresh folder.
void BM_UnzipLargeTilePackage(benchmark::State& state) {
    auto& package = largePackage();
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
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLargeTileCount));
    state.counters["entries_per_s"] =
        benchmark::Counter(static_cast<double>(kLargeTileCount), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_UnzipLargeTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The tiles written as plain files below `destination`, each folder made once.
bool writePlainly(const Tiles& tiles, const fs::path& destination) {
    fs::path made;
    for (const auto& [name, bytes] : tiles) {
        const fs::path file = destination / name;
        std::error_code error;
        if (file.parent_path() != made) {
            fs::create_directories(file.parent_path(), error);
            if (error) return false;
            made = file.parent_path();
        }
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr) return false;
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        if (std::fclose(out) != 0 || !written) return false;
    }
    return true;
}

// Empty when the tree below `folder` holds every tile with its bytes and nothing else.
std::string checkTree(const Tiles& tiles, const fs::path& folder, const char* arm) {
    std::size_t files = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        files += entry->is_regular_file() ? 1 : 0;
    }
    if (error || files != tiles.size()) return std::string(arm) + " made " + std::to_string(files) + " files";
    for (const auto& [name, bytes] : tiles) {
        if (platform::readFile(folder / name) != bytes) return std::string(arm) + " wrote other bytes for " + name;
    }
    return {};
}

// Per package, over every repetition: the extraction (first) and the plain writes (second).
std::map<std::int64_t, ambrell::bench::ArmsInTurns>& inTurns() {
    static std::map<std::int64_t, ambrell::bench::ArmsInTurns> all;
    return all;
}

// Arg 0: the small package; 1: the large one.
void BM_UnzipAgainstPlainWritesInTurn(benchmark::State& state) {
    const bool large = state.range(0) == 1;
    const fs::path archive = large ? largePackage().archive : smallPackage().archive;
    const Tiles& tiles = large ? largePackage().tiles : smallPackage().tiles;
    PassFolders folders((large ? largePackage().folder : smallPackage().folder) / "in-turns");
    auto& all = inTurns()[state.range(0)];
    ambrell::bench::ArmsInTurns repetition;
    for (auto _ : state) {
        const fs::path extracted = folders.fresh();
        const fs::path written = folders.fresh();
        bool unzipped = false;
        bool wrote = false;
        repetition.runBoth(
            [&] { unzipped = ambrell::SSZipArchive::unzipFileAtPath(archive.string(), extracted.string()); },
            [&] { wrote = writePlainly(tiles, written); });
        std::string fault = !unzipped ? "extraction failed" : !wrote ? "the plain writes failed" : "";
        if (fault.empty()) fault = checkTree(tiles, extracted, "the extraction");
        if (fault.empty()) fault = checkTree(tiles, written, "the plain writes");
        if (!all.keepRound(repetition, fault)) {
            state.SkipWithError(all.fault.c_str());
            break;
        }
    }
    state.counters["ratio"] = repetition.medianRatio();
}
BENCHMARK(BM_UnzipAgainstPlainWritesInTurn)
    ->ArgName("large")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(30);
BENCHMARK(BM_UnzipAgainstPlainWritesInTurn)
    ->ArgName("large")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [large, arms] : inTurns()) {
        ambrell::bench::printVerdict(large == 1 ? "large package (70,000 tiles of 100 to 1,000 bytes)"
                                                : "tile package (300 tiles of 10 to 40 KB)",
                                     arms, "extraction", "writing the same tiles as plain files", "");
    }
    benchmark::Shutdown();
    return 0;
}

// Extraction throughput of a tile package: a few hundred PNG-like files of
// 10 to 40 KB that deflate can hardly shrink, as map tiles are; and of a large
// venue's package of 70,000 small tiles.
//
// Every pass extracts into a fresh folder, and the folders are removed once,
// when the benchmark ends: deleting 70,000 files after each pass took longer
// than the passes themselves, and on an ext4 file system without a journal
// the next pass's file creation pays again for every inode deleted in the
// last seconds.
#include <cstdint>
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

}  // namespace

BENCHMARK_MAIN();

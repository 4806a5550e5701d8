// Extraction throughput of a tile package: a few hundred PNG-like files of
// 10 to 40 KB that deflate can hardly shrink, as map tiles are; and of a large
// venue's package of 70,000 small tiles, beside Info-ZIP's unzip on the same
// archive.
#include <cstdint>
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
    const fs::path destination = package.folder / "out";
    for (auto _ : state) {
        if (!ambrell::SSZipArchive::unzipFileAtPath(package.archive.string(), destination.string())) {
            state.SkipWithError("extraction failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * package.bytes));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kTileCount));
    state.counters["archive_MB"] = static_cast<double>(fs::file_size(package.archive)) / 1e6;
}
BENCHMARK(BM_UnzipTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// Each pass unpacks into a fresh folder; removing the last one is not timed.
template <typename Unzip>
void unzipLargePackage(benchmark::State& state, Unzip&& unzip) {
    auto& package = largePackage();
    const fs::path destination = package.folder / "out";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(destination);
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

void BM_UnzipLargeTilePackage(benchmark::State& state) {
    unzipLargePackage(state, [](const fs::path& archive, const fs::path& destination) {
        return ambrell::SSZipArchive::unzipFileAtPath(archive.string(), destination.string());
    });
}
BENCHMARK(BM_UnzipLargeTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Info-ZIP's unzip as a child process, for comparison on the same archive.
void BM_InfoZipUnzipLargeTilePackage(benchmark::State& state) {
    if (std::system("command -v unzip >/dev/null 2>&1") != 0) {
        state.SkipWithError("unzip is not installed");
        return;
    }
    unzipLargePackage(state, [](const fs::path& archive, const fs::path& destination) {
        const std::string command = "unzip -q -o '" + archive.string() + "' -d '" + destination.string() + "'";
        return std::system(command.c_str()) == 0;
    });
}
BENCHMARK(BM_InfoZipUnzipLargeTilePackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

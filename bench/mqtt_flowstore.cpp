// The flow store's work for one incoming QoS 2 message, as the session does
// it: store and sync at the PUBLISH, then at the release look the flow up,
// read it, delete it and sync, with the flow counts read after each change.
// Run with 10, 100 and 1,000 other flows held, for the SQLite store in
// memory and on file and for the in-memory store: the cost per message
// should not grow with the flows held.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "livedata/mqtt/MQTTCoreDataPersistence.h"
#include "livedata/mqtt/MQTTInMemoryPersistence.h"
#include "platform/Paths.h"

namespace {

enum class StoreKind { sqliteMemory = 0, sqliteFile = 1, inMemory = 2 };

constexpr const char* kClient = "bench-flowstore";

std::shared_ptr<ambrell::MQTTPersistence> makeStore(StoreKind kind) {
    if (kind == StoreKind::inMemory) return std::make_shared<ambrell::MQTTInMemoryPersistence>();
    auto store = std::make_shared<ambrell::MQTTCoreDataPersistence>();
    store->setPersistent(kind == StoreKind::sqliteFile);
    return store;
}

void BM_FlowCycle(benchmark::State& state) {
    const auto kind = static_cast<StoreKind>(state.range(0));
    const auto held = static_cast<std::uint16_t>(state.range(1));
    const auto root = std::filesystem::temp_directory_path() / ("mqtt-flowstore-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "Documents");
    ambrell::platform::Paths::setContainerRoot(root);

    const auto store = makeStore(kind);
    store->setMaxMessages(5000);
    store->deleteAllFlowsForClientId(kClient);
    const std::vector<std::uint8_t> payload(64, 'x');
    const auto now = std::chrono::system_clock::now();
    for (std::uint16_t mid = 1; mid <= held; ++mid) {
        store->storeMessageForClientId(kClient, "live/a", payload, false, 2, mid, true, 5, now);
    }
    store->sync();

    std::uint16_t next = 10000;
    for (auto _ : state) {
        const auto mid = next++;
        if (next == 60000) next = 10000;
        auto flow = store->storeMessageForClientId(kClient, "live/a", payload, false, 2, mid, true, 5, now);
        store->sync();
        benchmark::DoNotOptimize(store->flowCount(kClient, true) + store->flowCount(kClient, false));
        auto found = store->flowforClientId(kClient, true, mid);
        const auto fields = found->fields();
        benchmark::DoNotOptimize(fields.data->size());
        store->deleteFlow(found);
        store->sync();
        benchmark::DoNotOptimize(store->flowCount(kClient, true) + store->flowCount(kClient, false));
    }
    state.SetItemsProcessed(state.iterations());

    store->deleteAllFlowsForClientId(kClient);
    std::filesystem::remove_all(root);
    ambrell::platform::Paths::resetForTesting();
}

BENCHMARK(BM_FlowCycle)
    ->ArgNames({"store", "held"})
    ->ArgsProduct({{0, 1, 2}, {10, 100, 1000}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

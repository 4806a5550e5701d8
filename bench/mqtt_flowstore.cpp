// The flow store's work for one incoming QoS 2 message, as the session does
// it: store and sync at the PUBLISH, then at the release look the flow up,
// read it, delete it and sync, with the flow counts read after each change.
// Run with 10, 100 and 1,000 other flows held, for the SQLite store in
// memory and on file and for the in-memory store: the cost per message
// should not grow with the flows held. For each store, a batch of messages
// with 1,000 flows held and one with 10 held also run in turns on one store
// (the 990 others added and taken away outside the timing), every cycle
// checked to find the flow it stored and to leave the flows held as they
// were; the closing line per store is the median of the rounds' ratios over
// every repetition.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
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

std::filesystem::path containerRoot() {
    return std::filesystem::temp_directory_path() / ("mqtt-flowstore-" + std::to_string(::getpid()));
}

// Empties the store and removes its container.
void leave(ambrell::MQTTPersistence& store) {
    store.deleteAllFlowsForClientId(kClient);
    std::filesystem::remove_all(containerRoot());
    ambrell::platform::Paths::resetForTesting();
}

// A store of `kind` in a container of this process's own, holding `held`
// unfinished incoming QoS 2 flows, numbered from 1.
std::shared_ptr<ambrell::MQTTPersistence> storeHolding(StoreKind kind, std::uint16_t held) {
    std::filesystem::create_directories(containerRoot() / "Documents");
    ambrell::platform::Paths::setContainerRoot(containerRoot());

    auto store = makeStore(kind);
    store->setMaxMessages(5000);
    store->deleteAllFlowsForClientId(kClient);
    const std::vector<std::uint8_t> payload(64, 'x');
    const auto now = std::chrono::system_clock::now();
    for (std::uint16_t mid = 1; mid <= held; ++mid) {
        store->storeMessageForClientId(kClient, "live/a", payload, false, 2, mid, true, 5, now);
    }
    store->sync();
    return store;
}

void BM_FlowCycle(benchmark::State& state) {
    const auto store = storeHolding(static_cast<StoreKind>(state.range(0)), static_cast<std::uint16_t>(state.range(1)));
    const std::vector<std::uint8_t> payload(64, 'x');
    const auto now = std::chrono::system_clock::now();

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

    leave(*store);
}

BENCHMARK(BM_FlowCycle)
    ->ArgNames({"store", "held"})
    ->ArgsProduct({{0, 1, 2}, {10, 100, 1000}})
    ->Unit(benchmark::kMicrosecond);

constexpr std::uint16_t kFewHeld = 10;
constexpr std::uint16_t kManyHeld = 1000;
constexpr int kCyclesPerBatch = 50;

// One incoming message's cycle, checked: the flow found is the one stored,
// and the counts are the flows held plus it, then the flows held again.
bool checkedCycle(ambrell::MQTTPersistence& store, std::uint16_t mid, std::uint16_t held,
                  const std::vector<std::uint8_t>& payload, std::chrono::system_clock::time_point now) {
    store.storeMessageForClientId(kClient, "live/a", payload, false, 2, mid, true, 5, now);
    store.sync();
    bool sound = store.flowCount(kClient, true) + store.flowCount(kClient, false) == held + 1U;
    auto found = store.flowforClientId(kClient, true, mid);
    if (!found) return false;
    const auto fields = found->fields();
    sound = sound && fields.messageId == mid && fields.data == payload;
    store.deleteFlow(found);
    store.sync();
    return sound && store.flowCount(kClient, true) + store.flowCount(kClient, false) == held;
}

// Per store, over every repetition: many flows held (first), few (second).
std::map<std::int64_t, ambrell::bench::ArmsInTurns>& inTurns() {
    static std::map<std::int64_t, ambrell::bench::ArmsInTurns> all;
    return all;
}

void BM_ManyAgainstFewHeldInTurn(benchmark::State& state) {
    const auto store = storeHolding(static_cast<StoreKind>(state.range(0)), kFewHeld);
    const std::vector<std::uint8_t> payload(64, 'x');
    const auto now = std::chrono::system_clock::now();

    auto& all = inTurns()[state.range(0)];
    ambrell::bench::ArmsInTurns repetition;
    std::uint16_t next = 10000;
    bool sound = true;
    const auto batch = [&](std::uint16_t held) {
        return ambrell::bench::secondsOf([&] {
            for (int cycle = 0; cycle < kCyclesPerBatch; ++cycle) {
                const auto mid = next++;
                if (next == 60000) next = 10000;
                sound = checkedCycle(*store, mid, held, payload, now) && sound;
            }
        });
    };
    for (auto _ : state) {
        repetition.runBothTimed(
            [&] {
                // The flows beyond the few, added and taken away untimed.
                for (std::uint16_t mid = kFewHeld + 1; mid <= kManyHeld; ++mid) {
                    store->storeMessageForClientId(kClient, "live/a", payload, false, 2, mid, true, 5, now);
                }
                store->sync();
                const double seconds = batch(kManyHeld);
                for (std::uint16_t mid = kFewHeld + 1; mid <= kManyHeld; ++mid) {
                    if (auto flow = store->flowforClientId(kClient, true, mid)) store->deleteFlow(flow);
                }
                store->sync();
                return seconds;
            },
            [&] { return batch(kFewHeld); });
        std::string fault;
        if (!sound) fault = "a cycle did not find its flow or left the flows held otherwise";
        if (!all.keepRound(repetition, fault)) {
            state.SkipWithError(all.fault.c_str());
            break;
        }
    }
    state.counters["ratio"] = repetition.medianRatio();

    leave(*store);
}
BENCHMARK(BM_ManyAgainstFewHeldInTurn)->ArgName("store")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
// On file a round's untimed setting up takes about a second: a fixed few.
BENCHMARK(BM_ManyAgainstFewHeldInTurn)->ArgName("store")->Arg(1)->Iterations(9)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    const char* names[] = {"SQLite store in memory", "SQLite store on file", "in-memory store"};
    for (const auto& [kind, arms] : inTurns()) {
        ambrell::bench::printVerdict(
            std::string(names[kind]) + ", " + std::to_string(kCyclesPerBatch) + " incoming QoS 2 messages", arms,
            "with 1,000 flows held", "with 10 held", "near 1, no growth with the flows held");
    }
    benchmark::Shutdown();
    return 0;
}

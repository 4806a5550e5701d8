// 100,000 live-update messages for the sample solution's locations through
// the live-data manager, handed over as the subscription client hands them
// (bytes and topic string, no broker) until its delegate has received every
// update, against a raw Boost.JSON parse of the same bytes on one thread.
//
//   live_updates [benchmark flags]
//
// The messages are the live-update objects of the topic layout the
// subscription client receives: each of the sample's locations in turn, the
// domains occupancy, availability, temperature, co2 and position in turn,
// timestamps a millisecond apart. The manager is connected, so every update
// is delivered as it is decoded. The goal is the manager at no less than
// half the raw parse's rate. Beside it: the location-source path, which
// parses, decodes and gives each update to its location (assignLiveUpdate,
// as the venue location sources do), on fresh copies of the locations so
// that every update is taken. The three run in turn, one round each per
// iteration, so that a busy machine slows them alike: the medians and the
// ratios printed at the end are the figures to judge by.

#include <benchmark/benchmark.h>

#include <boost/json/parse.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Ambrell/CVLiveUpdate.h"
#include "Ambrell/CVSubscription.h"
#include "bench/BenchSupport.h"
#include "data/CVLocationInternal.h"
#include "data/CVSolutionInternal.h"
#include "foundation/CVLogger.h"
#include "livedata/CVLiveDataManager.h"
#include "livedata/CVLiveDataService.h"
#include "platform/Logger.h"
#include "platform/runtime/Runtime.h"

namespace ambrell::live_updates_bench {
namespace {

constexpr std::size_t kMessages = 100'000;
constexpr auto kBound = std::chrono::seconds(30);
constexpr const char* kDomains[] = {"occupancy", "availability", "temperature", "co2", "position"};

// A connected broker client that never sends anything itself.
class ConnectedClient final : public CVSubscriptionClient {
public:
    void connect(bool /*cleanSession*/) override {}
    void disconnect() override {}
    void subscribe(std::shared_ptr<const CVSubscriptionTopic> /*topic*/) override {}
    void unsubscribe(std::shared_ptr<const CVSubscriptionTopic> /*topic*/) override {}
    [[nodiscard]] CVSubscriptionState state() const override { return CVSubscriptionState::connected; }
    [[nodiscard]] std::shared_ptr<CVSubscriptionClientDelegate> delegate() const override {
        std::lock_guard lock(mutex_);
        return delegate_;
    }
    void setDelegate(std::shared_ptr<CVSubscriptionClientDelegate> delegate) override {
        std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<CVSubscriptionClientDelegate> delegate_;
};

// Counts the updates it receives; the benchmark waits on the count.
class CountingDelegate final : public CVLiveDataManagerDelegate {
public:
    // Starts a round of `count` updates.
    void expect(std::size_t count) {
        std::lock_guard lock(mutex_);
        counted_ = 0;
        expected_ = count;
    }
    bool waitForAll() {
        std::unique_lock lock(mutex_);
        return done_.wait_for(lock, kBound, [&] { return counted_.load() >= expected_.load(); });
    }
    [[nodiscard]] std::size_t errors() const { return errors_.load(); }

    void didReceiveWithLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& /*liveUpdate*/) override {
        // The lock only for the last one: it wakes the waiter.
        if (++counted_ != expected_.load()) return;
        std::lock_guard lock(mutex_);
        done_.notify_all();
    }
    void didUpdateWithState(std::int64_t /*state*/) override {}
    void didSubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void didUnsubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void onSubscriptionError(const platform::NSError& /*error*/,
                             const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void onUnsubscriptionError(const platform::NSError& /*error*/,
                               const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void onError(const platform::NSError& /*error*/) override { ++errors_; }
    void didReceiveLiveDataInfo(const CVLiveDataInfo& /*info*/) override {}

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::atomic<std::size_t> counted_{0};
    std::atomic<std::size_t> expected_{0};
    std::atomic<std::size_t> errors_{0};
};

struct Message {
    std::string bytes;
    std::string topic;
};

// The messages and the locations they are for.
struct Stream {
    std::vector<Message> messages;
    std::vector<std::shared_ptr<CVLocationInternal>> locations;
};

std::string payload(const CVLocationInternal& location, std::string_view domain, std::size_t index) {
    // Timestamps a millisecond apart, from 2026-12-07T10:00:00.000Z on.
    const std::size_t millis = index % 1000;
    const std::size_t seconds = index / 1000;
    char timestamp[32];
    std::snprintf(timestamp, sizeof timestamp, "2026-12-07T%02zu:%02zu:%02zu.%03zuZ", 10 + seconds / 3600,
                  seconds / 60 % 60, seconds % 60, millis);
    std::string properties;
    if (domain == "occupancy") {
        properties = "{\"nrOfPeople\":" + std::to_string(index % 12) + "}";
    } else if (domain == "availability") {
        properties = std::string("{\"available\":") + (index % 2 == 0 ? "true" : "false") + "}";
    } else if (domain == "temperature") {
        properties = "{\"temperature\":" + std::to_string(19 + static_cast<double>(index % 40) / 10) + "}";
    } else if (domain == "co2") {
        properties = "{\"co2\":" + std::to_string(400 + index % 600) + ".5}";
    } else {
        const CVPoint point = location.getPosition();
        char position[160];
        std::snprintf(position, sizeof position, "{\"latitude\":%.7f,\"longitude\":%.7f,\"floorIndex\":%d}",
                      point.latitude() + 1e-7 * static_cast<double>(index % 50), point.longitude(),
                      static_cast<int>(location.getFloorIndex().value_or(0)));
        properties = position;
    }
    return "{\"id\":\"" + location.locationId + "\",\"domainType\":\"" + std::string(domain) + "\",\"timestamp\":\"" +
           timestamp + "\",\"properties\":" + properties + "}";
}

const Stream& stream() {
    static const Stream made = [] {
        const auto sync = std::filesystem::path(AMBRELL_LIVE_SAMPLE_SOLUTION) / "service" / "sync";
        auto solution = CVSolutionInternal::fromString(bench::readText(sync / "solutions_en.json"));
        auto dataset = CVLocationDataset::fromString(bench::readText(sync / "locations_en.json"));
        if (!solution || !dataset || !dataset->list || dataset->list->empty()) {
            throw std::runtime_error("the sample solution does not read");
        }
        Stream stream;
        for (const auto& location : *dataset->list) {
            stream.locations.push_back(std::static_pointer_cast<CVLocationInternal>(location));
        }
        stream.messages.reserve(kMessages);
        for (std::size_t index = 0; index < kMessages; ++index) {
            const auto& location = *stream.locations[index % stream.locations.size()];
            const std::string_view domain = kDomains[index % std::size(kDomains)];
            stream.messages.push_back({payload(location, domain, index),
                                       solution->dataSetId() + "/" +
                                           location.readableLocationIdForBuildingFloor().value_or("outdoors") + "/" +
                                           location.locationId + "/" + std::string(domain)});
        }
        return stream;
    }();
    return made;
}

struct Figures {
    double managerNs = 0;
    double parseNs = 0;
    double locationsNs = 0;
    std::size_t bytes = 0;
};

Figures& figures() {
    static Figures measured;
    return measured;
}

double rate(double nanoseconds) { return nanoseconds > 0 ? static_cast<double>(kMessages) * 1e9 / nanoseconds : 0; }

void BM_ManagerAgainstParseInTurn(benchmark::State& state) {
    const Stream& messages = stream();
    auto client = std::make_shared<ConnectedClient>();
    auto delegate = std::make_shared<CountingDelegate>();
    auto manager = CVLiveDataManager::make(client, std::make_shared<CVLiveDataService>(), nullptr,
                                           CVLiveDataManager::kReconnectDelay,
                                           [](auto completion) { completion(nullptr, std::nullopt); });
    manager->setDelegate(delegate);
    manager->didUpdateState(static_cast<std::int64_t>(CVSubscriptionState::connected));

    std::vector<double> managerRounds;
    std::vector<double> parseRounds;
    std::vector<double> locationRounds;
    std::size_t bytes = 0;
    for (auto _ : state) {
        // The manager: handed over on this thread, decoded and delivered on its own.
        delegate->expect(kMessages);
        auto start = std::chrono::steady_clock::now();
        for (const auto& message : messages.messages) {
            manager->didReceiveMessage(
                std::span(reinterpret_cast<const std::uint8_t*>(message.bytes.data()), message.bytes.size()),
                message.topic);
        }
        if (!delegate->waitForAll()) {
            state.SkipWithError("the manager did not deliver every update");
            break;
        }
        auto end = std::chrono::steady_clock::now();
        managerRounds.push_back(std::chrono::duration<double, std::nano>(end - start).count());

        // The raw parse of the same bytes.
        bytes = 0;
        start = std::chrono::steady_clock::now();
        for (const auto& message : messages.messages) {
            auto value = boost::json::parse(message.bytes);
            benchmark::DoNotOptimize(value);
            bytes += message.bytes.size();
        }
        end = std::chrono::steady_clock::now();
        parseRounds.push_back(std::chrono::duration<double, std::nano>(end - start).count());

        // The location-source path, on copies that hold no live update yet.
        std::unordered_map<std::string, std::shared_ptr<CVLocationInternal>> byId;
        for (const auto& location : messages.locations) {
            byId.emplace(location->locationId, std::make_shared<CVLocationInternal>(*location));
        }
        std::size_t taken = 0;
        start = std::chrono::steady_clock::now();
        for (const auto& message : messages.messages) {
            const auto value = boost::json::parse(message.bytes);
            const auto update = CVLiveUpdate::liveUpdateWithDictionary(value.as_object(), message.topic);
            if (!update) continue;
            const auto found = byId.find(update->itemId);
            if (found != byId.end() && found->second->assignLiveUpdate(update)) ++taken;
        }
        end = std::chrono::steady_clock::now();
        locationRounds.push_back(std::chrono::duration<double, std::nano>(end - start).count());
        if (taken != kMessages) {
            state.SkipWithError("a location refused an update");
            break;
        }
    }
    client->setDelegate(nullptr);
    if (delegate->errors() != 0) state.SkipWithError("the manager reported errors");

    auto& measured = figures();
    measured.managerNs = bench::medianOf(managerRounds);
    measured.parseNs = bench::medianOf(parseRounds);
    measured.locationsNs = bench::medianOf(locationRounds);
    measured.bytes = bytes;
    state.counters["manager_per_s"] = rate(measured.managerNs);
    state.counters["parse_per_s"] = rate(measured.parseNs);
    state.counters["locations_per_s"] = rate(measured.locationsNs);
    state.counters["ratio"] = measured.managerNs > 0 ? measured.parseNs / measured.managerNs : 0.0;
}
BENCHMARK(BM_ManagerAgainstParseInTurn)->Iterations(9)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace ambrell::live_updates_bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ambrell::platform::Logger::setSink(std::make_shared<ambrell::bench::QuietLogSink>());
    ambrell::CVLogger::sharedInstance()->setConfiguration(ambrell::CVLoggingConfig::noLogging());
    benchmark::RunSpecifiedBenchmarks();
    const auto& figures = ambrell::live_updates_bench::figures();
    if (figures.managerNs > 0 && figures.parseNs > 0) {
        using ambrell::live_updates_bench::rate;
        std::printf(
            "100,000 messages (%zu bytes), in turn, medians: manager %.0f updates/s, raw parse %.0f messages/s, "
            "ratio %.2f of the parse's rate (goal >= 0.5); location-source path %.0f updates/s (%.2f of the "
            "parse's rate)\n",
            figures.bytes, rate(figures.managerNs), rate(figures.parseNs), figures.parseNs / figures.managerNs,
            rate(figures.locationsNs), figures.parseNs / figures.locationsNs);
    }
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return 0;
}

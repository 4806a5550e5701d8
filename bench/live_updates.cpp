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
// iteration (the manager and the parse alternating which goes first), so
// that a busy machine slows them alike. Every round's results are checked:
// the manager delivered each message's update once and the parse made each
// message's object (each arm sums a digest of what it made, which must be
// the messages' own), and the locations took every update. The closing line
// is the median of the rounds' ratios over every repetition.

#include <benchmark/benchmark.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

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

// What a message says, folded so that a round's sum shows whether every
// message was taken once: its location, domain and timestamp (no two
// messages share one).
std::uint64_t digestOf(std::string_view locationId, std::string_view domain, std::string_view timestamp) {
    const std::hash<std::string_view> hash;
    return hash(locationId) * 3 + hash(domain) * 5 + hash(timestamp) * 7;
}

// Counts the updates it receives, which the manager delivers one at a time,
// and sums their digests; the benchmark waits on the count.
class CountingDelegate final : public CVLiveDataManagerDelegate {
public:
    // Starts a round of `count` updates.
    void expect(std::size_t count) {
        std::lock_guard lock(mutex_);
        digest_ = 0;
        counted_ = 0;
        expected_ = count;
    }
    bool waitForAll() {
        std::unique_lock lock(mutex_);
        return done_.wait_for(lock, kBound, [&] { return counted_.load() >= expected_.load(); });
    }
    [[nodiscard]] std::size_t errors() const { return errors_.load(); }
    // The sum of the round's digests, once waitForAll said every update is there.
    [[nodiscard]] std::uint64_t digest() const { return digest_; }

    void didReceiveWithLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& liveUpdate) override {
        digest_ += digestOf(liveUpdate->itemId, liveUpdate->topic.domainType.value_or(""), liveUpdate->timestampText);
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
    // Written before the count goes up, read once the count is reached.
    std::uint64_t digest_ = 0;
};

struct Message {
    std::string bytes;
    std::string topic;
    // What it says: the location, the domain and the timestamp, unique to each message.
    std::string locationId;
    std::string domain;
    std::string timestamp;
};

// The messages and the locations they are for.
struct Stream {
    std::vector<Message> messages;
    std::vector<std::shared_ptr<CVLocationInternal>> locations;
    // The sum of the messages' digests.
    std::uint64_t digest = 0;
};

// Timestamps a millisecond apart, from 2026-12-07T10:00:00.000Z on.
std::string timestampOf(std::size_t index) {
    const std::size_t millis = index % 1000;
    const std::size_t seconds = index / 1000;
    char timestamp[32];
    std::snprintf(timestamp, sizeof timestamp, "2026-12-07T%02zu:%02zu:%02zu.%03zuZ", 10 + seconds / 3600,
                  seconds / 60 % 60, seconds % 60, millis);
    return timestamp;
}

std::string payload(const CVLocationInternal& location, std::string_view domain, std::size_t index) {
    const std::string timestamp = timestampOf(index);
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
                                           location.locationId + "/" + std::string(domain),
                                       location.locationId, std::string(domain), timestampOf(index)});
            stream.digest += digestOf(location.locationId, domain, stream.messages.back().timestamp);
        }
        return stream;
    }();
    return made;
}

// Over every repetition: the manager (first) and the raw parse (second) in
// turns, and the location-source path in the same rounds.
struct Figures {
    bench::ArmsInTurns managerAndParse;
    std::vector<double> locationSeconds;
    std::size_t bytes = 0;
};

Figures& figures() {
    static Figures measured;
    return measured;
}

double rate(double seconds) { return seconds > 0 ? static_cast<double>(kMessages) / seconds : 0; }

// The digest of what a parsed message says, 0 for one that says nothing.
std::uint64_t digestOf(const boost::json::value& parsed) {
    const auto* object = parsed.if_object();
    if (object == nullptr) return 0;
    const auto* id = object->if_contains("id");
    const auto* domain = object->if_contains("domainType");
    const auto* timestamp = object->if_contains("timestamp");
    if (id == nullptr || domain == nullptr || timestamp == nullptr || !id->is_string() || !domain->is_string() ||
        !timestamp->is_string()) {
        return 0;
    }
    return digestOf(id->get_string(), domain->get_string(), timestamp->get_string());
}

void BM_ManagerAgainstParseInTurn(benchmark::State& state) {
    const Stream& messages = stream();
    auto client = std::make_shared<ConnectedClient>();
    auto delegate = std::make_shared<CountingDelegate>();
    auto manager = CVLiveDataManager::make(client, std::make_shared<CVLiveDataService>(), nullptr,
                                           CVLiveDataManager::kReconnectDelay,
                                           [](auto completion) { completion(nullptr, std::nullopt); });
    manager->setDelegate(delegate);
    manager->didUpdateState(static_cast<std::int64_t>(CVSubscriptionState::connected));

    Figures& all = figures();
    bench::ArmsInTurns repetition;
    std::vector<double> locationRounds;
    std::size_t bytes = 0;
    const auto stop = [&](const std::string& fault) {
        all.managerAndParse.fail(fault);
        state.SkipWithError(fault.c_str());
    };
    for (auto _ : state) {
        // Each arm sums the digests of what it made as it goes: the sums are
        // checked after the round.
        delegate->expect(kMessages);
        bool delivered = true;
        std::uint64_t parsedDigest = 0;
        repetition.runBoth(
            [&] {
                // Handed over on this thread, decoded and delivered on the manager's own.
                for (const auto& message : messages.messages) {
                    manager->didReceiveMessage(
                        std::span(reinterpret_cast<const std::uint8_t*>(message.bytes.data()), message.bytes.size()),
                        message.topic);
                }
                delivered = delegate->waitForAll();
            },
            [&] {
                bytes = 0;
                for (const auto& message : messages.messages) {
                    const auto value = boost::json::parse(message.bytes);
                    parsedDigest += digestOf(value);
                    bytes += message.bytes.size();
                }
            });
        std::string fault;
        if (!delivered) {
            fault = "the manager did not deliver every update";
        } else if (delegate->digest() != messages.digest) {
            fault = "the manager did not deliver each message's update once";
        } else if (parsedDigest != messages.digest) {
            fault = "the parse did not make each message's object";
        }
        if (!fault.empty()) {
            stop(fault);
            break;
        }

        // The location-source path, on copies that hold no live update yet.
        std::unordered_map<std::string, std::shared_ptr<CVLocationInternal>> byId;
        for (const auto& location : messages.locations) {
            byId.emplace(location->locationId, std::make_shared<CVLocationInternal>(*location));
        }
        std::size_t taken = 0;
        locationRounds.push_back(bench::secondsOf([&] {
            for (const auto& message : messages.messages) {
                const auto value = boost::json::parse(message.bytes);
                const auto update = CVLiveUpdate::liveUpdateWithDictionary(value.as_object(), message.topic);
                if (!update) continue;
                const auto found = byId.find(update->itemId);
                if (found != byId.end() && found->second->assignLiveUpdate(update)) ++taken;
            }
        }));

        if (taken != kMessages) fault = "the locations took " + std::to_string(taken) + " updates";
        if (delegate->errors() != 0) fault = "the manager reported errors";
        if (!fault.empty()) {
            stop(fault);
            break;
        }
        all.managerAndParse.firstSeconds.push_back(repetition.firstSeconds.back());
        all.managerAndParse.secondSeconds.push_back(repetition.secondSeconds.back());
        all.locationSeconds.push_back(locationRounds.back());
    }
    client->setDelegate(nullptr);

    all.bytes = bytes;
    state.counters["manager_per_s"] = rate(bench::medianOf(repetition.firstSeconds));
    state.counters["parse_per_s"] = rate(bench::medianOf(repetition.secondSeconds));
    state.counters["locations_per_s"] = rate(bench::medianOf(locationRounds));
    state.counters["ratio"] = repetition.medianInverseRatio();
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
    const auto& arms = figures.managerAndParse;
    using ambrell::bench::medianOf;
    using ambrell::bench::medianOfRatios;
    using ambrell::live_updates_bench::rate;
    if (arms.failed()) {
        std::printf("100,000 messages: no ratio, a round went wrong: %s\n", arms.fault.c_str());
    } else if (arms.rounds() > 0) {
        // The rates' ratio, round by round: the parse's time over the manager's.
        std::printf(
            "100,000 messages (%zu bytes), in turns, medians: location-source path %.0f updates/s (%.2f of the "
            "parse's rate)\n",
            figures.bytes, rate(medianOf(figures.locationSeconds)),
            medianOfRatios(arms.secondSeconds, figures.locationSeconds));
        std::printf(
            "100,000 messages, in turns, medians: manager %.0f updates/s, raw parse %.0f messages/s; ratio %.2f of "
            "the parse's rate (median of %zu rounds' ratios; goal >= 0.5)\n",
            rate(medianOf(arms.firstSeconds)), rate(medianOf(arms.secondSeconds)), arms.medianInverseRatio(),
            arms.rounds());
    }
    benchmark::Shutdown();
    ambrell::platform::Runtime::shared().shutdown();
    return 0;
}

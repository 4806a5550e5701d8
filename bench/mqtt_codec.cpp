// Small PUBLISH frames, as live data brings them: encoding (build and frame)
// and decoding (framing of a received stream, parsing, topic split), each
// beside a plain memcpy of the same bytes. Each also runs in turns with its
// memcpy over a stream of 1,000 frames, every round's result checked (the
// encoded stream and the copy are the known stream; the decoder gave every
// frame's topic and payload, the copy the stream's bytes); the closing lines
// give the median of the rounds' ratios over every repetition.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "livedata/mqtt/MQTTDecoder.h"
#include "livedata/mqtt/MQTTMessage.h"

namespace {

using ambrell::Bytes;
using ambrell::MQTTMessage;

constexpr const char* kTopic = "live/venue/42/occupancy";
constexpr std::size_t kPayloadSize = 64;
constexpr std::size_t kFramesPerStream = 1000;
// What one socket read hands the decoder.
constexpr std::size_t kChunkSize = 768;

Bytes payload() {
    Bytes bytes(kPayloadSize);
    for (std::size_t index = 0; index < bytes.size(); ++index)
        bytes[index] = static_cast<std::uint8_t>('a' + index % 26);
    return bytes;
}

Bytes frame(std::uint8_t qos, std::uint8_t level) {
    return MQTTMessage::publishMessageWithData(payload(), kTopic, qos, 7, false, false, level)->wireFormat();
}

void BM_Encode(benchmark::State& state) {
    const auto qos = static_cast<std::uint8_t>(state.range(0));
    const auto level = static_cast<std::uint8_t>(state.range(1));
    const Bytes body = payload();
    Bytes out;
    out.reserve(256);
    std::uint16_t mid = 1;
    for (auto _ : state) {
        out.clear();
        const auto message = MQTTMessage::publishMessageWithData(body, kTopic, qos, mid, false, false, level);
        message->appendWireFormat(out);
        benchmark::DoNotOptimize(out.data());
        mid = static_cast<std::uint16_t>(mid % 65'535 + 1);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame(qos, level).size()));
}
BENCHMARK(BM_Encode)->Args({0, 4})->Args({1, 4})->Args({1, 5});

void BM_EncodeMemcpy(benchmark::State& state) {
    const Bytes bytes = frame(static_cast<std::uint8_t>(state.range(0)), static_cast<std::uint8_t>(state.range(1)));
    Bytes out(bytes.size());
    for (auto _ : state) {
        std::memcpy(out.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_EncodeMemcpy)->Args({0, 4})->Args({1, 4})->Args({1, 5});

// Parses every frame and splits topic from payload, as the session does.
class ParsingDelegate : public ambrell::MQTTDecoderDelegate {
public:
    explicit ParsingDelegate(std::uint8_t level) : level_(level) {}
    std::size_t payloadBytes = 0;
    // Frames whose topic or payload is not the one sent, counted when asked for.
    bool checking = false;
    std::size_t frames = 0;
    std::size_t wrong = 0;

    void decoderDidReceiveMessage(ambrell::MQTTDecoder& /*decoder*/, std::span<const std::uint8_t> frame) override {
        const auto message = MQTTMessage::messageFromData(frame, level_);
        const auto content = ambrell::publishContent(*message, level_);
        benchmark::DoNotOptimize(content->topic.data());
        payloadBytes += content->payload.size();
        if (checking) {
            ++frames;
            if (content->topic != kTopic ||
                !std::equal(content->payload.begin(), content->payload.end(), expected_.begin(), expected_.end())) {
                ++wrong;
            }
        }
    }

private:
    std::uint8_t level_;
    const Bytes expected_ = payload();
};

Bytes stream(std::uint8_t qos, std::uint8_t level) {
    const Bytes one = frame(qos, level);
    Bytes bytes;
    for (std::size_t index = 0; index < kFramesPerStream; ++index) bytes.insert(bytes.end(), one.begin(), one.end());
    return bytes;
}

void BM_Decode(benchmark::State& state) {
    const auto qos = static_cast<std::uint8_t>(state.range(0));
    const auto level = static_cast<std::uint8_t>(state.range(1));
    const Bytes bytes = stream(qos, level);
    auto delegate = std::make_shared<ParsingDelegate>(level);
    auto decoder = std::make_shared<ambrell::MQTTDecoder>();
    decoder->setDelegate(delegate);
    decoder->open();
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += kChunkSize) {
            decoder->decodeMessage(std::span(bytes).subspan(at, std::min(kChunkSize, bytes.size() - at)));
        }
    }
    if (delegate->payloadBytes != state.iterations() * kFramesPerStream * kPayloadSize) {
        state.SkipWithError("frames were lost");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kFramesPerStream));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Decode)->Args({0, 4})->Args({1, 4})->Args({1, 5});

void BM_DecodeMemcpy(benchmark::State& state) {
    const Bytes bytes = stream(static_cast<std::uint8_t>(state.range(0)), static_cast<std::uint8_t>(state.range(1)));
    Bytes out(bytes.size());
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += kChunkSize) {
            std::memcpy(out.data() + at, bytes.data() + at, std::min(kChunkSize, bytes.size() - at));
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kFramesPerStream));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeMemcpy)->Args({0, 4})->Args({1, 4})->Args({1, 5});

// The codec (first) and its memcpy (second) in turns, per operation, QoS and
// level, over every repetition.
std::map<std::tuple<std::string, std::int64_t, std::int64_t>, ambrell::bench::ArmsInTurns>& inTurns() {
    static std::map<std::tuple<std::string, std::int64_t, std::int64_t>, ambrell::bench::ArmsInTurns> all;
    return all;
}

void keepChecked(benchmark::State& state, ambrell::bench::ArmsInTurns& all,
                 const ambrell::bench::ArmsInTurns& repetition, bool checked, const std::string& fault) {
    if (!all.keepRound(repetition, checked ? std::string() : fault)) state.SkipWithError(all.fault.c_str());
}

// A stream of 1,000 frames encoded, each built and appended as the session
// does, against copying the frame 1,000 times.
void BM_EncodeAgainstMemcpyInTurn(benchmark::State& state) {
    const auto qos = static_cast<std::uint8_t>(state.range(0));
    const auto level = static_cast<std::uint8_t>(state.range(1));
    const Bytes body = payload();
    const Bytes one = frame(qos, level);
    const Bytes expected = stream(qos, level);
    auto& all = inTurns()[{"encode", state.range(0), state.range(1)}];
    ambrell::bench::ArmsInTurns repetition;
    Bytes encoded;
    Bytes copied(expected.size());
    encoded.reserve(expected.size());
    for (auto _ : state) {
        encoded.clear();
        std::fill(copied.begin(), copied.end(), 0);
        repetition.runBoth(
            [&] {
                for (std::size_t index = 0; index < kFramesPerStream; ++index) {
                    MQTTMessage::publishMessageWithData(body, kTopic, qos, 7, false, false, level)
                        ->appendWireFormat(encoded);
                }
                benchmark::DoNotOptimize(encoded.data());
            },
            [&] {
                for (std::size_t index = 0; index < kFramesPerStream; ++index) {
                    std::memcpy(copied.data() + index * one.size(), one.data(), one.size());
                }
                benchmark::DoNotOptimize(copied.data());
                benchmark::ClobberMemory();
            });
        keepChecked(state, all, repetition, encoded == expected && copied == expected,
                    "the encoded stream or its copy is not the stream");
        if (all.failed()) break;
    }
    state.counters["ratio"] = repetition.medianRatio();
}
BENCHMARK(BM_EncodeAgainstMemcpyInTurn)->Args({0, 4})->Args({1, 4})->Args({1, 5});

// A stream of 1,000 frames decoded in socket-sized chunks, every frame parsed
// and split, against copying the stream in the same chunks.
void BM_DecodeAgainstMemcpyInTurn(benchmark::State& state) {
    const auto qos = static_cast<std::uint8_t>(state.range(0));
    const auto level = static_cast<std::uint8_t>(state.range(1));
    const Bytes bytes = stream(qos, level);
    auto delegate = std::make_shared<ParsingDelegate>(level);
    delegate->checking = true;
    auto decoder = std::make_shared<ambrell::MQTTDecoder>();
    decoder->setDelegate(delegate);
    decoder->open();
    auto& all = inTurns()[{"decode", state.range(0), state.range(1)}];
    ambrell::bench::ArmsInTurns repetition;
    Bytes copied(bytes.size());
    for (auto _ : state) {
        delegate->frames = 0;
        delegate->wrong = 0;
        std::fill(copied.begin(), copied.end(), 0);
        repetition.runBoth(
            [&] {
                for (std::size_t at = 0; at < bytes.size(); at += kChunkSize) {
                    decoder->decodeMessage(std::span(bytes).subspan(at, std::min(kChunkSize, bytes.size() - at)));
                }
            },
            [&] {
                for (std::size_t at = 0; at < bytes.size(); at += kChunkSize) {
                    std::memcpy(copied.data() + at, bytes.data() + at, std::min(kChunkSize, bytes.size() - at));
                }
                benchmark::DoNotOptimize(copied.data());
                benchmark::ClobberMemory();
            });
        keepChecked(state, all, repetition,
                    delegate->frames == kFramesPerStream && delegate->wrong == 0 && copied == bytes,
                    "the decoder did not give every frame as sent, or the copy is not the stream");
        if (all.failed()) break;
    }
    state.counters["ratio"] = repetition.medianRatio();
}
BENCHMARK(BM_DecodeAgainstMemcpyInTurn)->Args({0, 4})->Args({1, 4})->Args({1, 5});

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& [key, arms] : inTurns()) {
        const auto& [operation, qos, level] = key;
        const std::string subject =
            operation + " 1,000 PUBLISH frames (QoS " + std::to_string(qos) + ", level " + std::to_string(level) + ")";
        ambrell::bench::printVerdict(subject, arms, operation == "encode" ? "encoding" : "decoding", "memcpy", "");
    }
    benchmark::Shutdown();
    return 0;
}

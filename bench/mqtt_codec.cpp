// Small PUBLISH frames, as live data brings them: encoding (build and frame)
// and decoding (framing of a received stream, parsing, topic split), each
// beside a plain memcpy of the same bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

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

    void decoderDidReceiveMessage(ambrell::MQTTDecoder& /*decoder*/, std::span<const std::uint8_t> frame) override {
        const auto message = MQTTMessage::messageFromData(frame, level_);
        const auto content = ambrell::publishContent(*message, level_);
        benchmark::DoNotOptimize(content->topic.data());
        payloadBytes += content->payload.size();
    }

private:
    std::uint8_t level_;
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

}  // namespace

BENCHMARK_MAIN();

// libFuzzer entry: the input's first byte picks the protocol level and how
// the rest is chunked; the rest goes through framing, the parser and the
// readers of PUBLISH, SUBACK and UNSUBACK contents, and, whole, through the
// parser and the property decoder directly.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "livedata/mqtt/MQTTDecoder.h"
#include "livedata/mqtt/MQTTMessage.h"

namespace {

class ParsingDelegate : public ambrell::MQTTDecoderDelegate {
public:
    explicit ParsingDelegate(std::uint8_t level) : level_(level) {}

    void decoderDidReceiveMessage(ambrell::MQTTDecoder& /*decoder*/, std::span<const std::uint8_t> frame) override {
        if (const auto message = ambrell::MQTTMessage::messageFromData(frame, level_)) {
            (void)ambrell::publishContent(*message, level_);
            (void)ambrell::acknowledgementCodes(*message, level_);
        }
    }

private:
    std::uint8_t level_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    const auto level = static_cast<std::uint8_t>(3 + data[0] % 3);
    const std::size_t chunkSize = 1 + (data[0] >> 2);

    (void)ambrell::MQTTMessage::messageFromData(input, level);
    (void)ambrell::MQTTProperties::decodeBlock(input);

    auto delegate = std::make_shared<ParsingDelegate>(level);
    auto decoder = std::make_shared<ambrell::MQTTDecoder>();
    decoder->setDelegate(delegate);
    if ((data[0] & 0x02U) != 0) decoder->setMaximumPacketSize(256);
    decoder->open();
    for (std::size_t at = 0; at < input.size(); at += chunkSize) {
        decoder->decodeMessage(input.subspan(at, std::min(chunkSize, input.size() - at)));
    }
    return 0;
}

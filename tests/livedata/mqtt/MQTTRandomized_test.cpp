// Seeded random streams through framing and parsing at every level: sound
// packets must come back unchanged however the stream is chunked; mutated
// ones must be rejected or read within their bounds (the sanitizers watch).
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "livedata/mqtt/MQTTDecoder.h"
#include "livedata/mqtt/MQTTMessage.h"

namespace ambrell {
namespace {

constexpr std::uint32_t kSeeds[] = {1, 2, 3, 5, 8, 13, 21, 34, 55, 89};
constexpr int kStreamsPerSeed = 2000;

class Generator {
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }
    bool chance(int percent) { return below(100) < percent; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(below(256)); }

    std::string text(int maximum) {
        static const char* const kPieces[] = {"a", "b", "/", "+", "#", "\xC3\xA9", "live", "0"};
        std::string result;
        const int count = below(maximum + 1);
        for (int index = 0; index < count; ++index) result += kPieces[below(8)];
        return result;
    }

    Bytes bytes(int maximum) {
        Bytes result(static_cast<std::size_t>(below(maximum + 1)));
        for (std::uint8_t& value : result) value = byte();
        return result;
    }

    std::optional<UserProperties> userProperties() {
        if (!chance(30)) return std::nullopt;
        UserProperties properties;
        for (int index = below(3); index >= 0; --index) properties[text(4)] = text(4);
        return properties;
    }

    std::uint16_t mid() { return static_cast<std::uint16_t>(1 + below(65'535)); }

    // A packet the parser must accept at `level`, built as it goes out or,
    // for what only a broker sends, byte by byte.
    MQTTMessage packet(std::uint8_t level) {
        const bool level5 = level == 5;
        switch (below(12)) {
            case 0: {
                MQTTConnectParameters parameters;
                parameters.clientId = text(6);
                parameters.protocolLevel = level;
                parameters.keepAlive = static_cast<std::uint16_t>(below(65'536));
                parameters.cleanSession = chance(50);
                if (chance(30)) {
                    parameters.userName = text(4);
                    if (chance(50)) parameters.password = text(4);
                }
                if (chance(30)) {
                    parameters.will = true;
                    parameters.willTopic = text(4);
                    parameters.willMsg = bytes(8);
                    parameters.willQoS = static_cast<std::uint8_t>(below(3));
                    parameters.willRetain = chance(50);
                    if (chance(50)) parameters.willDelayInterval = static_cast<std::uint32_t>(below(100));
                }
                if (chance(50)) parameters.sessionExpiryInterval = static_cast<std::uint32_t>(below(100'000));
                if (chance(30)) parameters.receiveMaximum = static_cast<std::uint16_t>(1 + below(100));
                parameters.userProperty = userProperties();
                return *MQTTMessage::connectMessageWithClientId(parameters);
            }
            case 1:
            case 2:
            case 3: {
                MQTTPublishProperties properties;
                if (chance(30)) properties.payloadFormatIndicator = static_cast<std::uint8_t>(below(2));
                if (chance(30)) properties.publicationExpiryInterval = static_cast<std::uint32_t>(below(1000));
                if (chance(30)) properties.topicAlias = static_cast<std::uint16_t>(1 + below(10));
                if (chance(20)) properties.responseTopic = text(4);
                if (chance(20)) properties.correlationData = bytes(6);
                if (chance(20)) properties.contentType = text(3);
                properties.userProperty = userProperties();
                const auto qos = static_cast<std::uint8_t>(below(3));
                return *MQTTMessage::publishMessageWithData(bytes(chance(5) ? 2000 : 120), text(8), qos, mid(),
                                                            chance(50), chance(50), level, properties);
            }
            case 4: {
                const auto reason = static_cast<std::uint8_t>(chance(50) ? 0 : byte());
                const std::optional<std::string> reasonString =
                    chance(30) ? std::optional<std::string>(text(5)) : std::nullopt;
                switch (below(4)) {
                    case 0: return *MQTTMessage::pubackMessageWithMessageId(mid(), level, reason, reasonString);
                    case 1: return *MQTTMessage::pubrecMessageWithMessageId(mid(), level, reason, reasonString);
                    case 2: return *MQTTMessage::pubrelMessageWithMessageId(mid(), level, reason, reasonString);
                    default: return *MQTTMessage::pubcompMessageWithMessageId(mid(), level, reason, reasonString);
                }
            }
            case 5: {
                MQTTSubscriptions topics;
                for (int index = below(3); index >= 0; --index) topics[text(6)] = static_cast<std::uint8_t>(below(3));
                const std::optional<std::uint32_t> identifier =
                    chance(30) ? std::optional<std::uint32_t>(1 + below(300'000)) : std::nullopt;
                return *MQTTMessage::subscribeMessageWithMessageId(mid(), topics, level, identifier);
            }
            case 6: {
                std::vector<std::string> topics(static_cast<std::size_t>(1 + below(3)));
                for (std::string& topic : topics) topic = text(6);
                return *MQTTMessage::unsubscribeMessageWithMessageId(mid(), topics, level);
            }
            case 7: return MQTTMessage::pingreqMessage();
            case 8:
                return *MQTTMessage::disconnectMessage(level, chance(50) ? 0 : byte(),
                                                       chance(30) ? std::optional<std::uint32_t>(5) : std::nullopt);
            case 9: {
                MQTTMessage connack(MQTTCommandType::connack, Bytes{static_cast<std::uint8_t>(below(2)), byte()});
                if (level5) appendReasonStringBlock(connack.data);
                return connack;
            }
            case 10: {
                const bool suback = chance(50);
                MQTTMessage ack(suback ? MQTTCommandType::suback : MQTTCommandType::unsuback);
                ack.mid = mid();
                appendUInt16BigEndian(ack.data, ack.mid);
                if (level5) appendReasonStringBlock(ack.data);
                if (suback || level5) {
                    for (int index = below(4); index >= 0; --index) ack.data.push_back(chance(80) ? 2 : 0x80);
                }
                return ack;
            }
            default: return MQTTMessage(MQTTCommandType::pingresp);
        }
    }

    // One random change: a byte flipped or replaced, the frame cut or
    // lengthened, or its length replaced by any one of up to five bytes.
    Bytes mutate(Bytes frame) {
        switch (below(5)) {
            case 0: frame[static_cast<std::size_t>(below(static_cast<int>(frame.size())))] ^= 1U << below(8); break;
            case 1: frame[static_cast<std::size_t>(below(static_cast<int>(frame.size())))] = byte(); break;
            case 2: frame.resize(static_cast<std::size_t>(below(static_cast<int>(frame.size())))); break;
            case 3: {
                const Bytes extra = bytes(8);
                frame.insert(frame.end(), extra.begin(), extra.end());
                break;
            }
            default: {
                const auto length = readVariableByteInteger(std::span(frame).subspan(1));
                Bytes replaced{frame[0]};
                for (int index = below(5); index >= 0; --index) replaced.push_back(byte());
                replaced.insert(replaced.end(), frame.begin() + 1 + static_cast<std::ptrdiff_t>(length->size),
                                frame.end());
                frame = replaced;
            }
        }
        return frame;
    }

    // Chunk sizes for a stream of `size` bytes.
    std::vector<std::size_t> chunks(std::size_t size) {
        std::vector<std::size_t> sizes;
        const int maximum = chance(20) ? 4 : 200;
        for (std::size_t at = 0; at < size;) {
            const auto next = std::min(size - at, static_cast<std::size_t>(1 + below(maximum)));
            sizes.push_back(next);
            at += next;
        }
        return sizes;
    }

private:
    void appendReasonStringBlock(Bytes& data) {
        if (chance(50)) {
            data.push_back(0);
            return;
        }
        Bytes block{31};
        appendMQTTString(block, text(4));
        appendVariableLength(data, static_cast<std::uint32_t>(block.size()));
        data.insert(data.end(), block.begin(), block.end());
    }

    std::mt19937 random_;
};

// Parses each frame and reads every part of it that a session would read.
class ParsingDelegate : public MQTTDecoderDelegate {
public:
    explicit ParsingDelegate(std::uint8_t level) : level_(level) {}

    std::vector<Bytes> frames;
    std::vector<std::optional<MQTTMessage>> parsed;

    void decoderDidReceiveMessage(MQTTDecoder& /*decoder*/, std::span<const std::uint8_t> frame) override {
        const auto length = readVariableByteInteger(frame.subspan(1));
        ASSERT_TRUE(length);
        ASSERT_EQ(frame.size(), 1 + length->size + length->value);
        frames.emplace_back(frame.begin(), frame.end());
        auto message = MQTTMessage::messageFromData(frame, level_);
        if (message) {
            if (const auto content = publishContent(*message, level_)) {
                EXPECT_EQ(content->payload.data() + content->payload.size(),
                          message->data.data() + message->data.size());
            }
            (void)acknowledgementCodes(*message, level_);
        }
        parsed.push_back(std::move(message));
    }
    void decoderHandleEvent(MQTTDecoder& /*decoder*/, MQTTDecoderEvent /*event*/,
                            const platform::NSError& /*error*/) override {
        ++protocolErrors;
    }

    int protocolErrors = 0;

private:
    std::uint8_t level_;
};

TEST(MQTTRandomized, FramingAndParsingOfRandomStreams) {
    std::size_t streams = 0;
    std::size_t frames = 0;
    std::size_t mutatedFrames = 0;
    for (const std::uint32_t seed : kSeeds) {
        Generator generator(seed);
        for (int stream = 0; stream < kStreamsPerSeed; ++stream) {
            const auto level = static_cast<std::uint8_t>(3 + generator.below(3));
            const bool mutated = generator.chance(40);
            std::vector<MQTTMessage> packets;
            Bytes bytes;
            for (int index = generator.below(8); index >= 0; --index) {
                packets.push_back(generator.packet(level));
                Bytes frame = packets.back().wireFormat();
                ASSERT_GE(frame.size(), 2U);
                if (mutated && generator.chance(50)) {
                    frame = generator.mutate(std::move(frame));
                    ++mutatedFrames;
                    // The parser alone, on the mutated frame as it is.
                    if (const auto message = MQTTMessage::messageFromData(frame, level)) {
                        (void)publishContent(*message, level);
                    }
                    (void)MQTTProperties::decodeBlock(frame);
                }
                bytes.insert(bytes.end(), frame.begin(), frame.end());
            }

            auto delegate = std::make_shared<ParsingDelegate>(level);
            auto decoder = std::make_shared<MQTTDecoder>();
            decoder->setDelegate(delegate);
            if (generator.chance(20))
                decoder->setMaximumPacketSize(static_cast<std::uint32_t>(64 + generator.below(2000)));
            decoder->open();
            std::size_t at = 0;
            for (const std::size_t size : generator.chunks(bytes.size())) {
                decoder->decodeMessage(std::span(bytes).subspan(at, size));
                at += size;
                ASSERT_LE(decoder->bufferedSize(), at) << "seed " << seed << " stream " << stream;
            }
            ++streams;
            frames += delegate->frames.size();
            if (mutated || decoder->maximumPacketSize() != 0) {
                EXPECT_LE(delegate->protocolErrors, 1);
                continue;
            }

            ASSERT_EQ(delegate->protocolErrors, 0) << "seed " << seed << " stream " << stream;
            ASSERT_EQ(delegate->frames.size(), packets.size()) << "seed " << seed << " stream " << stream;
            for (std::size_t index = 0; index < packets.size(); ++index) {
                const MQTTMessage& sent = packets[index];
                const auto& received = delegate->parsed[index];
                ASSERT_TRUE(received) << "seed " << seed << " stream " << stream << " packet " << index << " type "
                                      << static_cast<int>(sent.type) << " level " << int{level};
                EXPECT_EQ(received->type, sent.type);
                EXPECT_EQ(received->qos, sent.qos);
                EXPECT_EQ(received->retainFlag, sent.retainFlag);
                EXPECT_EQ(received->dupFlag, sent.dupFlag);
                EXPECT_EQ(received->mid, sent.mid);
                EXPECT_EQ(received->data, sent.data);
                if (sent.type == MQTTCommandType::publish) {
                    EXPECT_TRUE(publishContent(*received, level));
                }
                if (sent.type == MQTTCommandType::suback || sent.type == MQTTCommandType::unsuback) {
                    EXPECT_TRUE(acknowledgementCodes(*received, level));
                }
            }
        }
    }
    std::cout << "Random streams: " << streams << ", frames delivered: " << frames
              << ", mutated frames: " << mutatedFrames << '\n';
    RecordProperty("streams", static_cast<int>(streams));
    RecordProperty("frames", static_cast<int>(frames));
}

}  // namespace
}  // namespace ambrell

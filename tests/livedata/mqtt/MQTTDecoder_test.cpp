// Cutting received chunks into frames, hostile lengths, and the output
// buffer's ordering across partial writes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "livedata/mqtt/MQTTDecoder.h"
#include "livedata/mqtt/MQTTEncoderBuffer.h"
#include "livedata/mqtt/MQTTError.h"
#include "tests/livedata/mqtt/MQTTTestBytes.h"

namespace ambrell {
namespace {

using test::parseHex;

class RecordingDelegate : public MQTTDecoderDelegate {
public:
    std::vector<Bytes> frames;
    std::vector<platform::NSError> protocolErrors;
    std::function<void(MQTTDecoder&)> onFrame;

    void decoderDidReceiveMessage(MQTTDecoder& decoder, std::span<const std::uint8_t> frame) override {
        frames.emplace_back(frame.begin(), frame.end());
        if (onFrame) onFrame(decoder);
    }
    void decoderHandleEvent(MQTTDecoder& /*decoder*/, MQTTDecoderEvent event, const platform::NSError& error) override {
        EXPECT_EQ(event, MQTTDecoderEvent::protocolError);
        protocolErrors.push_back(error);
    }
};

struct Fixture {
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<MQTTDecoder> decoder = std::make_shared<MQTTDecoder>();

    Fixture() {
        decoder->setDelegate(delegate);
        decoder->open();
    }
    void feed(const Bytes& bytes) { decoder->decodeMessage(bytes); }
};

Bytes concatenated(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(MQTTDecoder, FrameSplitAnywhereArrivesOnceWhole) {
    const Bytes frame = parseHex("32 0A 00 03 'a/b' 00 07 'xyz'");
    for (std::size_t split = 0; split <= frame.size(); ++split) {
        Fixture fixture;
        fixture.feed(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(split)));
        EXPECT_EQ(fixture.delegate->frames.size(), split == frame.size() ? 1U : 0U) << split;
        fixture.feed(Bytes(frame.begin() + static_cast<std::ptrdiff_t>(split), frame.end()));
        ASSERT_EQ(fixture.delegate->frames.size(), 1U) << split;
        EXPECT_EQ(fixture.delegate->frames[0], frame);
        EXPECT_EQ(fixture.decoder->state(), MQTTDecoderState::decodingHeader);
        EXPECT_EQ(fixture.decoder->bufferedSize(), 0U);
    }

    Fixture byteByByte;
    for (const std::uint8_t byte : frame) byteByByte.feed({byte});
    ASSERT_EQ(byteByByte.delegate->frames.size(), 1U);
    EXPECT_EQ(byteByByte.delegate->frames[0], frame);
}

TEST(MQTTDecoder, MergedFramesArriveInOrder) {
    const Bytes first = parseHex("20 02 00 00");
    const Bytes second = parseHex("D0 00");
    const Bytes third = parseHex("30 05 00 01 74 'hi'");
    Fixture fixture;
    const Bytes stream = concatenated({first, second, third, first});
    fixture.feed(Bytes(stream.begin(), stream.end() - 2));
    fixture.feed(Bytes(stream.end() - 2, stream.end()));
    EXPECT_EQ(fixture.delegate->frames, (std::vector<Bytes>{first, second, third, first}));
}

TEST(MQTTDecoder, PingrespIsATwoByteFrame) {
    Fixture fixture;
    fixture.feed(parseHex("D0"));
    EXPECT_EQ(fixture.decoder->state(), MQTTDecoderState::decodingLength);
    fixture.feed(parseHex("00"));
    EXPECT_EQ(fixture.delegate->frames, std::vector<Bytes>{parseHex("D0 00")});
}

TEST(MQTTDecoder, LongBodyInOneChunkOrMany) {
    Bytes frame = parseHex("30 E8 07");  // 1,000
    for (int index = 0; index < 1000; ++index) frame.push_back(static_cast<std::uint8_t>(index));
    for (const std::size_t chunkSize : {frame.size(), std::size_t{768}, std::size_t{7}}) {
        Fixture fixture;
        for (std::size_t at = 0; at < frame.size(); at += chunkSize) {
            const auto end = std::min(frame.size(), at + chunkSize);
            fixture.feed(Bytes(frame.begin() + static_cast<std::ptrdiff_t>(at),
                               frame.begin() + static_cast<std::ptrdiff_t>(end)));
        }
        ASSERT_EQ(fixture.delegate->frames.size(), 1U) << chunkSize;
        EXPECT_EQ(fixture.delegate->frames[0], frame);
    }
}

TEST(MQTTDecoder, HostileLengthsAreProtocolErrorsWithNothingKept) {
    struct Row {
        const char* name;
        const char* bytes;
        std::uint32_t maximumPacketSize;
    };
    const Row rows[] = {
        {"a fifth length byte", "30 FF FF FF FF 7F", 0},
        {"a fifth length byte announced", "30 80 80 80 80", 0},
        {"a frame over the maximum packet size", "30 63 00 01", 100},
        {"a large declared body over the maximum", "30 FF FF 7F", 1'000'000},
    };
    for (const Row& row : rows) {
        const Bytes bytes = parseHex(row.bytes);
        for (const bool byteByByte : {false, true}) {
            Fixture fixture;
            fixture.decoder->setMaximumPacketSize(row.maximumPacketSize);
            fixture.feed(parseHex("D0 00"));
            if (byteByByte) {
                for (const std::uint8_t byte : bytes) fixture.feed({byte});
            } else {
                fixture.feed(bytes);
            }
            ASSERT_EQ(fixture.delegate->protocolErrors.size(), 1U) << row.name;
            const platform::NSError& error = fixture.delegate->protocolErrors[0];
            EXPECT_EQ(error.domain, MQTTSessionErrorDomain);
            EXPECT_EQ(error.code, kMQTTErrorIllegalMessage);
            EXPECT_EQ(error.localizedDescription(), kMQTTErrorIllegalMessageText);
            EXPECT_EQ(fixture.decoder->state(), MQTTDecoderState::connectionError);
            EXPECT_EQ(fixture.decoder->bufferedSize(), 0U);
            fixture.feed(parseHex("D0 00"));
            EXPECT_EQ(fixture.delegate->frames.size(), 1U) << row.name;
            EXPECT_EQ(fixture.delegate->protocolErrors.size(), 1U) << row.name;
        }
    }

    // The largest length the protocol allows is no error, and holds only what came.
    Fixture largest;
    largest.feed(parseHex("30 FF FF FF 7F 00 01 74"));
    EXPECT_TRUE(largest.delegate->protocolErrors.empty());
    EXPECT_EQ(largest.decoder->bufferedSize(), 8U);

    Fixture atTheLimit;
    atTheLimit.decoder->setMaximumPacketSize(4);
    atTheLimit.feed(parseHex("40 02 00 01"));
    EXPECT_EQ(atTheLimit.delegate->frames.size(), 1U);
}

TEST(MQTTDecoder, TakesBytesOnlyWhileOpen) {
    auto delegate = std::make_shared<RecordingDelegate>();
    MQTTDecoder decoder;
    decoder.setDelegate(delegate);
    decoder.decodeMessage(parseHex("D0 00"));
    EXPECT_TRUE(delegate->frames.empty());
    decoder.open();
    decoder.decodeMessage(parseHex("D0 00 D0"));
    decoder.close();
    EXPECT_EQ(decoder.state(), MQTTDecoderState::initializing);
    decoder.decodeMessage(parseHex("00"));
    EXPECT_EQ(delegate->frames.size(), 1U);
    decoder.open();
    decoder.decodeMessage(parseHex("D0 00"));
    EXPECT_EQ(delegate->frames.size(), 2U);
}

TEST(MQTTDecoder, CallbacksMayCloseFeedOrReleaseTheDecoder) {
    const Bytes ping = parseHex("D0 00");
    const Bytes two = concatenated({ping, ping});

    Fixture closing;
    closing.delegate->onFrame = [](MQTTDecoder& decoder) { decoder.close(); };
    closing.feed(two);
    EXPECT_EQ(closing.delegate->frames.size(), 1U);

    Fixture feeding;
    const Bytes later = parseHex("C0 00");
    feeding.delegate->onFrame = [&](MQTTDecoder& decoder) {
        if (feeding.delegate->frames.size() == 1) decoder.decodeMessage(later);
    };
    feeding.feed(two);
    EXPECT_EQ(feeding.delegate->frames, (std::vector<Bytes>{ping, ping, later}));

    Fixture releasing;
    releasing.delegate->onFrame = [&](MQTTDecoder&) { releasing.decoder.reset(); };
    releasing.feed(concatenated({two, parseHex("D0")}));
    EXPECT_EQ(releasing.delegate->frames.size(), 2U);
}

TEST(MQTTEncoderBuffer, SendsOnlyWhenReadyAndKeepsOrderAcrossPartialWrites) {
    MQTTEncoderBuffer buffer;
    EXPECT_FALSE(buffer.send(parseHex("C0 00")));
    EXPECT_TRUE(buffer.empty());
    buffer.setReady();
    EXPECT_TRUE(buffer.send(parseHex("01 02 03")));
    const auto first = buffer.beginWrite();
    EXPECT_EQ(Bytes(first.begin(), first.end()), parseHex("01 02 03"));
    EXPECT_TRUE(buffer.beginWrite().empty());  // one write at a time
    EXPECT_TRUE(buffer.send(parseHex("04 05")));
    EXPECT_EQ(Bytes(first.begin(), first.end()), parseHex("01 02 03"));  // unchanged while in flight
    buffer.finishWrite(1);
    EXPECT_EQ(buffer.size(), 4U);
    const auto second = buffer.beginWrite();
    EXPECT_EQ(Bytes(second.begin(), second.end()), parseHex("02 03 04 05"));
    buffer.finishWrite(4);
    EXPECT_TRUE(buffer.empty());
    EXPECT_TRUE(buffer.beginWrite().empty());

    buffer.send(parseHex("06"));
    buffer.setError();
    EXPECT_FALSE(buffer.send(parseHex("07")));
    EXPECT_EQ(buffer.size(), 1U);
    buffer.reset();
    EXPECT_EQ(buffer.state(), MQTTEncoderState::initializing);
    EXPECT_TRUE(buffer.empty());
}

}  // namespace
}  // namespace ambrell

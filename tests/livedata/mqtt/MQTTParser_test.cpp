// Received frames to packets: what is accepted at which level, the fields
// read, and the contents of PUBLISH, SUBACK and UNSUBACK.
#include <gtest/gtest.h>

#include <string>

#include "livedata/mqtt/MQTTMessage.h"
#include "tests/livedata/mqtt/MQTTTestBytes.h"

namespace ambrell {
namespace {

using test::parseHex;

constexpr int kNone = -1;

struct ParseRow {
    const char* frame;
    std::uint8_t level;
    // kNone: rejected.
    int type;
    int qos = 0;
    int mid = 0;
    int returnCode = kNone;
    int flags = kNone;
    bool properties = false;
};

TEST(MQTTParser, AcceptsAndRejectsByTypeLevelAndLength) {
    const ParseRow rows[] = {
        // Fixed header.
        {"", 4, kNone},
        {"30", 4, kNone},
        {"00 00", 4, kNone},
        {"F0 00", 5, kNone},
        {"30 80", 4, kNone},
        {"30 03 00 00", 4, kNone},
        {"30 01 00 00", 4, kNone},
        {"30 FF FF FF FF 01", 4, kNone},
        {"30 FF FF FF 7F", 4, kNone},
        {"30 80 80 80 80 00", 4, kNone},
        {"30 82 00 00 00", 4, 3},  // a longer length form than needed is read as it says
        // QoS against type.
        {"36 02 00 00", 4, kNone},
        {"60 02 00 01", 4, kNone},
        {"62 02 00 01", 4, 6, 1, 1},
        {"80 06 00 01 00 01 61 00", 4, kNone},
        {"82 06 00 01 00 01 61 00", 4, 8, 1, 1},
        {"A2 05 00 01 00 01 61", 4, 10, 1, 1},
        {"42 02 00 01", 4, kNone},
        {"D2 00", 4, kNone},
        {"39 02 00 00", 4, 3, 0},  // dup and retain are not checked
        // CONNACK.
        {"20 02 00 00", 4, 2, 0, 0, 0, 0},
        {"20 02 01 05", 3, 2, 0, 0, 5, 1},
        {"20 03 00 00 00", 4, kNone},
        {"20 01 00", 4, kNone},
        {"20 03 00 00 00", 5, 2, 0, 0, 0, 0, true},
        {"20 02 00 00", 5, kNone},
        // PUBLISH: identifier after the topic; contents left to publishContent.
        {"30 02 00 00", 4, 3},
        {"32 05 00 01 74 00 07", 4, 3, 1, 7},
        {"34 05 00 01 74 00 07", 5, 3, 2, 7},
        {"32 01 00", 4, kNone},
        {"32 03 00 05 74", 4, 3, 1, 0},
        // Acknowledgements.
        {"40 02 00 01", 4, 4, 0, 1},
        {"40 01 00", 4, kNone},
        {"40 03 00 01 00", 4, kNone},
        {"50 02 12 34", 3, 5, 0, 0x1234},
        {"70 02 00 09", 4, 7, 0, 9},
        {"40 02 00 01", 5, 4, 0, 1, 0, kNone, true},
        {"50 03 00 01 10", 5, 5, 0, 1, 0x10, kNone, true},
        {"62 04 00 01 92 00", 5, 6, 1, 1, 0x92, kNone, true},
        {"70 08 00 01 00 04 1F 00 01 72", 5, 7, 0, 1, 0, kNone, true},
        // SUBACK and UNSUBACK.
        {"90 03 00 01 02", 4, 9, 0, 1},
        {"90 04 00 01 00 80", 3, 9, 0, 1},
        {"90 02 00 01", 4, kNone},
        {"90 04 00 01 00 02", 5, 9, 0, 1, kNone, kNone, true},
        {"90 03 00 01 02", 5, kNone},
        {"90 03 00 01 00", 5, kNone},
        {"B0 02 00 05", 4, 11, 0, 5},
        {"B0 03 00 05 00", 4, kNone},
        {"B0 01 00", 4, kNone},
        {"B0 04 00 05 00 00", 5, 11, 0, 5, kNone, kNone, true},
        {"B0 03 00 05 00", 5, kNone},
        {"B0 02 00 05", 5, kNone},
        // PINGRESP, DISCONNECT, and what only a broker receives.
        {"D0 00", 4, 13},
        {"D0 01 00", 4, kNone},
        {"C0 00", 4, 12},
        {"E0 00", 4, 14},
        {"E0 00", 3, 14},
        {"E0 02 00 00", 4, kNone},
        {"E0 00", 5, 14, 0, 0, 0},
        {"E0 01 8E", 5, 14, 0, 0, 0x8E},
        {"E0 06 04 04 1F 00 01 72", 5, 14, 0, 0, 4, kNone, true},
        {"10 02 00 00", 4, kNone},
        {"10 03 00 00 00", 4, 1},
    };
    for (const ParseRow& row : rows) {
        const auto message = MQTTMessage::messageFromData(parseHex(row.frame), row.level);
        const std::string label = std::string(row.frame) + " at level " + std::to_string(row.level);
        if (row.type == kNone) {
            EXPECT_FALSE(message) << label;
            continue;
        }
        ASSERT_TRUE(message) << label;
        EXPECT_EQ(static_cast<int>(message->type), row.type) << label;
        EXPECT_EQ(message->qos, row.qos) << label;
        EXPECT_EQ(message->mid, row.mid) << label;
        EXPECT_EQ(message->returnCode ? *message->returnCode : kNone, row.returnCode) << label;
        EXPECT_EQ(message->connectAcknowledgeFlags ? *message->connectAcknowledgeFlags : kNone, row.flags) << label;
        EXPECT_EQ(message->properties.has_value(), row.properties) << label;
        const Bytes frame = parseHex(row.frame);
        EXPECT_EQ(message->data.size(), frame.size() - 1 - readVariableByteInteger(std::span(frame).subspan(1))->size)
            << label;
    }
}

TEST(MQTTParser, FlagsAndPropertiesOfParsedPackets) {
    const auto publish = MQTTMessage::messageFromData(parseHex("3D 05 00 01 74 00 07"), 4);
    ASSERT_TRUE(publish);
    EXPECT_TRUE(publish->dupFlag);
    EXPECT_TRUE(publish->retainFlag);
    EXPECT_EQ(publish->qos, 2);

    const auto connack = MQTTMessage::messageFromData(parseHex("20 06 01 00 03 13 00 3C"), 5);
    ASSERT_TRUE(connack);
    EXPECT_EQ(connack->properties->serverKeepAlive, 60);

    const auto disconnect = MQTTMessage::messageFromData(parseHex("E0 06 04 04 1F 00 01 72"), 5);
    ASSERT_TRUE(disconnect);
    EXPECT_EQ(disconnect->properties->reasonString, "r");
}

TEST(MQTTParser, BuiltPacketsParseBackAtTheirLevel) {
    for (const std::uint8_t level : {3, 4, 5}) {
        const Bytes payload = parseHex("'payload'");
        const std::optional<MQTTMessage> built[] = {
            MQTTMessage::publishMessageWithData(payload, "a/b", 0, 0, true, false, level),
            MQTTMessage::publishMessageWithData(payload, "a/b", 2, 513, false, true, level),
            MQTTMessage::pubackMessageWithMessageId(1, level),
            MQTTMessage::pubrecMessageWithMessageId(2, level, 0x10),
            MQTTMessage::pubrelMessageWithMessageId(3, level),
            MQTTMessage::pubcompMessageWithMessageId(4, level, 0, "why"),
            MQTTMessage::subscribeMessageWithMessageId(5, {{"x", 1}}, level),
            MQTTMessage::unsubscribeMessageWithMessageId(6, std::vector<std::string>{"x"}, level),
            MQTTMessage::pingreqMessage(),
            MQTTMessage::disconnectMessage(level, level == 5 ? 4 : 0),
        };
        for (const auto& message : built) {
            ASSERT_TRUE(message);
            const auto parsed = MQTTMessage::messageFromData(message->wireFormat(), level);
            ASSERT_TRUE(parsed) << static_cast<int>(message->type) << " at level " << int{level};
            EXPECT_EQ(parsed->type, message->type);
            EXPECT_EQ(parsed->qos, message->qos);
            EXPECT_EQ(parsed->retainFlag, message->retainFlag);
            EXPECT_EQ(parsed->dupFlag, message->dupFlag);
            EXPECT_EQ(parsed->mid, message->mid);
            EXPECT_EQ(parsed->data, message->data);
        }
    }
}

TEST(MQTTParser, PublishContents) {
    const auto level4 = MQTTMessage::messageFromData(parseHex("32 09 00 03 'a/b' 01 02 'hi'"), 4);
    const auto content = publishContent(*level4, 4);
    ASSERT_TRUE(content);
    EXPECT_EQ(content->topic, "a/b");
    EXPECT_EQ(content->mid, 0x0102);
    EXPECT_FALSE(content->properties);
    EXPECT_EQ(Bytes(content->payload.begin(), content->payload.end()), parseHex("'hi'"));
    EXPECT_EQ(content->payloadOffset, 7U);

    const auto level5 = MQTTMessage::messageFromData(parseHex("30 09 00 01 74 03 23 00 02 'hi'"), 5);
    const auto content5 = publishContent(*level5, 5);
    ASSERT_TRUE(content5);
    EXPECT_EQ(content5->properties->topicAlias, 2);
    EXPECT_EQ(Bytes(content5->payload.begin(), content5->payload.end()), parseHex("'hi'"));

    const auto latin1 = MQTTMessage::messageFromData(parseHex("30 04 00 02 74 E9"), 4);
    EXPECT_EQ(publishContent(*latin1, 4)->topic, "t\xC3\xA9");

    const char* dropped[][2] = {
        {"32 03 00 05 74", "4"},                     // topic runs past the data
        {"30 03 00 02 61", "4"},                     // QoS 0: topic of 2 with 1 byte present
        {"30 03 00 02 61", "5"},                     // the same before a property block
        {"32 05 00 01 74 00 07", "5"},               // no property block
        {"30 07 00 01 74 02 04 00 00", "5"},         // unassigned property
        {"30 08 00 01 74 02 23 00 'xy'", "5"},       // property past its block
        {"30 07 00 01 74 05 23 00 01", "5"},         // block past the data
        {"30 09 00 01 74 04 03 00 01 FF 'x'", "5"},  // content type not UTF-8
    };
    for (const auto& [frame, level] : dropped) {
        const auto message = MQTTMessage::messageFromData(parseHex(frame), static_cast<std::uint8_t>(std::stoi(level)));
        ASSERT_TRUE(message) << frame;
        EXPECT_FALSE(publishContent(*message, static_cast<std::uint8_t>(std::stoi(level)))) << frame;
    }
}

TEST(MQTTParser, AcknowledgementCodes) {
    const auto codes = [](const char* frame, std::uint8_t level) {
        return acknowledgementCodes(*MQTTMessage::messageFromData(parseHex(frame), level), level);
    };
    EXPECT_EQ(codes("90 04 00 01 02 80", 4), (std::vector<std::uint8_t>{2, 0x80}));
    EXPECT_EQ(codes("90 09 00 01 04 1F 00 01 72 01 00", 5), (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(codes("B0 02 00 01", 4), std::vector<std::uint8_t>{});
    EXPECT_EQ(codes("B0 05 00 01 00 00 11", 5), (std::vector<std::uint8_t>{0, 0x11}));
    EXPECT_FALSE(codes("40 02 00 01", 4));

    const auto subackWithProperties = MQTTMessage::messageFromData(parseHex("90 09 00 01 04 1F 00 01 72 01 00"), 5);
    EXPECT_EQ(subackWithProperties->properties->reasonString, "r");
}

}  // namespace
}  // namespace ambrell

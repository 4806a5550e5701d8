// The bytes of every packet the client sends, at each protocol level, and the
// integer and string encodings beneath them.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "livedata/mqtt/MQTTData.h"
#include "livedata/mqtt/MQTTMessage.h"
#include "tests/livedata/mqtt/MQTTTestBytes.h"

namespace ambrell {
namespace {

using test::parseHex;
using test::printHex;

struct IntegerRow {
    std::uint32_t value;
    const char* bytes;
};

TEST(MQTTData, VariableByteIntegersAtEachByteBoundary) {
    const IntegerRow rows[] = {
        {0, "00"},
        {127, "7F"},
        {128, "80 01"},
        {16'383, "FF 7F"},
        {16'384, "80 80 01"},
        {2'097'151, "FF FF 7F"},
        {2'097'152, "80 80 80 01"},
        {268'435'455, "FF FF FF 7F"},
    };
    for (const IntegerRow& row : rows) {
        Bytes written;
        ASSERT_TRUE(appendVariableLength(written, row.value));
        EXPECT_EQ(printHex(written), row.bytes) << row.value;
        EXPECT_EQ(variableLengthSize(row.value), written.size()) << row.value;
        const auto read = readVariableByteInteger(written);
        ASSERT_TRUE(read) << row.value;
        EXPECT_EQ(read->value, row.value);
        EXPECT_EQ(read->size, written.size());
    }

    Bytes refused{0xAA};
    EXPECT_FALSE(appendVariableLength(refused, 268'435'456));
    EXPECT_FALSE(appendVariableLength(refused, 0xFFFFFFFFU));
    EXPECT_EQ(refused, Bytes{0xAA});
    EXPECT_EQ(variableLengthSize(268'435'456), 0U);

    VariableByteIntegerError error{};
    EXPECT_FALSE(readVariableByteInteger(parseHex("FF FF FF FF 01"), &error));
    EXPECT_EQ(error, VariableByteIntegerError::tooLong);
    EXPECT_FALSE(readVariableByteInteger(parseHex("80 80"), &error));
    EXPECT_EQ(error, VariableByteIntegerError::truncated);
    EXPECT_FALSE(readVariableByteInteger({}, &error));
    EXPECT_EQ(error, VariableByteIntegerError::truncated);
}

TEST(MQTTData, FixedIntegersStringsAndBinaryData) {
    Bytes data;
    appendByte(data, 0x1FF);
    appendUInt16BigEndian(data, 0x12345);
    appendUInt32BigEndian(data, 0xDEADBEEF);
    EXPECT_EQ(printHex(data), "FF 23 45 DE AD BE EF");
    EXPECT_EQ(readUInt16BigEndian(parseHex("23 45")), 0x2345);
    EXPECT_EQ(readUInt32BigEndian(parseHex("DE AD BE EF")), 0xDEADBEEFU);
    EXPECT_FALSE(readUInt32BigEndian(parseHex("DE AD BE")));

    data.clear();
    ASSERT_TRUE(appendMQTTString(data, "a\xC3\xA9"));
    ASSERT_TRUE(appendMQTTString(data, ""));
    ASSERT_TRUE(appendBinaryData(data, parseHex("00 FF")));
    EXPECT_EQ(printHex(data), "00 03 61 C3 A9 00 00 00 02 00 FF");

    Bytes limits;
    EXPECT_TRUE(appendMQTTString(limits, std::string(65'535, 'x')));
    EXPECT_EQ(limits.size(), 65'537U);
    EXPECT_EQ(limits[0], 0xFF);
    limits.clear();
    EXPECT_FALSE(appendMQTTString(limits, std::string(65'536, 'x')));
    EXPECT_FALSE(appendMQTTString(limits, "\xC3"));
    EXPECT_FALSE(appendBinaryData(limits, Bytes(65'536)));
    EXPECT_TRUE(limits.empty());

    EXPECT_EQ(readBinaryData(parseHex("00 02 61 62 63"))->size(), 2U);
    EXPECT_FALSE(readBinaryData(parseHex("00 03 61 62")));
    EXPECT_EQ(textFromUTF8OrLatin1(parseHex("74 C3 A9")), "t\xC3\xA9");
    EXPECT_EQ(textFromUTF8OrLatin1(parseHex("74 E9")), "t\xC3\xA9");
}

using Build = std::function<std::optional<MQTTMessage>()>;

Build connect(MQTTConnectParameters parameters) {
    return [parameters] { return MQTTMessage::connectMessageWithClientId(parameters); };
}

struct PacketRow {
    const char* name;
    Build build;
    const char* bytes;
};

TEST(MQTTMessage, EveryPacketsBytesAtEachLevel) {
    const Bytes payload = parseHex("'hi'");
    const PacketRow rows[] = {
        {"PINGREQ", [] { return MQTTMessage::pingreqMessage(); }, "C0 00"},
        {"DISCONNECT L3", [] { return MQTTMessage::disconnectMessage(3); }, "E0 00"},
        {"DISCONNECT L4, its arguments unused",
         [] {
             return MQTTMessage::disconnectMessage(4, 4, 10, "r", UserProperties{{"k", "v"}});
         },
         "E0 00"},
        {"DISCONNECT L5 plain", [] { return MQTTMessage::disconnectMessage(5); }, "E0 00"},
        {"DISCONNECT L5 reason only", [] { return MQTTMessage::disconnectMessage(5, 0x04); }, "E0 01 04"},
        {"DISCONNECT L5 properties with reason 0", [] { return MQTTMessage::disconnectMessage(5, 0, 10, "r"); },
         "E0 0B 00 09 11 00 00 00 0A 1F 00 01 72"},
        {"CONNECT L3", connect({.clientId = "c", .protocolLevel = 3}), "10 0F 00 06 'MQIsdp' 03 02 00 3C 00 01 63"},
        {"CONNECT L4", connect({.clientId = "c", .protocolLevel = 4}), "10 0D 00 04 'MQTT' 04 02 00 3C 00 01 63"},
        {"CONNECT L5", connect({.clientId = "c", .protocolLevel = 5}), "10 0E 00 04 'MQTT' 05 02 00 3C 00 00 01 63"},
        {"CONNECT L4 with will, user and password",
         connect({.clientId = "c",
                  .userName = "u",
                  .password = "p",
                  .keepAlive = 0x1234,
                  .cleanSession = false,
                  .will = true,
                  .willTopic = "w",
                  .willMsg = Bytes{'x'},
                  .willQoS = 1,
                  .willRetain = true,
                  .protocolLevel = 4}),
         "10 19 00 04 'MQTT' 04 EC 12 34 00 01 63 00 01 77 00 01 78 00 01 75 00 01 70"},
        {"CONNECT L4 without the will flag sends no will",
         connect({.clientId = "c",
                  .willTopic = "w",
                  .willMsg = Bytes{'x'},
                  .willQoS = 2,
                  .willRetain = true,
                  .protocolLevel = 4}),
         "10 0D 00 04 'MQTT' 04 02 00 3C 00 01 63"},
        {"CONNECT L5 with every property",
         connect({.clientId = "c",
                  .protocolLevel = 5,
                  .sessionExpiryInterval = 0x78,
                  .authMethod = "m",
                  .authData = Bytes{0xAD},
                  .requestProblemInformation = 0,
                  .requestResponseInformation = 1,
                  .receiveMaximum = 10,
                  .topicAliasMaximum = 5,
                  .userProperty = UserProperties{{"k", "v"}},
                  .maximumPacketSize = 0x10000}),
         "10 31 00 04 'MQTT' 05 02 00 3C 23 11 00 00 00 78 15 00 01 6D 16 00 01 AD 17 00 19 01 21 00 0A 22 00 05 "
         "26 00 01 6B 00 01 76 27 00 01 00 00 00 01 63"},
        {"CONNECT L5 will with its own property block",
         connect({.clientId = "c",
                  .will = true,
                  .willTopic = "w",
                  .willMsg = Bytes{'x'},
                  .protocolLevel = 5,
                  .willDelayInterval = 5}),
         "10 1A 00 04 'MQTT' 05 06 00 3C 00 00 01 63 05 18 00 00 00 05 00 01 77 00 01 78"},
        {"CONNECT L5 password without user name", connect({.clientId = "c", .password = "p", .protocolLevel = 5}),
         "10 11 00 04 'MQTT' 05 42 00 3C 00 00 01 63 00 01 70"},
        {"SUBSCRIBE L4",
         [] {
             return MQTTMessage::subscribeMessageWithMessageId(1, {{"a/b", 2}}, 4);
         },
         "82 08 00 01 00 03 61 2F 62 02"},
        {"SUBSCRIBE L3 in key order",
         [] {
             return MQTTMessage::subscribeMessageWithMessageId(0x0102, {{"b", 0}, {"a", 1}}, 3);
         },
         "82 0A 01 02 00 01 61 01 00 01 62 00"},
        {"SUBSCRIBE L5",
         [] {
             return MQTTMessage::subscribeMessageWithMessageId(2, {{"a", 0x15}}, 5);
         },
         "82 07 00 02 00 00 01 61 15"},
        {"SUBSCRIBE L5 with a subscription identifier",
         [] {
             return MQTTMessage::subscribeMessageWithMessageId(2, {{"a", 1}}, 5, 300);
         },
         "82 0A 00 02 03 0B AC 02 00 01 61 01"},
        {"UNSUBSCRIBE L4 in list order",
         [] {
             return MQTTMessage::unsubscribeMessageWithMessageId(3, std::vector<std::string>{"b", "a"}, 4);
         },
         "A2 08 00 03 00 01 62 00 01 61"},
        {"UNSUBSCRIBE L5",
         [] { return MQTTMessage::unsubscribeMessageWithMessageId(3, std::vector<std::string>{"a"}, 5); },
         "A2 06 00 03 00 00 01 61"},
        {"PUBLISH L4 QoS 0, the identifier left out",
         [&] { return MQTTMessage::publishMessageWithData(payload, "t", 0, 7, false, false, 4); },
         "30 05 00 01 74 68 69"},
        {"PUBLISH L3 QoS 1 retained duplicate",
         [&] { return MQTTMessage::publishMessageWithData(payload, "t", 1, 10, true, true, 3); },
         "3B 07 00 01 74 00 0A 68 69"},
        {"PUBLISH L4 QoS 2 empty payload",
         [&] { return MQTTMessage::publishMessageWithData({}, "t", 2, 0xFFFF, false, false, 4); },
         "34 05 00 01 74 FF FF"},
        {"PUBLISH L5 QoS 0", [&] { return MQTTMessage::publishMessageWithData(payload, "t", 0, 0, false, false, 5); },
         "30 06 00 01 74 00 68 69"},
        {"PUBLISH L5 QoS 2 with every property",
         [&] {
             return MQTTMessage::publishMessageWithData(payload, "t", 2, 5, false, false, 5,
                                                        {.payloadFormatIndicator = 1,
                                                         .publicationExpiryInterval = 60,
                                                         .topicAlias = 3,
                                                         .responseTopic = "r",
                                                         .correlationData = Bytes{0xC0},
                                                         .userProperty = UserProperties{{"k", "v"}},
                                                         .contentType = "j"});
         },
         "34 25 00 01 74 00 05 1D 01 01 02 00 00 00 3C 23 00 03 08 00 01 72 09 00 01 C0 26 00 01 6B 00 01 76 "
         "03 00 01 6A 68 69"},
        {"PUBACK L4", [] { return MQTTMessage::pubackMessageWithMessageId(0x1234, 4); }, "40 02 12 34"},
        {"PUBREC L3", [] { return MQTTMessage::pubrecMessageWithMessageId(0x1234, 3); }, "50 02 12 34"},
        {"PUBREL L4", [] { return MQTTMessage::pubrelMessageWithMessageId(0x1234, 4); }, "62 02 12 34"},
        {"PUBCOMP L4", [] { return MQTTMessage::pubcompMessageWithMessageId(0x1234, 4); }, "70 02 12 34"},
        {"PUBACK L5", [] { return MQTTMessage::pubackMessageWithMessageId(1, 5); }, "40 04 00 01 00 00"},
        {"PUBREC L5 with a reason string", [] { return MQTTMessage::pubrecMessageWithMessageId(1, 5, 0x10, "r"); },
         "50 08 00 01 10 04 1F 00 01 72"},
        {"PUBREL L5 with a user property",
         [] {
             return MQTTMessage::pubrelMessageWithMessageId(1, 5, 0, std::nullopt, UserProperties{{"k", "v"}});
         },
         "62 0B 00 01 00 07 26 00 01 6B 00 01 76"},
        {"PUBCOMP L5 with a reason code", [] { return MQTTMessage::pubcompMessageWithMessageId(1, 5, 0x92); },
         "70 04 00 01 92 00"},
    };
    for (const PacketRow& row : rows) {
        const auto message = row.build();
        ASSERT_TRUE(message) << row.name;
        EXPECT_EQ(printHex(message->wireFormat()), printHex(parseHex(row.bytes))) << row.name;
        EXPECT_EQ(message->wireSize(), message->wireFormat().size()) << row.name;
    }
}

TEST(MQTTMessage, BuildersRefuseWhatWouldBeCorruptOnTheWire) {
    const std::string longText(65'536, 'x');
    const Bytes payload{1};
    const std::pair<const char*, Build> rows[] = {
        {"topic over 65,535 bytes",
         [&] { return MQTTMessage::publishMessageWithData(payload, longText, 0, 0, false, false, 4); }},
        {"topic not UTF-8",
         [&] { return MQTTMessage::publishMessageWithData(payload, "\xFF", 0, 0, false, false, 4); }},
        {"QoS 3", [&] { return MQTTMessage::publishMessageWithData(payload, "t", 3, 1, false, false, 4); }},
        {"QoS 1 without identifier",
         [&] { return MQTTMessage::publishMessageWithData(payload, "t", 1, 0, false, false, 4); }},
        {"user property over 65,535 bytes",
         [&] {
             return MQTTMessage::publishMessageWithData(payload, "t", 0, 0, false, false, 5,
                                                        {.userProperty = UserProperties{{"k", longText}}});
         }},
        {"SUBSCRIBE without topics", [] { return MQTTMessage::subscribeMessageWithMessageId(1, {}, 4); }},
        {"SUBSCRIBE without identifier",
         [] {
             return MQTTMessage::subscribeMessageWithMessageId(0, {{"a", 0}}, 4);
         }},
        {"SUBSCRIBE filter over 65,535 bytes",
         [&] {
             return MQTTMessage::subscribeMessageWithMessageId(1, {{longText, 0}}, 4);
         }},
        {"SUBSCRIBE identifier past the largest integer",
         [] {
             return MQTTMessage::subscribeMessageWithMessageId(1, {{"a", 0}}, 5, 268'435'456);
         }},
        {"UNSUBSCRIBE without topics", [] { return MQTTMessage::unsubscribeMessageWithMessageId(1, {}, 4); }},
        {"CONNECT level 6", connect({.clientId = "c", .protocolLevel = 6})},
        {"CONNECT level 0", connect({.clientId = "c", .protocolLevel = 0})},
        {"CONNECT will without topic",
         connect({.clientId = "c", .will = true, .willMsg = Bytes{}, .protocolLevel = 4})},
        {"CONNECT will QoS 3",
         connect(
             {.clientId = "c", .will = true, .willTopic = "w", .willMsg = Bytes{}, .willQoS = 3, .protocolLevel = 4})},
        {"CONNECT L4 password without user name", connect({.clientId = "c", .password = "p", .protocolLevel = 4})},
        {"CONNECT will message over 65,535 bytes",
         connect({.clientId = "c", .will = true, .willTopic = "w", .willMsg = Bytes(65'536), .protocolLevel = 4})},
        {"PUBACK reason string not UTF-8",
         [] { return MQTTMessage::pubackMessageWithMessageId(1, 5, 0, std::string("\xC3")); }},
    };
    for (const auto& [name, build] : rows) EXPECT_FALSE(build()) << name;

    MQTTMessage handMade(MQTTCommandType::publish, 3, {});
    EXPECT_TRUE(handMade.wireFormat().empty());
    EXPECT_EQ(handMade.wireSize(), 0U);
}

TEST(MQTTMessage, LongBodiesTakeLongerLengths) {
    for (const std::size_t size : {127U, 128U, 16'383U, 16'384U, 2'097'152U}) {
        const MQTTMessage message(MQTTCommandType::publish, Bytes(size, 0x5A));
        const Bytes frame = message.wireFormat();
        ASSERT_EQ(frame.size(), 1 + variableLengthSize(static_cast<std::uint32_t>(size)) + size) << size;
        EXPECT_EQ(readVariableByteInteger(std::span(frame).subspan(1))->value, size);
    }
}

}  // namespace
}  // namespace ambrell

// Property blocks of received level-5 packets: every identifier, and blocks
// that are empty, truncated, overrun, unassigned or repeat a user property.
#include <gtest/gtest.h>

#include <string>

#include "livedata/mqtt/MQTTProperties.h"
#include "tests/livedata/mqtt/MQTTTestBytes.h"

namespace ambrell {
namespace {

using test::parseHex;

TEST(MQTTProperties, ReadsEveryIdentifier) {
    const Bytes block = parseHex(
        "01 01  02 00 00 00 3C  03 00 01 'c'  08 00 01 'r'  09 00 02 AB CD  0B 80 01  11 FF FF FF FF  12 00 01 'a'  "
        "13 00 3C  15 00 01 'm'  16 00 01 AD  17 01  18 00 00 00 05  19 01  1A 00 01 'i'  1C 00 01 's'  "
        "1F 00 01 'w'  21 00 0A  22 00 05  23 00 03  24 01  25 00  26 00 01 'k' 00 01 'v'  27 00 01 00 00  28 01  "
        "29 00  2A 01");
    Bytes data;
    appendVariableLength(data, static_cast<std::uint32_t>(block.size()));
    data.insert(data.end(), block.begin(), block.end());
    data.push_back(0xEE);  // the packet goes on after the block

    const MQTTPropertyBlock decoded = MQTTProperties::decodeBlock(data);
    EXPECT_TRUE(decoded.sound);
    EXPECT_EQ(decoded.size, data.size() - 1);
    const MQTTProperties& properties = decoded.properties;
    EXPECT_EQ(properties.payloadFormatIndicator, 1);
    EXPECT_EQ(properties.publicationExpiryInterval, 60U);
    EXPECT_EQ(properties.contentType, "c");
    EXPECT_EQ(properties.responseTopic, "r");
    EXPECT_EQ(properties.correlationData, parseHex("AB CD"));
    EXPECT_EQ(properties.subscriptionIdentifier, 128U);
    EXPECT_EQ(properties.sessionExpiryInterval, 4'294'967'295U);
    EXPECT_EQ(properties.assignedClientIdentifier, "a");
    EXPECT_EQ(properties.serverKeepAlive, 60);
    EXPECT_EQ(properties.authMethod, "m");
    EXPECT_EQ(properties.authData, parseHex("AD"));
    EXPECT_EQ(properties.requestProblemInformation, 1);
    EXPECT_EQ(properties.willDelayInterval, 5U);
    EXPECT_EQ(properties.requestResponseInformation, 1);
    EXPECT_EQ(properties.responseInformation, "i");
    EXPECT_EQ(properties.serverReference, "s");
    EXPECT_EQ(properties.reasonString, "w");
    EXPECT_EQ(properties.receiveMaximum, 10);
    EXPECT_EQ(properties.topicAliasMaximum, 5);
    EXPECT_EQ(properties.topicAlias, 3);
    EXPECT_EQ(properties.maximumQoS, 1);
    EXPECT_EQ(properties.retainAvailable, 0);
    EXPECT_EQ(properties.userProperty, (UserProperties{{"k", "v"}}));
    EXPECT_EQ(properties.maximumPacketSize, 65'536U);
    EXPECT_EQ(properties.wildcardSubscriptionAvailable, 1);
    EXPECT_EQ(properties.subscriptionIdentifiersAvailable, 0);
    EXPECT_EQ(properties.sharedSubscriptionAvailable, 1);
    EXPECT_EQ(MQTTProperties(data), properties);
}

struct BlockRow {
    const char* name;
    const char* bytes;
    bool sound;
    std::size_t size;
    std::function<bool(const MQTTProperties&)> expect;
};

bool nothingSet(const MQTTProperties& properties) { return properties == MQTTProperties(); }

TEST(MQTTProperties, MalformedBlocksKeepWhatWasReadAndNoMore) {
    const BlockRow rows[] = {
        {"empty buffer", "", false, 0, nothingSet},
        {"empty block", "00", true, 1, nothingSet},
        {"server keep-alive", "03 13 00 3C", true, 4, [](auto& p) { return p.serverKeepAlive == 60; }},
        {"two-byte value with one byte left", "02 13 00", false, 3, nothingSet},
        {"block longer than the data", "04 13 00 3C", false, 0, nothingSet},
        {"length of five bytes", "80 80 80 80 01 13 00 3C", false, 0, nothingSet},
        {"string overrunning its block into the packet", "04 1F 00 05 61 62 63 64 65", false, 5, nothingSet},
        {"user property value past the block", "06 26 00 01 6B 00 02 76 76", false, 7, nothingSet},
        {"unassigned identifier first", "05 04 00 13 00 3C", false, 6, nothingSet},
        {"unassigned identifier after a property", "07 13 00 3C 04 13 00 3D", false, 8,
         [](auto& p) {
             return p.serverKeepAlive == 60 && p == [] {
                 MQTTProperties only;
                 only.serverKeepAlive = 60;
                 return only;
             }();
         }},
        {"identifier 0", "01 00", false, 2, nothingSet},
        {"identifier above 42", "02 2B 00", false, 3, nothingSet},
        {"duplicate user property: the later value", "0E 26 00 01 'k' 00 01 '1' 26 00 01 'k' 00 01 '2'", true, 15,
         [](auto& p) {
             return p.userProperty == UserProperties{{"k", "2"}};
         }},
        {"subscription identifier of four bytes", "05 0B FF FF FF 7F", true, 6,
         [](auto& p) { return p.subscriptionIdentifier == 268'435'455U; }},
        {"subscription identifier of five bytes", "06 0B FF FF FF FF 01", false, 7, nothingSet},
        {"subscription identifier cut by its block", "02 0B 80 01", false, 3, nothingSet},
        {"text not UTF-8 is left out, the rest read", "07 03 00 01 FF 13 00 3C", false, 8,
         [](auto& p) { return !p.contentType && p.serverKeepAlive == 60; }},
    };
    for (const BlockRow& row : rows) {
        const MQTTPropertyBlock block = MQTTProperties::decodeBlock(parseHex(row.bytes));
        EXPECT_EQ(block.sound, row.sound) << row.name;
        EXPECT_EQ(block.size, row.size) << row.name;
        EXPECT_TRUE(row.expect(block.properties)) << row.name;
    }
}

TEST(MQTTProperties, ValueReaders) {
    const std::pair<const char*, std::int64_t> variable[] = {
        {"00", 0}, {"7F", 127}, {"80 01", 128},         {"FF FF FF 7F", 268'435'455},
        {"", -1},  {"80", -1},  {"FF FF FF FF 01", -2},
    };
    for (const auto& [bytes, value] : variable) {
        EXPECT_EQ(MQTTProperties::getVariableLength(parseHex(bytes)), value) << bytes;
    }
    const std::pair<std::int32_t, int> sizes[] = {
        {-1, 1},     {0, 1},         {127, 1},       {128, 2},         {16'383, 2},
        {16'384, 3}, {2'097'151, 3}, {2'097'152, 4}, {268'435'455, 4}, {268'435'456, 0},
    };
    for (const auto& [value, size] : sizes) EXPECT_EQ(MQTTProperties::variableIntLength(value), size) << value;

    EXPECT_EQ(MQTTProperties::getTwoByteInt(parseHex("01 02")), 0x0102);
    EXPECT_EQ(MQTTProperties::getTwoByteInt(parseHex("01")), 0);
    EXPECT_EQ(MQTTProperties::getFourByteInt(parseHex("01 02 03 04")), 0x01020304U);
    EXPECT_EQ(MQTTProperties::getFourByteInt(parseHex("01 02 03")), 0U);
    EXPECT_EQ(MQTTProperties::getUtf8String(parseHex("00 02 'ab' 'c'")), "ab");
    EXPECT_FALSE(MQTTProperties::getUtf8String(parseHex("00 03 'ab'")));
    EXPECT_FALSE(MQTTProperties::getUtf8String(parseHex("00 01 FF")));
    EXPECT_EQ(MQTTProperties::getBinaryData(parseHex("00 01 FF")), parseHex("FF"));
    EXPECT_FALSE(MQTTProperties::getBinaryData(parseHex("00")));
}

}  // namespace
}  // namespace ambrell

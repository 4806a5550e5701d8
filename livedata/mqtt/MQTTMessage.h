#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "livedata/mqtt/MQTTData.h"
#include "livedata/mqtt/MQTTProperties.h"

namespace ambrell {

// The control packet types, as the first byte's high four bits carry them.
enum class MQTTCommandType : std::uint8_t {
    reserved = 0,
    connect = 1,
    connack = 2,
    publish = 3,
    puback = 4,
    pubrec = 5,
    pubrel = 6,
    pubcomp = 7,
    subscribe = 8,
    suback = 9,
    unsubscribe = 10,
    unsuback = 11,
    pingreq = 12,
    pingresp = 13,
    disconnect = 14,
    auth = 15,
};

// Topic filters to subscribe, each with its requested QoS (at level 5 the
// whole subscription-options byte); written in key order.
using MQTTSubscriptions = std::map<std::string, std::uint8_t, std::less<>>;

// What a CONNECT carries, written with designated initializers naming only
// what is set. The level-5 fields are written only at level 5; an absent one
// writes nothing.
struct MQTTConnectParameters {
    // May be empty (the broker then assigns one, if it allows).
    std::string clientId{};
    std::optional<std::string> userName{};
    // At levels 3 and 4 a password needs a user name.
    std::optional<std::string> password{};
    std::uint16_t keepAlive = 60;
    bool cleanSession = true;
    // With the will flag the will topic and message are required; without
    // it they, the will QoS and the will retain flag are not sent.
    bool will = false;
    std::optional<std::string> willTopic{};
    std::optional<Bytes> willMsg{};
    std::uint8_t willQoS = 0;
    bool willRetain = false;
    // 3, 4 or 5.
    std::uint8_t protocolLevel = 4;

    std::optional<std::uint32_t> sessionExpiryInterval{};
    std::optional<std::string> authMethod{};
    std::optional<Bytes> authData{};
    std::optional<std::uint8_t> requestProblemInformation{};
    // Sent in the will's own property block, so only with the will flag.
    std::optional<std::uint32_t> willDelayInterval{};
    std::optional<std::uint8_t> requestResponseInformation{};
    std::optional<std::uint16_t> receiveMaximum{};
    std::optional<std::uint16_t> topicAliasMaximum{};
    std::optional<UserProperties> userProperty{};
    std::optional<std::uint32_t> maximumPacketSize{};
};

// The level-5 properties a PUBLISH may carry; ignored at levels 3 and 4.
struct MQTTPublishProperties {
    std::optional<std::uint8_t> payloadFormatIndicator{};
    std::optional<std::uint32_t> publicationExpiryInterval{};
    std::optional<std::uint16_t> topicAlias{};
    std::optional<std::string> responseTopic{};
    std::optional<Bytes> correlationData{};
    std::optional<UserProperties> userProperty{};
    std::optional<std::string> contentType{};
};

// One MQTT control packet: the fixed header's fields and the bytes after it.
// Built for sending by the builders below or parsed from a received frame by
// messageFromData; a plain value, cheap to move.
//
// The builders return none instead of a packet that would be corrupt on the
// wire: a string or binary value over 65,535 bytes, text that is not UTF-8,
// a packet over the largest remaining length, a QoS above 2, a protocol
// level other than 3, 4 or 5 where it must be written, a missing packet
// identifier where one is needed, or an empty topic list. Nothing here throws
// but std::bad_alloc.
struct MQTTMessage {
    MQTTCommandType type = MQTTCommandType::reserved;
    std::uint8_t qos = 0;
    bool retainFlag = false;
    bool dupFlag = false;
    // The packet identifier; 0 when the packet has none. For a parsed PUBLISH
    // of QoS 1 or 2, the identifier after the topic (0 when the data is too
    // short to hold it; publishContent then refuses the packet).
    std::uint16_t mid = 0;
    // The variable header and payload.
    Bytes data;
    // The CONNACK return code, or at level 5 the reason code of PUBACK,
    // PUBREC, PUBREL, PUBCOMP and DISCONNECT, in parsed packets.
    std::optional<std::uint8_t> returnCode;
    // The CONNACK acknowledge flags (bit 0: session present).
    std::optional<std::uint8_t> connectAcknowledgeFlags;
    // Parsed level-5 CONNACK, acknowledgements, UNSUBACK, SUBACK and
    // DISCONNECT (with properties) only.
    std::optional<MQTTProperties> properties;

    MQTTMessage() = default;
    explicit MQTTMessage(MQTTCommandType type, Bytes data = {});
    MQTTMessage(MQTTCommandType type, std::uint8_t qos, Bytes data);
    MQTTMessage(MQTTCommandType type, std::uint8_t qos, bool retainFlag, bool dupFlag, Bytes data);

    // The frame: the first byte (type, dup, QoS, retain), the remaining length
    // and data. Empty when the packet cannot be framed (QoS above 2, data over
    // the largest remaining length); every real frame has at least 2 bytes.
    [[nodiscard]] Bytes wireFormat() const;
    // The same appended to out; false, nothing appended, when it cannot be
    // framed.
    bool appendWireFormat(Bytes& out) const;
    // The frame's size in bytes, 0 when it cannot be framed: what a broker's
    // maximum packet size is compared with.
    [[nodiscard]] std::size_t wireSize() const;

    // CONNECT (type 1).
    [[nodiscard]] static std::optional<MQTTMessage> connectMessageWithClientId(const MQTTConnectParameters& parameters);
    // PINGREQ (type 12): the two bytes 0xC0 0x00.
    [[nodiscard]] static MQTTMessage pingreqMessage();
    // DISCONNECT (type 14): empty at levels 3 and 4; at level 5 the reason
    // code when it is not 0 or properties follow, then the properties when
    // there are any.
    [[nodiscard]] static std::optional<MQTTMessage> disconnectMessage(
        std::uint8_t protocolLevel, std::uint8_t returnCode = 0,
        std::optional<std::uint32_t> sessionExpiryInterval = std::nullopt,
        const std::optional<std::string>& reasonString = std::nullopt,
        const std::optional<UserProperties>& userProperty = std::nullopt);
    // SUBSCRIBE (type 8, QoS 1): identifier (not 0), at level 5 a property
    // block with the subscription identifier when given, then each filter
    // and its options byte.
    [[nodiscard]] static std::optional<MQTTMessage> subscribeMessageWithMessageId(
        std::uint16_t msgId, const MQTTSubscriptions& topics, std::uint8_t protocolLevel,
        std::optional<std::uint32_t> subscriptionIdentifier = std::nullopt);
    // UNSUBSCRIBE (type 10, QoS 1): identifier (not 0), at level 5 an empty
    // property block, then the filters in order.
    [[nodiscard]] static std::optional<MQTTMessage> unsubscribeMessageWithMessageId(std::uint16_t msgId,
                                                                                    std::span<const std::string> topics,
                                                                                    std::uint8_t protocolLevel);
    // PUBLISH (type 3): topic, the identifier at QoS 1 and 2 (which must not
    // be 0; at QoS 0 msgId is ignored), at level 5 a property block, then
    // the payload.
    [[nodiscard]] static std::optional<MQTTMessage> publishMessageWithData(
        std::span<const std::uint8_t> payload, std::string_view topic, std::uint8_t qos, std::uint16_t msgId,
        bool retainFlag, bool dupFlag, std::uint8_t protocolLevel, const MQTTPublishProperties& properties = {});
    // PUBACK, PUBREC, PUBREL (QoS 1) and PUBCOMP: the identifier; at level 5
    // the reason code and a property block with the reason string and user
    // properties when given.
    [[nodiscard]] static std::optional<MQTTMessage> pubackMessageWithMessageId(
        std::uint16_t msgId, std::uint8_t protocolLevel, std::uint8_t returnCode = 0,
        const std::optional<std::string>& reasonString = std::nullopt,
        const std::optional<UserProperties>& userProperty = std::nullopt);
    [[nodiscard]] static std::optional<MQTTMessage> pubrecMessageWithMessageId(
        std::uint16_t msgId, std::uint8_t protocolLevel, std::uint8_t returnCode = 0,
        const std::optional<std::string>& reasonString = std::nullopt,
        const std::optional<UserProperties>& userProperty = std::nullopt);
    [[nodiscard]] static std::optional<MQTTMessage> pubrelMessageWithMessageId(
        std::uint16_t msgId, std::uint8_t protocolLevel, std::uint8_t returnCode = 0,
        const std::optional<std::string>& reasonString = std::nullopt,
        const std::optional<UserProperties>& userProperty = std::nullopt);
    [[nodiscard]] static std::optional<MQTTMessage> pubcompMessageWithMessageId(
        std::uint16_t msgId, std::uint8_t protocolLevel, std::uint8_t returnCode = 0,
        const std::optional<std::string>& reasonString = std::nullopt,
        const std::optional<UserProperties>& userProperty = std::nullopt);

    // Parses one whole frame (as MQTTDecoder delivers it) received on a
    // session at protocolLevel. None when the frame is malformed: a bad or
    // over-long remaining length, a length that disagrees with the frame,
    // type 0 or 15, a QoS the type does not allow, or a body too short or too
    // long for its type. Never throws, never reads outside the frame.
    // PUBLISH, SUBACK and UNSUBACK contents are read with publishContent and
    // acknowledgementCodes.
    [[nodiscard]] static std::optional<MQTTMessage> messageFromData(std::span<const std::uint8_t> frame,
                                                                    std::uint8_t protocolLevel);

    friend bool operator==(const MQTTMessage&, const MQTTMessage&) = default;
};

// The contents of a received PUBLISH.
struct MQTTPublishContent {
    // The topic as UTF-8; topic bytes that are not UTF-8 are taken as
    // ISO Latin 1.
    std::string topic;
    // The packet identifier; 0 at QoS 0.
    std::uint16_t mid = 0;
    // Level 5 only.
    std::optional<MQTTProperties> properties;
    // The payload: a view into the message's data, valid while it lives.
    std::span<const std::uint8_t> payload;
    // Where the payload starts within the message's data.
    std::size_t payloadOffset = 0;
};

// Splits a parsed PUBLISH into topic, identifier, properties and payload.
// None when the data is too short for its topic or identifier, or at level 5
// when the property block is unsound: such a message is dropped, not answered.
[[nodiscard]] std::optional<MQTTPublishContent> publishContent(const MQTTMessage& publish, std::uint8_t protocolLevel);

// The return codes of a parsed SUBACK (granted QoS values or failures) or
// UNSUBACK (level 5 reason codes; none are sent at levels 3 and 4, so the
// list is empty), after the identifier and at level 5 the property block.
// None for any other packet or a body the parser would not have accepted.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> acknowledgementCodes(const MQTTMessage& acknowledgement,
                                                                            std::uint8_t protocolLevel);

}  // namespace ambrell

#include "livedata/mqtt/MQTTMessage.h"

#include <utility>

namespace ambrell {

namespace {

// Property identifiers the builders write.
constexpr std::uint8_t kPayloadFormatIndicator = 1;
constexpr std::uint8_t kMessageExpiryInterval = 2;
constexpr std::uint8_t kContentType = 3;
constexpr std::uint8_t kResponseTopic = 8;
constexpr std::uint8_t kCorrelationData = 9;
constexpr std::uint8_t kSubscriptionIdentifier = 11;
constexpr std::uint8_t kSessionExpiryInterval = 17;
constexpr std::uint8_t kAuthenticationMethod = 21;
constexpr std::uint8_t kAuthenticationData = 22;
constexpr std::uint8_t kRequestProblemInformation = 23;
constexpr std::uint8_t kWillDelayInterval = 24;
constexpr std::uint8_t kRequestResponseInformation = 25;
constexpr std::uint8_t kReasonString = 31;
constexpr std::uint8_t kReceiveMaximum = 33;
constexpr std::uint8_t kTopicAliasMaximum = 34;
constexpr std::uint8_t kTopicAlias = 35;
constexpr std::uint8_t kUserProperty = 38;
constexpr std::uint8_t kMaximumPacketSize = 39;

// Appends to a buffer and remembers whether any value was refused, so that a
// builder checks once at the end instead of after every field.
class Writer {
public:
    Bytes bytes;
    bool ok = true;

    void byte(std::uint32_t value) { appendByte(bytes, value); }
    void twoBytes(std::uint32_t value) { appendUInt16BigEndian(bytes, value); }
    void fourBytes(std::uint32_t value) { appendUInt32BigEndian(bytes, value); }
    void variable(std::uint32_t value) { ok = appendVariableLength(bytes, value) && ok; }
    void text(std::string_view value) { ok = appendMQTTString(bytes, value) && ok; }
    void binary(std::span<const std::uint8_t> value) { ok = appendBinaryData(bytes, value) && ok; }
    void raw(std::span<const std::uint8_t> value) { bytes.insert(bytes.end(), value.begin(), value.end()); }

    // A property block: its byte count, then the properties.
    void block(const Writer& properties) {
        ok = ok && properties.ok;
        variable(static_cast<std::uint32_t>(properties.bytes.size()));
        raw(properties.bytes);
    }

    void byteProperty(std::uint8_t identifier, const std::optional<std::uint8_t>& value) {
        if (!value) return;
        byte(identifier);
        byte(*value);
    }
    void twoByteProperty(std::uint8_t identifier, const std::optional<std::uint16_t>& value) {
        if (!value) return;
        byte(identifier);
        twoBytes(*value);
    }
    void fourByteProperty(std::uint8_t identifier, const std::optional<std::uint32_t>& value) {
        if (!value) return;
        byte(identifier);
        fourBytes(*value);
    }
    void variableProperty(std::uint8_t identifier, const std::optional<std::uint32_t>& value) {
        if (!value) return;
        byte(identifier);
        variable(*value);
    }
    void textProperty(std::uint8_t identifier, const std::optional<std::string>& value) {
        if (!value) return;
        byte(identifier);
        text(*value);
    }
    void binaryProperty(std::uint8_t identifier, const std::optional<Bytes>& value) {
        if (!value) return;
        byte(identifier);
        binary(*value);
    }
    void userProperties(const std::optional<UserProperties>& properties) {
        if (!properties) return;
        for (const auto& [name, value] : *properties) {
            byte(kUserProperty);
            text(name);
            text(value);
        }
    }
};

bool isKnownLevel(std::uint8_t protocolLevel) { return protocolLevel >= 3 && protocolLevel <= 5; }

std::optional<MQTTMessage> finish(Writer& writer, MQTTMessage message) {
    if (!writer.ok || writer.bytes.size() > kMaxVariableByteInteger) return std::nullopt;
    message.data = std::move(writer.bytes);
    return message;
}

std::optional<MQTTMessage> acknowledgement(MQTTCommandType type, std::uint8_t qos, std::uint16_t msgId,
                                           std::uint8_t protocolLevel, std::uint8_t returnCode,
                                           const std::optional<std::string>& reasonString,
                                           const std::optional<UserProperties>& userProperty) {
    Writer writer;
    writer.twoBytes(msgId);
    if (protocolLevel == 5) {
        writer.byte(returnCode);
        Writer properties;
        properties.textProperty(kReasonString, reasonString);
        properties.userProperties(userProperty);
        writer.block(properties);
    }
    MQTTMessage message(type, qos, {});
    message.mid = msgId;
    return finish(writer, std::move(message));
}

}  // namespace

MQTTMessage::MQTTMessage(MQTTCommandType type, Bytes data) : type(type), data(std::move(data)) {}

MQTTMessage::MQTTMessage(MQTTCommandType type, std::uint8_t qos, Bytes data)
    : type(type), qos(qos), data(std::move(data)) {}

MQTTMessage::MQTTMessage(MQTTCommandType type, std::uint8_t qos, bool retainFlag, bool dupFlag, Bytes data)
    : type(type), qos(qos), retainFlag(retainFlag), dupFlag(dupFlag), data(std::move(data)) {}

std::size_t MQTTMessage::wireSize() const {
    if (qos > 2 || data.size() > kMaxVariableByteInteger) return 0;
    return 1 + variableLengthSize(static_cast<std::uint32_t>(data.size())) + data.size();
}

bool MQTTMessage::appendWireFormat(Bytes& out) const {
    const std::size_t size = wireSize();
    if (size == 0) return false;
    out.reserve(out.size() + size);
    const auto typeBits = static_cast<std::uint32_t>(type) << 4;
    appendByte(out,
               typeBits | (dupFlag ? 0x08U : 0U) | (static_cast<std::uint32_t>(qos) << 1) | (retainFlag ? 1U : 0U));
    appendVariableLength(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return true;
}

Bytes MQTTMessage::wireFormat() const {
    Bytes out;
    appendWireFormat(out);
    return out;
}

std::optional<MQTTMessage> MQTTMessage::connectMessageWithClientId(const MQTTConnectParameters& parameters) {
    const std::uint8_t level = parameters.protocolLevel;
    if (!isKnownLevel(level)) return std::nullopt;
    if (parameters.will && (!parameters.willTopic || !parameters.willMsg || parameters.willQoS > 2)) {
        return std::nullopt;
    }
    if (parameters.password && !parameters.userName && level < 5) return std::nullopt;

    Writer writer;
    writer.text(level == 3 ? "MQIsdp" : "MQTT");
    writer.byte(level);
    std::uint32_t flags = 0;
    if (parameters.userName) flags |= 0x80U;
    if (parameters.password) flags |= 0x40U;
    if (parameters.will) {
        if (parameters.willRetain) flags |= 0x20U;
        flags |= static_cast<std::uint32_t>(parameters.willQoS) << 3;
        flags |= 0x04U;
    }
    if (parameters.cleanSession) flags |= 0x02U;
    writer.byte(flags);
    writer.twoBytes(parameters.keepAlive);
    if (level == 5) {
        Writer properties;
        properties.fourByteProperty(kSessionExpiryInterval, parameters.sessionExpiryInterval);
        properties.textProperty(kAuthenticationMethod, parameters.authMethod);
        properties.binaryProperty(kAuthenticationData, parameters.authData);
        properties.byteProperty(kRequestProblemInformation, parameters.requestProblemInformation);
        properties.byteProperty(kRequestResponseInformation, parameters.requestResponseInformation);
        properties.twoByteProperty(kReceiveMaximum, parameters.receiveMaximum);
        properties.twoByteProperty(kTopicAliasMaximum, parameters.topicAliasMaximum);
        properties.userProperties(parameters.userProperty);
        properties.fourByteProperty(kMaximumPacketSize, parameters.maximumPacketSize);
        writer.block(properties);
    }
    writer.text(parameters.clientId);
    if (parameters.will) {
        if (level == 5) {
            Writer willProperties;
            willProperties.fourByteProperty(kWillDelayInterval, parameters.willDelayInterval);
            writer.block(willProperties);
        }
        writer.text(*parameters.willTopic);
        writer.binary(*parameters.willMsg);
    }
    if (parameters.userName) writer.text(*parameters.userName);
    if (parameters.password) writer.text(*parameters.password);
    return finish(writer, MQTTMessage(MQTTCommandType::connect));
}

MQTTMessage MQTTMessage::pingreqMessage() { return MQTTMessage(MQTTCommandType::pingreq); }

std::optional<MQTTMessage> MQTTMessage::disconnectMessage(std::uint8_t protocolLevel, std::uint8_t returnCode,
                                                          std::optional<std::uint32_t> sessionExpiryInterval,
                                                          const std::optional<std::string>& reasonString,
                                                          const std::optional<UserProperties>& userProperty) {
    Writer writer;
    if (protocolLevel == 5) {
        Writer properties;
        properties.fourByteProperty(kSessionExpiryInterval, sessionExpiryInterval);
        properties.textProperty(kReasonString, reasonString);
        properties.userProperties(userProperty);
        if (returnCode != 0 || !properties.bytes.empty()) writer.byte(returnCode);
        if (!properties.bytes.empty()) writer.block(properties);
        writer.ok = writer.ok && properties.ok;
    }
    return finish(writer, MQTTMessage(MQTTCommandType::disconnect));
}

std::optional<MQTTMessage> MQTTMessage::subscribeMessageWithMessageId(
    std::uint16_t msgId, const MQTTSubscriptions& topics, std::uint8_t protocolLevel,
    std::optional<std::uint32_t> subscriptionIdentifier) {
    if (msgId == 0 || topics.empty()) return std::nullopt;
    Writer writer;
    writer.twoBytes(msgId);
    if (protocolLevel == 5) {
        Writer properties;
        properties.variableProperty(kSubscriptionIdentifier, subscriptionIdentifier);
        writer.block(properties);
    }
    for (const auto& [filter, options] : topics) {
        writer.text(filter);
        writer.byte(options);
    }
    MQTTMessage message(MQTTCommandType::subscribe, 1, {});
    message.mid = msgId;
    return finish(writer, std::move(message));
}

std::optional<MQTTMessage> MQTTMessage::unsubscribeMessageWithMessageId(std::uint16_t msgId,
                                                                        std::span<const std::string> topics,
                                                                        std::uint8_t protocolLevel) {
    if (msgId == 0 || topics.empty()) return std::nullopt;
    Writer writer;
    writer.twoBytes(msgId);
    if (protocolLevel == 5) writer.byte(0);
    for (const std::string& filter : topics) writer.text(filter);
    MQTTMessage message(MQTTCommandType::unsubscribe, 1, {});
    message.mid = msgId;
    return finish(writer, std::move(message));
}

std::optional<MQTTMessage> MQTTMessage::publishMessageWithData(std::span<const std::uint8_t> payload,
                                                               std::string_view topic, std::uint8_t qos,
                                                               std::uint16_t msgId, bool retainFlag, bool dupFlag,
                                                               std::uint8_t protocolLevel,
                                                               const MQTTPublishProperties& properties) {
    if (qos > 2 || (qos > 0 && msgId == 0) || payload.size() > kMaxVariableByteInteger) return std::nullopt;
    Writer writer;
    writer.bytes.reserve(2 + topic.size() + 2 + 1 + payload.size());
    writer.text(topic);
    if (qos > 0) writer.twoBytes(msgId);
    if (protocolLevel == 5) {
        Writer block;
        block.byteProperty(kPayloadFormatIndicator, properties.payloadFormatIndicator);
        block.fourByteProperty(kMessageExpiryInterval, properties.publicationExpiryInterval);
        block.twoByteProperty(kTopicAlias, properties.topicAlias);
        block.textProperty(kResponseTopic, properties.responseTopic);
        block.binaryProperty(kCorrelationData, properties.correlationData);
        block.userProperties(properties.userProperty);
        block.textProperty(kContentType, properties.contentType);
        writer.block(block);
    }
    writer.raw(payload);
    MQTTMessage message(MQTTCommandType::publish, qos, retainFlag, dupFlag, {});
    message.mid = qos > 0 ? msgId : 0;
    return finish(writer, std::move(message));
}

std::optional<MQTTMessage> MQTTMessage::pubackMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                                   std::uint8_t returnCode,
                                                                   const std::optional<std::string>& reasonString,
                                                                   const std::optional<UserProperties>& userProperty) {
    return acknowledgement(MQTTCommandType::puback, 0, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

std::optional<MQTTMessage> MQTTMessage::pubrecMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                                   std::uint8_t returnCode,
                                                                   const std::optional<std::string>& reasonString,
                                                                   const std::optional<UserProperties>& userProperty) {
    return acknowledgement(MQTTCommandType::pubrec, 0, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

std::optional<MQTTMessage> MQTTMessage::pubrelMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                                   std::uint8_t returnCode,
                                                                   const std::optional<std::string>& reasonString,
                                                                   const std::optional<UserProperties>& userProperty) {
    return acknowledgement(MQTTCommandType::pubrel, 1, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

std::optional<MQTTMessage> MQTTMessage::pubcompMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                                    std::uint8_t returnCode,
                                                                    const std::optional<std::string>& reasonString,
                                                                    const std::optional<UserProperties>& userProperty) {
    return acknowledgement(MQTTCommandType::pubcomp, 0, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

}  // namespace ambrell

// Reading received frames: the parser and the readers of PUBLISH, SUBACK and
// UNSUBACK contents.
#include <utility>

#include "livedata/mqtt/MQTTMessage.h"

namespace ambrell {

namespace {

bool qosFitsType(MQTTCommandType type, std::uint8_t qos) {
    switch (type) {
        case MQTTCommandType::publish: return qos <= 2;
        case MQTTCommandType::pubrel:
        case MQTTCommandType::subscribe:
        case MQTTCommandType::unsubscribe: return qos == 1;
        default: return qos == 0;
    }
}

bool carriesIdentifierFirst(MQTTCommandType type) {
    return type >= MQTTCommandType::puback && type <= MQTTCommandType::unsuback;
}

// The identifier of a QoS 1 or 2 PUBLISH, which follows the topic.
std::uint16_t publishIdentifier(std::span<const std::uint8_t> body) {
    const auto topicLength = readUInt16BigEndian(body);
    if (!topicLength || body.size() < 2U + *topicLength + 2U) return 0;
    return *readUInt16BigEndian(body.subspan(2U + *topicLength));
}

// Level 5 SUBACK and UNSUBACK: identifier, property block, at least one code.
// The offset of the first code, or none.
std::optional<std::size_t> level5CodesOffset(std::span<const std::uint8_t> body, MQTTProperties* properties) {
    if (body.size() < 2) return std::nullopt;
    MQTTPropertyBlock block = MQTTProperties::decodeBlock(body.subspan(2));
    if (block.size == 0 || body.size() - 2 - block.size < 1) return std::nullopt;
    if (properties != nullptr) *properties = std::move(block.properties);
    return 2 + block.size;
}

// Fills the fields of the parsed packet that depend on its type; false when
// the body does not fit the type.
bool readBody(MQTTMessage& message, std::span<const std::uint8_t> body, std::uint8_t protocolLevel) {
    const bool level5 = protocolLevel == 5;
    switch (message.type) {
        case MQTTCommandType::puback:
        case MQTTCommandType::pubrec:
        case MQTTCommandType::pubrel:
        case MQTTCommandType::pubcomp:
            if (!level5) return body.size() == 2;
            // A level-5 acknowledgement may leave out its reason code (then 0)
            // and its properties.
            message.returnCode = body.size() > 2 ? body[2] : 0;
            message.properties = body.size() > 3 ? MQTTProperties(body.subspan(3)) : MQTTProperties();
            return true;
        case MQTTCommandType::unsuback:
            if (!level5) return body.size() == 2;
            message.properties.emplace();
            return level5CodesOffset(body, &*message.properties).has_value();
        case MQTTCommandType::suback:
            if (body.size() < 3) return false;
            if (!level5) return true;
            message.properties.emplace();
            return level5CodesOffset(body, &*message.properties).has_value();
        case MQTTCommandType::pingreq:
        case MQTTCommandType::pingresp: return body.empty();
        case MQTTCommandType::connect:
        case MQTTCommandType::subscribe:
        case MQTTCommandType::unsubscribe: return body.size() >= 3;
        case MQTTCommandType::connack:
            if (level5 ? body.size() < 3 : body.size() != 2) return false;
            message.connectAcknowledgeFlags = body[0];
            message.returnCode = body[1];
            if (level5) message.properties = MQTTProperties(body.subspan(2));
            return true;
        case MQTTCommandType::disconnect:
            if (!level5) return body.empty();
            message.returnCode = body.empty() ? 0 : body[0];
            if (body.size() > 1) message.properties = MQTTProperties(body.subspan(1));
            return true;
        default: return true;
    }
}

}  // namespace

std::optional<MQTTMessage> MQTTMessage::messageFromData(std::span<const std::uint8_t> frame,
                                                        std::uint8_t protocolLevel) {
    if (frame.size() < 2) return std::nullopt;
    const std::uint8_t first = frame[0];
    const auto length = readVariableByteInteger(frame.subspan(1));
    if (!length) return std::nullopt;
    const auto type = static_cast<MQTTCommandType>(first >> 4);
    if (type == MQTTCommandType::reserved || type == MQTTCommandType::auth) return std::nullopt;
    if (frame.size() - 1 - length->size != length->value) return std::nullopt;
    const auto qos = static_cast<std::uint8_t>((first >> 1) & 0x03U);
    if (!qosFitsType(type, qos)) return std::nullopt;

    const auto body = frame.subspan(1 + length->size);
    if (carriesIdentifierFirst(type) && body.size() < 2) return std::nullopt;
    if (type == MQTTCommandType::publish && qos > 0 && body.size() < 2) return std::nullopt;

    MQTTMessage message(type, qos, (first & 0x01U) != 0, (first & 0x08U) != 0, Bytes(body.begin(), body.end()));
    if (carriesIdentifierFirst(type)) message.mid = *readUInt16BigEndian(body);
    if (type == MQTTCommandType::publish && qos > 0) message.mid = publishIdentifier(body);
    if (!readBody(message, body, protocolLevel)) return std::nullopt;
    return message;
}

std::optional<MQTTPublishContent> publishContent(const MQTTMessage& publish, std::uint8_t protocolLevel) {
    if (publish.type != MQTTCommandType::publish) return std::nullopt;
    const std::span<const std::uint8_t> data(publish.data);
    const auto topicLength = readUInt16BigEndian(data);
    if (!topicLength || data.size() - 2 < *topicLength) return std::nullopt;
    MQTTPublishContent content;
    content.topic = textFromUTF8OrLatin1(data.subspan(2, *topicLength));
    std::size_t offset = 2U + *topicLength;
    if (publish.qos > 0) {
        const auto identifier = readUInt16BigEndian(data.subspan(offset));
        if (!identifier) return std::nullopt;
        content.mid = *identifier;
        offset += 2;
    }
    if (protocolLevel == 5) {
        MQTTPropertyBlock block = MQTTProperties::decodeBlock(data.subspan(offset));
        if (block.size == 0 || !block.sound) return std::nullopt;
        content.properties = std::move(block.properties);
        offset += block.size;
    }
    content.payloadOffset = offset;
    content.payload = data.subspan(offset);
    return content;
}

std::optional<std::vector<std::uint8_t>> acknowledgementCodes(const MQTTMessage& acknowledgement,
                                                              std::uint8_t protocolLevel) {
    const std::span<const std::uint8_t> data(acknowledgement.data);
    std::optional<std::size_t> offset;
    if (acknowledgement.type == MQTTCommandType::suback) {
        if (data.size() < 3) return std::nullopt;
        offset = protocolLevel == 5 ? level5CodesOffset(data, nullptr) : 2;
    } else if (acknowledgement.type == MQTTCommandType::unsuback) {
        if (protocolLevel != 5) {
            if (data.size() != 2) return std::nullopt;
            return std::vector<std::uint8_t>();
        }
        offset = level5CodesOffset(data, nullptr);
    }
    if (!offset) return std::nullopt;
    return std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(*offset), data.end());
}

}  // namespace ambrell

#include "livedata/mqtt/MQTTProperties.h"

#include <string_view>

#include "platform/TextEncoding.h"

namespace ambrell {

namespace {

std::optional<std::string> utf8Text(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!platform::isValidUTF8(text)) return std::nullopt;
    return std::string(text);
}

// Reads the properties of one block, stopping at the first it cannot read.
class BlockReader {
public:
    BlockReader(std::span<const std::uint8_t> block, MQTTProperties& properties)
        : block_(block), properties_(properties) {}

    // True when the whole block was read soundly.
    bool readAll() {
        while (offset_ < block_.size()) {
            if (!readOne()) return false;
        }
        return sound_;
    }

private:
    bool readOne() {
        const std::uint8_t identifier = block_[offset_];
        value_ = block_.subspan(offset_ + 1);
        switch (identifier) {
            case 1: return readByte(properties_.payloadFormatIndicator);
            case 2: return readFour(properties_.publicationExpiryInterval);
            case 3: return readText(properties_.contentType);
            case 8: return readText(properties_.responseTopic);
            case 9: return readBinary(properties_.correlationData);
            case 11: return readVariable(properties_.subscriptionIdentifier);
            case 17: return readFour(properties_.sessionExpiryInterval);
            case 18: return readText(properties_.assignedClientIdentifier);
            case 19: return readTwo(properties_.serverKeepAlive);
            case 21: return readText(properties_.authMethod);
            case 22: return readBinary(properties_.authData);
            case 23: return readByte(properties_.requestProblemInformation);
            case 24: return readFour(properties_.willDelayInterval);
            case 25: return readByte(properties_.requestResponseInformation);
            case 26: return readText(properties_.responseInformation);
            case 28: return readText(properties_.serverReference);
            case 31: return readText(properties_.reasonString);
            case 33: return readTwo(properties_.receiveMaximum);
            case 34: return readTwo(properties_.topicAliasMaximum);
            case 35: return readTwo(properties_.topicAlias);
            case 36: return readByte(properties_.maximumQoS);
            case 37: return readByte(properties_.retainAvailable);
            case 38: return readUserProperty();
            case 39: return readFour(properties_.maximumPacketSize);
            case 40: return readByte(properties_.wildcardSubscriptionAvailable);
            case 41: return readByte(properties_.subscriptionIdentifiersAvailable);
            case 42: return readByte(properties_.sharedSubscriptionAvailable);
            default: return false;  // unassigned: the rest cannot be framed
        }
    }

    bool readByte(std::optional<std::uint8_t>& field) {
        if (value_.empty()) return false;
        field = value_[0];
        offset_ += 2;
        return true;
    }

    bool readTwo(std::optional<std::uint16_t>& field) {
        const auto value = readUInt16BigEndian(value_);
        if (!value) return false;
        field = *value;
        offset_ += 3;
        return true;
    }

    bool readFour(std::optional<std::uint32_t>& field) {
        const auto value = readUInt32BigEndian(value_);
        if (!value) return false;
        field = *value;
        offset_ += 5;
        return true;
    }

    bool readVariable(std::optional<std::uint32_t>& field) {
        const auto value = readVariableByteInteger(value_);
        if (!value) return false;
        field = value->value;
        offset_ += 1 + value->size;
        return true;
    }

    bool readText(std::optional<std::string>& field) {
        const auto bytes = readBinaryData(value_);
        if (!bytes) return false;
        if (auto text = utf8Text(*bytes)) {
            field = std::move(*text);
        } else {
            sound_ = false;
        }
        offset_ += 3 + bytes->size();
        return true;
    }

    bool readBinary(std::optional<Bytes>& field) {
        const auto bytes = readBinaryData(value_);
        if (!bytes) return false;
        field = Bytes(bytes->begin(), bytes->end());
        offset_ += 3 + bytes->size();
        return true;
    }

    bool readUserProperty() {
        const auto name = readBinaryData(value_);
        if (!name) return false;
        const auto value = readBinaryData(value_.subspan(2 + name->size()));
        if (!value) return false;
        auto nameText = utf8Text(*name);
        auto valueText = utf8Text(*value);
        if (nameText && valueText) {
            if (!properties_.userProperty) properties_.userProperty.emplace();
            (*properties_.userProperty)[std::move(*nameText)] = std::move(*valueText);
        } else {
            sound_ = false;
        }
        offset_ += 5 + name->size() + value->size();
        return true;
    }

    std::span<const std::uint8_t> block_;
    MQTTProperties& properties_;
    std::span<const std::uint8_t> value_;
    std::size_t offset_ = 0;
    bool sound_ = true;
};

}  // namespace

MQTTProperties::MQTTProperties(std::span<const std::uint8_t> data) : MQTTProperties(decodeBlock(data).properties) {}

MQTTPropertyBlock MQTTProperties::decodeBlock(std::span<const std::uint8_t> data) {
    MQTTPropertyBlock result;
    const auto length = readVariableByteInteger(data);
    if (!length || data.size() - length->size < length->value) return result;
    result.size = length->size + length->value;
    BlockReader reader(data.subspan(length->size, length->value), result.properties);
    result.sound = reader.readAll();
    return result;
}

std::int64_t MQTTProperties::getVariableLength(std::span<const std::uint8_t> data) {
    VariableByteIntegerError error{};
    const auto value = readVariableByteInteger(data, &error);
    if (value) return value->value;
    return error == VariableByteIntegerError::truncated ? -1 : -2;
}

int MQTTProperties::variableIntLength(std::int32_t value) {
    if (value < 0) return 1;
    return static_cast<int>(variableLengthSize(static_cast<std::uint32_t>(value)));
}

std::uint16_t MQTTProperties::getTwoByteInt(std::span<const std::uint8_t> data) {
    return readUInt16BigEndian(data).value_or(0);
}

std::uint32_t MQTTProperties::getFourByteInt(std::span<const std::uint8_t> data) {
    return readUInt32BigEndian(data).value_or(0);
}

std::optional<std::string> MQTTProperties::getUtf8String(std::span<const std::uint8_t> data) {
    const auto bytes = readBinaryData(data);
    if (!bytes) return std::nullopt;
    return utf8Text(*bytes);
}

std::optional<Bytes> MQTTProperties::getBinaryData(std::span<const std::uint8_t> data) {
    const auto bytes = readBinaryData(data);
    if (!bytes) return std::nullopt;
    return Bytes(bytes->begin(), bytes->end());
}

}  // namespace ambrell

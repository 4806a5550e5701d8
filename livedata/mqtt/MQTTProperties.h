#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "livedata/mqtt/MQTTData.h"

namespace ambrell {

// User properties by name. The wire allows a name twice; here a later pair
// replaces an earlier one, and writers send the pairs in name order.
using UserProperties = std::map<std::string, std::string, std::less<>>;

struct MQTTPropertyBlock;

// The properties of one received level-5 packet, decoded from its property
// block. Each field is absent until the block carries it. Writing properties
// is the packet builders' job (MQTTMessage), not this type's.
struct MQTTProperties {
    std::optional<std::uint8_t> payloadFormatIndicator;            // 1
    std::optional<std::uint32_t> publicationExpiryInterval;        // 2
    std::optional<std::string> contentType;                        // 3
    std::optional<std::string> responseTopic;                      // 8
    std::optional<Bytes> correlationData;                          // 9
    std::optional<std::uint32_t> subscriptionIdentifier;           // 11
    std::optional<std::uint32_t> sessionExpiryInterval;            // 17
    std::optional<std::string> assignedClientIdentifier;           // 18
    std::optional<std::uint16_t> serverKeepAlive;                  // 19
    std::optional<std::string> authMethod;                         // 21
    std::optional<Bytes> authData;                                 // 22
    std::optional<std::uint8_t> requestProblemInformation;         // 23
    std::optional<std::uint32_t> willDelayInterval;                // 24
    std::optional<std::uint8_t> requestResponseInformation;        // 25
    std::optional<std::string> responseInformation;                // 26
    std::optional<std::string> serverReference;                    // 28
    std::optional<std::string> reasonString;                       // 31
    std::optional<std::uint16_t> receiveMaximum;                   // 33
    std::optional<std::uint16_t> topicAliasMaximum;                // 34
    std::optional<std::uint16_t> topicAlias;                       // 35
    std::optional<std::uint8_t> maximumQoS;                        // 36
    std::optional<std::uint8_t> retainAvailable;                   // 37
    std::optional<UserProperties> userProperty;                    // 38
    std::optional<std::uint32_t> maximumPacketSize;                // 39
    std::optional<std::uint8_t> wildcardSubscriptionAvailable;     // 40
    std::optional<std::uint8_t> subscriptionIdentifiersAvailable;  // 41
    std::optional<std::uint8_t> sharedSubscriptionAvailable;       // 42

    // Every field absent.
    MQTTProperties() = default;
    // The properties of the block at the start of data (its length, then the
    // properties; bytes after the block are not looked at). Never fails: what
    // could not be read stays absent, what was read before stays set. Use
    // decodeBlock to learn whether the block was sound and how long it is.
    explicit MQTTProperties(std::span<const std::uint8_t> data);

    // Decodes the block at the start of data. Reads stay within the block's
    // declared length: a value running past it, an unassigned identifier or a
    // truncated block ends the decoding and marks the block unsound.
    [[nodiscard]] static MQTTPropertyBlock decodeBlock(std::span<const std::uint8_t> data);

    // The value readers of the block, each given the bytes from the value on.
    // A variable byte integer: its value, -1 when data ends before a byte it
    // needs, -2 when a fifth byte would be needed.
    [[nodiscard]] static std::int64_t getVariableLength(std::span<const std::uint8_t> data);
    // The size of value's encoding: 1 below 128 (negatives included), 2, 3 or
    // 4, and 0 above the largest variable byte integer.
    [[nodiscard]] static int variableIntLength(std::int32_t value);
    // Big-endian; 0 when data is too short.
    [[nodiscard]] static std::uint16_t getTwoByteInt(std::span<const std::uint8_t> data);
    [[nodiscard]] static std::uint32_t getFourByteInt(std::span<const std::uint8_t> data);
    // A count-prefixed value; none when data is shorter than the count says
    // (and, for text, when the bytes are not valid UTF-8).
    [[nodiscard]] static std::optional<std::string> getUtf8String(std::span<const std::uint8_t> data);
    [[nodiscard]] static std::optional<Bytes> getBinaryData(std::span<const std::uint8_t> data);

    friend bool operator==(const MQTTProperties&, const MQTTProperties&) = default;
};

// The outcome of decoding one property block.
struct MQTTPropertyBlock {
    MQTTProperties properties;
    // Bytes the block takes, its length field included; 0 when its length
    // cannot be read or the data ends before the block does.
    std::size_t size = 0;
    // True when every property of the block was read (assigned identifiers,
    // values within the block, text valid UTF-8).
    bool sound = false;
};

}  // namespace ambrell

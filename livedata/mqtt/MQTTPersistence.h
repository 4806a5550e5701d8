#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ambrell {

// Every field of a flow at once.
struct MQTTFlowFields {
    std::optional<std::string> clientId;
    std::optional<bool> incomingFlag;
    std::optional<bool> retainedFlag;
    std::optional<std::uint8_t> commandType;
    std::optional<std::uint8_t> qosLevel;
    std::optional<std::uint16_t> messageId;
    std::optional<std::string> topic;
    std::optional<std::vector<std::uint8_t>> data;
    std::optional<std::chrono::system_clock::time_point> deadline;
};

// One message exchange that is not finished yet, as a flow store keeps it.
// Every property may be absent. A store holds at most one flow per
// (clientId, incomingFlag, messageId).
//
// commandType: 0 for an outgoing message queued but not sent (window full);
// otherwise the packet type of the step the flow waits in: 3 (PUBLISH sent,
// waiting for PUBACK or PUBREC), 6 (PUBREL sent, waiting for PUBCOMP), 5 (an
// incoming QoS 2 PUBLISH answered with PUBREC, waiting for PUBREL).
class MQTTFlow {
public:
    using Date = std::chrono::system_clock::time_point;

    virtual ~MQTTFlow() = default;

    [[nodiscard]] virtual std::optional<std::string> clientId() const = 0;
    virtual void setClientId(std::optional<std::string> clientId) = 0;
    [[nodiscard]] virtual std::optional<bool> incomingFlag() const = 0;
    virtual void setIncomingFlag(std::optional<bool> incomingFlag) = 0;
    [[nodiscard]] virtual std::optional<bool> retainedFlag() const = 0;
    virtual void setRetainedFlag(std::optional<bool> retainedFlag) = 0;
    [[nodiscard]] virtual std::optional<std::uint8_t> commandType() const = 0;
    virtual void setCommandType(std::optional<std::uint8_t> commandType) = 0;
    [[nodiscard]] virtual std::optional<std::uint8_t> qosLevel() const = 0;
    virtual void setQosLevel(std::optional<std::uint8_t> qosLevel) = 0;
    [[nodiscard]] virtual std::optional<std::uint16_t> messageId() const = 0;
    virtual void setMessageId(std::optional<std::uint16_t> messageId) = 0;
    [[nodiscard]] virtual std::optional<std::string> topic() const = 0;
    virtual void setTopic(std::optional<std::string> topic) = 0;
    [[nodiscard]] virtual std::optional<std::vector<std::uint8_t>> data() const = 0;
    virtual void setData(std::optional<std::vector<std::uint8_t>> data) = 0;
    // When the session next acts on this step.
    [[nodiscard]] virtual std::optional<Date> deadline() const = 0;
    virtual void setDeadline(std::optional<Date> deadline) = 0;

    // All fields read together; a store that reads its records from disk
    // does it in one read rather than nine.
    [[nodiscard]] virtual MQTTFlowFields fields() const {
        return MQTTFlowFields{clientId(),  incomingFlag(), retainedFlag(), commandType(), qosLevel(),
                              messageId(), topic(),        data(),         deadline()};
    }
};

// A flow store, keyed by client identifier, direction and message
// identifier. The session is its only user; all calls are synchronous.
//
// The settings must be given before the first operation: a store may fix
// its backing at its first use.
class MQTTPersistence {
public:
    using Date = MQTTFlow::Date;

    virtual ~MQTTPersistence() = default;

    // Outgoing flows of the client that are in flight (commandType not 0).
    [[nodiscard]] virtual std::uint64_t windowSize(const std::string& clientId) = 0;

    // Stores the message as the flow of (clientId, incomingFlag, msgId),
    // overwriting one that is there. Null, storing nothing, once the
    // direction holds more than maxMessages flows, or when the store can't
    // take it (its own limits, no backing). Does not make the change durable:
    // call sync().
    virtual std::shared_ptr<MQTTFlow> storeMessageForClientId(const std::string& clientId, const std::string& topic,
                                                              const std::vector<std::uint8_t>& data, bool retainFlag,
                                                              std::uint8_t qos, std::uint16_t msgId, bool incomingFlag,
                                                              std::uint8_t commandType, Date deadline) = 0;

    // Removes the flow. A flow that is not this store's, or no longer
    // stored, is left alone.
    virtual void deleteFlow(const std::shared_ptr<MQTTFlow>& flow) = 0;
    // Removes every flow of the client, both directions.
    virtual void deleteAllFlowsForClientId(const std::string& clientId) = 0;

    // The flows of one client and direction, in the store's order.
    [[nodiscard]] virtual std::vector<std::shared_ptr<MQTTFlow>> allFlowsforClientId(const std::string& clientId,
                                                                                     bool incomingFlag) = 0;
    // How many flows the client holds in one direction. A store that keeps
    // the count as flows change answers without reading them.
    [[nodiscard]] virtual std::uint64_t flowCount(const std::string& clientId, bool incomingFlag) {
        return allFlowsforClientId(clientId, incomingFlag).size();
    }
    // The flow of the triple, or null.
    [[nodiscard]] virtual std::shared_ptr<MQTTFlow> flowforClientId(const std::string& clientId, bool incomingFlag,
                                                                    std::uint16_t messageId) = 0;

    // Makes the changes so far durable.
    virtual void sync() = 0;

    // How many outgoing flows the session lets be in flight; the store does
    // not enforce it.
    [[nodiscard]] std::uint64_t maxWindowSize() const { return maxWindowSize_; }
    void setMaxWindowSize(std::uint64_t value) { maxWindowSize_ = value; }
    // The count limit per client and direction.
    [[nodiscard]] std::uint64_t maxMessages() const { return maxMessages_; }
    void setMaxMessages(std::uint64_t value) { maxMessages_ = value; }
    // Whether flows outlive the process (only stores with a file).
    [[nodiscard]] bool persistent() const { return persistent_; }
    void setPersistent(bool value) { persistent_ = value; }
    // The size limit of the store's file, in bytes (only stores with a file).
    [[nodiscard]] std::uint64_t maxSize() const { return maxSize_; }
    void setMaxSize(std::uint64_t value) { maxSize_ = value; }

    static constexpr std::uint64_t kDefaultMaxWindowSize = 16;
    static constexpr std::uint64_t kDefaultMaxMessages = 1024;

protected:
    explicit MQTTPersistence(std::uint64_t maxSize) : maxSize_(maxSize) {}
    MQTTPersistence(const MQTTPersistence&) = default;
    MQTTPersistence& operator=(const MQTTPersistence&) = default;

private:
    std::uint64_t maxWindowSize_ = kDefaultMaxWindowSize;
    std::uint64_t maxMessages_ = kDefaultMaxMessages;
    bool persistent_ = false;
    std::uint64_t maxSize_ = 0;
};

}  // namespace ambrell
